// Installing: check the target, write the new version to a temporary file
// beside it, check that file, then swap it in and keep the old one as a
// backup. The stream is decoded through fixed buffers.
#include <windows.h>

#include "format/compact.h"
#include "format/stream.h"
#include "rt/fingerprints.h"
#include "rt/paths.h"
#include "rt/strings.h"
#include "stub/stub.h"

InstallState TheInstall;

namespace {

constexpr DWORD BUFFER_SIZE = 65536;
constexpr int BACKUP_TRIES = 9;

unsigned char OldBytes[BUFFER_SIZE];
unsigned char StreamBytes[BUFFER_SIZE];
unsigned char NewBytes[BUFFER_SIZE];
char MessageText[1024];

HANDLE OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

void CloseIfOpen(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
}

StubResult FailureOf(DWORD error, StubResult otherwise) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? STUB_DISK_FULL
                                                                     : otherwise;
}

// A write that stops short without an error means the disk is full.
StubResult WriteAll(HANDLE file, const unsigned char* bytes, DWORD count) {
  DWORD written = 0;
  if (count > 0 && !WriteFile(file, bytes, count, &written, nullptr))
    return FailureOf(GetLastError(), STUB_WRITE_FAILED);
  return written == count ? STUB_DONE : STUB_DISK_FULL;
}

// The next bufferful; false after a read error.
bool ReadMore(HANDLE file, unsigned char* bytes, const unsigned char** at,
              int32_t* count) {
  DWORD read = 0;
  *at = bytes;
  *count = 0;
  if (!ReadFile(file, bytes, BUFFER_SIZE, &read, nullptr))
    return false;
  *count = static_cast<int32_t>(read);
  return true;
}

enum FileMatch { MATCH_NONE, MATCH_YES, MATCH_UNREADABLE };

// Whether the file's MD5 is the fingerprint; an empty fingerprint matches
// any file. Only an unreadable file has no fingerprint text.
FileMatch MatchesFingerprint(const char* path, const char* fingerprint) {
  if (fingerprint[0] == '\0')
    return MATCH_YES;
  ScratchMark mark;
  const char* hex = FileMd5Hex(path);
  if (hex[0] == '\0')
    return MATCH_UNREADABLE;
  return StringsEqual(hex, fingerprint) ? MATCH_YES : MATCH_NONE;
}

FileMatch MatchesVersion(const char* path, int64_t size, int32_t wantSize,
                         const char* wantFingerprint) {
  return size == wantSize ? MatchesFingerprint(path, wantFingerprint) : MATCH_NONE;
}

// The folder's full path, then that with the old file's name; false when
// too long.
bool NameTarget(const char* folder) {
  char* part = nullptr;
  DWORD n = GetFullPathNameA(folder[0] != '\0' ? folder : ".", PATH_LIMIT,
                             TheInstall.folder, &part);
  if (n == 0 || n >= static_cast<DWORD>(PATH_LIMIT) - 1)
    return false;
  lstrcpyA(TheInstall.target, TheInstall.folder);
  if (TheInstall.target[n - 1] != '\\')
    TheInstall.target[n++] = '\\';
  const char* name = ThePayload.facts.fileName;
  while (*name != '\0' && n < static_cast<DWORD>(PATH_LIMIT) - 1)
    TheInstall.target[n++] = *name++;
  TheInstall.target[n] = '\0';
  return *name == '\0';
}

StubResult CheckTarget() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(TheInstall.target, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return STUB_TARGET_MISSING;
  int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const char* const* line = ThePayload.line;
  const PayloadFacts& facts = ThePayload.facts;
  FileMatch patched = line[LINE_NEW_FINGERPRINT][0] == '\0'
                          ? MATCH_NONE
                          : MatchesVersion(TheInstall.target, size, facts.newSize,
                                           line[LINE_NEW_FINGERPRINT]);
  if (patched == MATCH_YES)
    return STUB_ALREADY_PATCHED;
  FileMatch old = patched == MATCH_UNREADABLE
                      ? MATCH_UNREADABLE
                      : MatchesVersion(TheInstall.target, size, facts.oldSize,
                                       line[LINE_OLD_FINGERPRINT]);
  if (old == MATCH_UNREADABLE)
    return STUB_TARGET_UNREADABLE;
  return old == MATCH_YES ? STUB_DONE : STUB_WRONG_VERSION;
}

