// Installing: check the target, write the new version to a temporary file
// beside it, check that file, then swap it in and keep the old one as a
// backup. The stream is decoded by the shared reader.
#include <windows.h>

#include "rt/fingerprints.h"
#include "rt/paths.h"
#include "rt/strings.h"
#include "stub/stub.h"

InstallState TheInstall;

namespace {

constexpr int BACKUP_TRIES = 9;
// Names made beside the target must fit where it does: a backup adds
// ".bak9", and the system makes a temporary file's name, eleven bytes
// longer than its folder's, only in folders of up to MAX_PATH - 14 bytes.
constexpr int32_t BACKUP_SUFFIX_LIMIT = 5;
constexpr int32_t TEMP_FOLDER_LIMIT = MAX_PATH - 14;

char MessageText[1024];

// In StubResult order; %s is the target, or for STUB_DONE the backup.
constexpr const char* MESSAGES[] = {
    "The update was installed.\n\nThe previous version was kept as\n%s",
    "Unknown command line. Use /S to install without asking and /D=<folder> to choose "
    "the folder.",
    "This patch file is damaged or incomplete. Please get a new copy of it.",
    "%s was not found.\n\nPlease choose the folder where the program is installed.",
    "%s is not the version that this patch updates.",
    "%s is already up to date.",
    "%s could not be read. Close any program that uses it and try again.",
    "The folder of %s cannot be written to. You may need to run the patch as an "
    "administrator.",
    "There is not enough free disk space beside %s.",
    "The updated %s could not be written to the disk.",
    "The updated %s did not come out right. The patch may be damaged.",
    "%s could not be replaced. Close any program that uses it and try again.",
    "The window could not be opened.",
    "The path of %s is too long to keep a backup and a temporary file beside it. Move "
    "the program to a folder with a shorter path.",
};
static_assert(sizeof MESSAGES / sizeof *MESSAGES == STUB_PATH_TOO_LONG + 1);

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

enum FileMatch { FILE_DIFFERS, FILE_MATCHES, FILE_UNREADABLE };

// Whether the file's MD5 is the fingerprint; an empty fingerprint matches
// any file. Only an unreadable file has no fingerprint text.
FileMatch MatchesFingerprint(const char* path, const char* fingerprint) {
  if (fingerprint[0] == '\0')
    return FILE_MATCHES;
  ScratchMark mark;
  const char* hex = FileMd5Hex(path);
  if (hex[0] == '\0')
    return FILE_UNREADABLE;
  return StringsEqual(hex, fingerprint) ? FILE_MATCHES : FILE_DIFFERS;
}

FileMatch MatchesVersion(const char* path, int64_t size, int32_t wantSize,
                         const char* wantFingerprint) {
  return size == wantSize ? MatchesFingerprint(path, wantFingerprint) : FILE_DIFFERS;
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
  const char* name = ThePatch.facts.fileName;
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
  const char* const* line = ThePatch.line;
  const PayloadFacts& facts = ThePatch.facts;
  FileMatch patched = line[LINE_NEW_FINGERPRINT][0] == '\0'
                          ? FILE_DIFFERS
                          : MatchesVersion(TheInstall.target, size, facts.newSize,
                                           line[LINE_NEW_FINGERPRINT]);
  if (patched == FILE_MATCHES)
    return STUB_ALREADY_PATCHED;
  FileMatch old = patched == FILE_UNREADABLE
                      ? FILE_UNREADABLE
                      : MatchesVersion(TheInstall.target, size, facts.oldSize,
                                       line[LINE_OLD_FINGERPRINT]);
  if (old == FILE_UNREADABLE)
    return STUB_TARGET_UNREADABLE;
  return old == FILE_MATCHES ? STUB_DONE : STUB_WRONG_VERSION;
}

// Decodes into out; a read error in the patch means the same to the user
// as damage.
StubResult WriteDecoded(HANDLE oldFile, HANDLE out, ProgressReport progress) {
  DWORD writeError = 0;
  switch (DecodeNewVersion(oldFile, out, progress, &writeError)) {
    case READ_DONE:
      return FlushFileBuffers(out) ? STUB_DONE
                                   : FailureOf(GetLastError(), STUB_WRITE_FAILED);
    case READ_OLD_UNREADABLE:
      return STUB_TARGET_UNREADABLE;
    case READ_WRITE_FAILED:
      return FailureOf(writeError, STUB_WRITE_FAILED);
    default:
      return STUB_PATCH_DAMAGED;
  }
}

// Writes the new version to TheInstall.temporary, created beside the target.
StubResult WriteNewVersion(ProgressReport progress) {
  // When no file can be made, the system's last error says why.
  if (!KeepTempFileBeside(TheInstall.target, TheInstall.temporary, PATH_LIMIT))
    return FailureOf(GetLastError(), STUB_FOLDER_NOT_WRITABLE);
  HANDLE out = CreateFileA(TheInstall.temporary, GENERIC_WRITE, 0, nullptr,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE oldFile = OpenForReading(TheInstall.target);
  StubResult result = oldFile == INVALID_HANDLE_VALUE ? STUB_TARGET_UNREADABLE
                      : out == INVALID_HANDLE_VALUE
                          ? STUB_FOLDER_NOT_WRITABLE
                          : WriteDecoded(oldFile, out, progress);
  CloseIfOpen(out);
  CloseIfOpen(oldFile);
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
  if (lstrlenA(TheInstall.target) + BACKUP_SUFFIX_LIMIT >= PATH_LIMIT ||
      lstrlenA(TheInstall.folder) > TEMP_FOLDER_LIMIT)
    return STUB_PATH_TOO_LONG;
  result = WriteNewVersion(progress);
  if (result == STUB_DONE &&
      MatchesFingerprint(TheInstall.temporary, ThePatch.line[LINE_NEW_FINGERPRINT]) !=
          FILE_MATCHES)
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
  const char* name = result == STUB_DONE ? TheInstall.backup : TheInstall.target;
  int n = wsprintfA(MessageText, MESSAGES[result], name);
  if (result > STUB_BAD_COMMAND_LINE && result != STUB_ALREADY_PATCHED &&
      result != STUB_NO_WINDOW && n > 0)
    lstrcpynA(MessageText + n, "\n\nNothing was changed.", sizeof MessageText - n);
  return MessageText;
}
