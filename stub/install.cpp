// Installing: check the target, write the new version to a temporary file
// beside it, check that file, then swap it in and keep the old one as a
// backup. Files are streamed through fixed buffers.
#include <windows.h>

#include "rt/md5.h"
#include "stub/stub.h"

InstallState TheInstall;

namespace {

constexpr DWORD BUFFER_SIZE = 65536;
constexpr int32_t PROGRESS_STEP = 65536;
constexpr int BACKUP_TRIES = 9;

struct Reader {
  HANDLE file;
  DWORD position;
  DWORD length;
  bool ended;
  bool failed;
  unsigned char bytes[BUFFER_SIZE];
};

struct Writer {
  HANDLE file;
  DWORD length;
  DWORD error;  // the first failure's code, 0 while all is well
  unsigned char bytes[BUFFER_SIZE];
};

Reader OldFile;
Reader Stream;
Writer NewFile;
char MessageText[1024];

void StartReader(Reader* r, HANDLE file) {
  r->file = file;
  r->position = r->length = 0;
  r->ended = r->failed = false;
}

// Reads the next bufferful; false at the end or after a read error.
bool Refill(Reader* r) {
  r->position = r->length = 0;
  if (!r->ended && !ReadFile(r->file, r->bytes, BUFFER_SIZE, &r->length, nullptr))
    r->failed = true;
  r->ended = r->failed || r->length == 0;
  return !r->ended;
}

// The next byte, or -1 at the end or after a read error (failed says which).
int NextByte(Reader* r) {
  if (r->position == r->length && !Refill(r))
    return -1;
  return r->bytes[r->position++];
}

void CloseIfOpen(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
}

// Never 0, so that a failure always counts as one.
DWORD WriteError() {
  DWORD error = GetLastError();
  return error != 0 ? error : ERROR_WRITE_FAULT;
}

// A write that stops short without an error means the disk is full.
bool FlushWriter(Writer* w) {
  DWORD written = 0;
  if (w->error == 0 && w->length > 0) {
    if (!WriteFile(w->file, w->bytes, w->length, &written, nullptr))
      w->error = WriteError();
    else if (written != w->length)
      w->error = ERROR_DISK_FULL;
  }
  w->length = 0;
  return w->error == 0;
}

bool PutByte(Writer* w, int byte) {
  if (w->length == BUFFER_SIZE && !FlushWriter(w))
    return false;
  w->bytes[w->length++] = static_cast<unsigned char>(byte);
  return true;
}

HANDLE OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The file's MD5 as 32 lowercase hexadecimal digits; false when unreadable.
bool FileFingerprint(const char* path, char hex[33]) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  Md5Context context;
  Md5Init(&context);
  StartReader(&OldFile, file);
  while (Refill(&OldFile))
    Md5Update(&context, OldFile.bytes, OldFile.length);
  CloseHandle(file);
  unsigned char digest[16];
  Md5Final(digest, &context);
  Md5DigestText(digest, hex);
  return !OldFile.failed;
}

bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    a++;
    b++;
  }
  return *a == *b;
}

enum FileMatch { MATCH_NONE, MATCH_YES, MATCH_UNREADABLE };

// Whether the file has the size and, unless the fingerprint is empty, the MD5.
FileMatch MatchesVersion(const char* path, int64_t size, int32_t wantSize,
                         const char* wantFingerprint) {
  if (size != wantSize)
    return MATCH_NONE;
  if (wantFingerprint[0] == '\0')
    return MATCH_YES;
  char hex[33];
  if (!FileFingerprint(path, hex))
    return MATCH_UNREADABLE;
  return SameText(hex, wantFingerprint) ? MATCH_YES : MATCH_NONE;
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
  const char* name = ThePayload.line[LINE_OLD_NAME];
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
  FileMatch patched = line[LINE_NEW_FINGERPRINT][0] == '\0'
                          ? MATCH_NONE
                          : MatchesVersion(TheInstall.target, size, ThePayload.newSize,
                                           line[LINE_NEW_FINGERPRINT]);
  if (patched == MATCH_YES)
    return STUB_ALREADY_PATCHED;
  FileMatch old = patched == MATCH_UNREADABLE
                      ? MATCH_UNREADABLE
                      : MatchesVersion(TheInstall.target, size, ThePayload.oldSize,
                                       line[LINE_OLD_FINGERPRINT]);
  if (old == MATCH_UNREADABLE)
    return STUB_TARGET_UNREADABLE;
  return old == MATCH_YES ? STUB_DONE : STUB_WRONG_VERSION;
}