// Feeds the decoder until it ends, writing what it decodes; the old file is
// read only as far as the new one needs it.
StubResult Decode(HANDLE oldFile, HANDLE stream, HANDLE out, ProgressReport progress) {
  DiffDecoder decoder;
  StartDiffDecoder(&decoder, ThePayload.facts.oldSize, ThePayload.facts.newSize);
  DiffChunk chunk{};
  DiffStatus status = DIFF_MORE;
  while (status == DIFF_MORE) {
    bool oldNeeded =
        decoder.position < decoder.oldSize && decoder.position < decoder.newSize;
    if (chunk.oldCount == 0 && oldNeeded &&
        (!ReadMore(oldFile, OldBytes, &chunk.old, &chunk.oldCount) ||
         chunk.oldCount == 0))
      return STUB_TARGET_UNREADABLE;
    if (chunk.streamCount == 0 && !chunk.streamEnds) {
      if (!ReadMore(stream, StreamBytes, &chunk.stream, &chunk.streamCount))
        return STUB_PATCH_DAMAGED;
      chunk.streamEnds = chunk.streamCount == 0;
    }
    chunk.out = NewBytes;
    chunk.outRoom = BUFFER_SIZE;
    status = DecodeDiff(&decoder, &chunk);
    StubResult written = WriteAll(out, NewBytes, BUFFER_SIZE - chunk.outRoom);
    if (written != STUB_DONE)
      return written;
    if (progress != nullptr)
      progress(MulDiv(decoder.position, 100, decoder.newSize));
  }
  if (status != DIFF_DONE)
    return STUB_PATCH_DAMAGED;
  return FlushFileBuffers(out) ? STUB_DONE : FailureOf(GetLastError(), STUB_WRITE_FAILED);
}

// The compact decoder's view of the three files.
struct CompactFiles {
  HANDLE old;
  HANDLE stream;
  HANDLE out;
  const unsigned char* at;  // the stream bytes not yet taken
  int32_t count;
  StubResult written;  // the first write failure, STUB_DONE while none
};

// Both in .bss: the decoder's model and buffers are large.
CompactDecoder TheCompactDecoder;
CompactFiles TheCompactFiles;

// A read error ends the stream like its end does: either way it is damaged.
int NextCompactByte(void* context) {
  CompactFiles* f = static_cast<CompactFiles*>(context);
  if (f->count == 0)
    ReadMore(f->stream, StreamBytes, &f->at, &f->count);
  if (f->count == 0)
    return -1;
  f->count--;
  return *f->at++;
}

bool ReadCompactOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  CompactFiles* f = static_cast<CompactFiles*>(context);
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD read = 0;
  return SetFilePointerEx(f->old, at, nullptr, FILE_BEGIN) &&
         ReadFile(f->old, bytes, static_cast<DWORD>(count), &read, nullptr) &&
         read == static_cast<DWORD>(count);
}

bool WriteCompactNew(void* context, const uint8_t* bytes, int32_t count) {
  CompactFiles* f = static_cast<CompactFiles*>(context);
  f->written = WriteAll(f->out, bytes, static_cast<DWORD>(count));
  return f->written == STUB_DONE;
}

StubResult DecodeCompactStream(HANDLE oldFile, HANDLE stream, HANDLE out,
                               ProgressReport progress) {
  TheCompactFiles = CompactFiles{oldFile, stream, out, nullptr, 0, STUB_DONE};
  CompactIo io{&TheCompactFiles, NextCompactByte, ReadCompactOld, WriteCompactNew,
               progress};
  switch (DecodeCompact(&TheCompactDecoder, &io, ThePayload.facts.oldSize,
                        ThePayload.facts.newSize)) {
    case COMPACT_DONE:
      return FlushFileBuffers(out) ? STUB_DONE
                                   : FailureOf(GetLastError(), STUB_WRITE_FAILED);
    case COMPACT_OLD_UNREADABLE:
      return STUB_TARGET_UNREADABLE;
    case COMPACT_WRITE_FAILED:
      return TheCompactFiles.written;
    default:
      return STUB_PATCH_DAMAGED;
  }
}

bool SeekStream(HANDLE stream) {
  LARGE_INTEGER offset;
  offset.QuadPart = ThePayload.streamOffset;
  return stream != INVALID_HANDLE_VALUE &&
         SetFilePointerEx(stream, offset, nullptr, FILE_BEGIN);
}

