#include "rt/paths.h"

#include <windows.h>

#include <cstring>

#include "rt/strings.h"

namespace {

constexpr DWORD PATH_BUFFER = 1024;
constexpr char TEMP_PREFIX[] = "pb";

bool IsEmpty(const char* path) { return path == nullptr || path[0] == '\0'; }

// No access rights are asked for, so files that others hold open, even
// without sharing, and folders can still be identified.
bool QueryIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  if (IsEmpty(path))
    return false;
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BOOL known = GetFileInformationByHandle(file, info);
  CloseHandle(file);
  return known != 0;
}

}  // namespace

int32_t SameFile(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!QueryIdentity(a, &x) || !QueryIdentity(b, &y))
    return 0;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

char* CreateTempFileBeside(const char* path) {
  char* start = ScratchCursor;
  char folder[PATH_BUFFER];
  char* name = nullptr;
  char temp[MAX_PATH];
  DWORD length = IsEmpty(path) ? 0 : GetFullPathNameA(path, PATH_BUFFER, folder, &name);
  if (length == 0 || length >= PATH_BUFFER)
    return ScratchPut(start, "", 0);
  if (name != nullptr)
    *name = '\0';
  if (GetTempFileNameA(folder, TEMP_PREFIX, 0, temp) == 0)
    return ScratchPut(start, "", 0);
  // A cut name would name some other file: give the file up instead.
  size_t size = std::strlen(temp);
  if (size > ScratchRoom(start)) {
    DeleteFileA(temp);
    return ScratchPut(start, "", 0);
  }
  return ScratchPut(start, temp, size);
}

bool KeepTempFileBeside(const char* path, char* name, size_t room) {
  ScratchMark mark;
  const char* made = CreateTempFileBeside(path);
  size_t size = std::strlen(made) + 1;
  bool kept = size > 1 && size <= room;
  if (kept)
    std::memcpy(name, made, size);
  else if (size > 1)
    DeleteFileA(made);
  return kept;
}

int32_t MoveReplacing(const char* from, const char* to) {
  if (IsEmpty(from) || IsEmpty(to))
    return 0;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int32_t DeletePath(const char* path) {
  return !IsEmpty(path) && DeleteFileA(path) != 0;
}