StubResult FailureOf(DWORD error, StubResult otherwise) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? STUB_DISK_FULL
                                                                     : otherwise;
}

StubResult WriteFailure() {
  return FailureOf(NewFile.error, STUB_WRITE_FAILED);
}

// One record per position of the new file; the stream must end with the last.
StubResult Decode(ProgressReport progress) {
  int32_t newSize = ThePayload.newSize;
  for (int32_t i = 0; i < newSize; i++) {
    int old = NextByte(&OldFile);
    if (OldFile.failed)
      return STUB_TARGET_UNREADABLE;
    int record = NextByte(&Stream);
    int byte = record == 0 ? (old < 0 ? 0 : old) : record == 1 ? NextByte(&Stream) : -1;
    if (byte < 0)
      return STUB_PATCH_DAMAGED;
    if (!PutByte(&NewFile, byte))
      return WriteFailure();
    if (progress != nullptr && (i + 1) % PROGRESS_STEP == 0)
      progress(static_cast<int32_t>((i + 1) * static_cast<int64_t>(100) / newSize));
  }
  if (NextByte(&Stream) >= 0 || Stream.failed)
    return STUB_PATCH_DAMAGED;
  if (FlushWriter(&NewFile) && !FlushFileBuffers(NewFile.file))
    NewFile.error = WriteError();
  if (NewFile.error != 0)
    return WriteFailure();
  return STUB_DONE;
}

bool SeekStream() {
  LARGE_INTEGER offset;
  offset.QuadPart = ThePayload.streamOffset;
  return Stream.file != INVALID_HANDLE_VALUE &&
         SetFilePointerEx(Stream.file, offset, nullptr, FILE_BEGIN);
}

// Writes the new version to TheInstall.temporary, created beside the target.
StubResult WriteNewVersion(ProgressReport progress) {
  if (GetTempFileNameA(TheInstall.folder, "pat", 0, TheInstall.temporary) == 0)
    return FailureOf(GetLastError(), STUB_FOLDER_NOT_WRITABLE);
  NewFile.file = CreateFileA(TheInstall.temporary, GENERIC_WRITE, 0, nullptr,
                             TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  NewFile.length = NewFile.error = 0;
  StartReader(&OldFile, OpenForReading(TheInstall.target));
  StartReader(&Stream, OpenForReading(ThePayload.patchPath));
  StubResult result = STUB_DONE;
  if (OldFile.file == INVALID_HANDLE_VALUE)
    result = STUB_TARGET_UNREADABLE;
  else if (!SeekStream())
    result = STUB_PATCH_DAMAGED;
  else if (NewFile.file == INVALID_HANDLE_VALUE)
    result = STUB_FOLDER_NOT_WRITABLE;
  else
    result = Decode(progress);
  CloseIfOpen(NewFile.file);
  CloseIfOpen(OldFile.file);
  CloseIfOpen(Stream.file);
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
    DeleteFileA(TheInstall.backup);
    return FailureOf(error, STUB_WRITE_FAILED);
  }
  if (MoveFileExA(TheInstall.temporary, TheInstall.target,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return STUB_DONE;
  DeleteFileA(TheInstall.backup);
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
  char hex[33];
  if (result == STUB_DONE && ThePayload.line[LINE_NEW_FINGERPRINT][0] != '\0' &&
      !(FileFingerprint(TheInstall.temporary, hex) &&
        SameText(hex, ThePayload.line[LINE_NEW_FINGERPRINT])))
    result = STUB_RESULT_MISMATCH;
  if (result == STUB_DONE)
    result = SwapIn();
  if (result != STUB_DONE && TheInstall.temporary[0] != '\0')
    DeleteFileA(TheInstall.temporary);
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