// Writes the new version to TheInstall.temporary, created beside the target.
StubResult WriteNewVersion(ProgressReport progress) {
  // When no file can be made, the system's last error says why.
  if (!KeepTempFileBeside(TheInstall.target, TheInstall.temporary, PATH_LIMIT))
    return FailureOf(GetLastError(), STUB_FOLDER_NOT_WRITABLE);
  HANDLE out = CreateFileA(TheInstall.temporary, GENERIC_WRITE, 0, nullptr,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE oldFile = OpenForReading(TheInstall.target);
  HANDLE stream = OpenForReading(ThePayload.patchPath);
  StubResult result = STUB_DONE;
  if (oldFile == INVALID_HANDLE_VALUE)
    result = STUB_TARGET_UNREADABLE;
  else if (!SeekStream(stream))
    result = STUB_PATCH_DAMAGED;
  else if (out == INVALID_HANDLE_VALUE)
    result = STUB_FOLDER_NOT_WRITABLE;
  else if (ThePayload.compact)
    result = DecodeCompactStream(oldFile, stream, out, progress);
  else
    result = Decode(oldFile, stream, out, progress);
  CloseIfOpen(out);
  CloseIfOpen(oldFile);
  CloseIfOpen(stream);
  return result;
}

// The first of "<target>.bak", "<target>.bak2" ... that does not exist yet.
bool NameBackup() {
  for (int i = 1; i <= BACKUP_TRIES; i++) {
    wsprintfA(TheInstall.backup, i == 1 ? "%s.bak" : "%s.bak%d", TheInstall.target, i);
    if (GetFileAttributesA(TheInstall.backup) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
      return true;
  }
  return false;
}

// The backup is a copy, so that the target is replaced in one rename and is
// never missing, even when that rename fails.
StubResult SwapIn() {
  if (!NameBackup())
    return STUB_REPLACE_FAILED;
  if (!CopyFileA(TheInstall.target, TheInstall.backup, TRUE)) {
    DWORD error = GetLastError();
    DeletePath(TheInstall.backup);
    return FailureOf(error, STUB_WRITE_FAILED);
  }
  if (MoveReplacing(TheInstall.temporary, TheInstall.target))
    return STUB_DONE;
  DeletePath(TheInstall.backup);
  return STUB_REPLACE_FAILED;
}

}  // namespace

StubResult InstallPatch(const char* folder, ProgressReport progress) {
  TheInstall.backup[0] = TheInstall.temporary[0] = '\0';
  if (!NameTarget(folder))
    return STUB_TARGET_MISSING;
  StubResult result = CheckTarget();
  if (result != STUB_DONE)
    return result;
  result = WriteNewVersion(progress);
  if (result == STUB_DONE &&
      MatchesFingerprint(TheInstall.temporary, ThePayload.line[LINE_NEW_FINGERPRINT]) !=
          MATCH_YES)
    result = STUB_RESULT_MISMATCH;
  if (result == STUB_DONE)
    result = SwapIn();
  if (result != STUB_DONE && TheInstall.temporary[0] != '\0')
    DeletePath(TheInstall.temporary);
  if (result == STUB_DONE && progress != nullptr)
    progress(100);
  return result;
}

const char* ResultMessage(StubResult result) {
  const char* text = "";
  switch (result) {
    case STUB_DONE:
      text = "The update was installed.\n\nThe previous version was kept as\n%s";
      break;
    case STUB_BAD_COMMAND_LINE:
      text =
          "Unknown command line. Use /S to install without asking and "
          "/D=<folder> to choose the folder.";
      break;
    case STUB_PATCH_DAMAGED:
      text = "This patch file is damaged or incomplete. Please get a new copy of it.";
      break;
    case STUB_TARGET_MISSING:
      text =
          "%s was not found.\n\nPlease choose the folder where the program is installed.";
      break;
    case STUB_WRONG_VERSION:
      text = "%s is not the version that this patch updates.";
      break;
    case STUB_ALREADY_PATCHED:
      text = "%s is already up to date.";
      break;
    case STUB_TARGET_UNREADABLE:
      text = "%s could not be read. Close any program that uses it and try again.";
      break;
    case STUB_FOLDER_NOT_WRITABLE:
      text =
          "The folder of %s cannot be written to. You may need to run the patch "
          "as an administrator.";
      break;
    case STUB_DISK_FULL:
      text = "There is not enough free disk space beside %s.";
      break;
    case STUB_WRITE_FAILED:
      text = "The updated %s could not be written to the disk.";
      break;
    case STUB_RESULT_MISMATCH:
      text = "The updated %s did not come out right. The patch may be damaged.";
      break;
    case STUB_REPLACE_FAILED:
      text = "%s could not be replaced. Close any program that uses it and try again.";
      break;
    case STUB_NO_WINDOW:
      text = "The window could not be opened.";
      break;
  }
  const char* name = result == STUB_DONE ? TheInstall.backup : TheInstall.target;
  int n = wsprintfA(MessageText, text, name);
  if (result > STUB_BAD_COMMAND_LINE && result < STUB_NO_WINDOW &&
      result != STUB_ALREADY_PATCHED && n > 0)
    lstrcpynA(MessageText + n, "\n\nNothing was changed.", sizeof MessageText - n);
  return MessageText;
}
