#include "rt/files.h"

#include <windows.h>

#include <cstring>

#include "rt/strings.h"

SlotTable FileSlotTable = {10, 10, 1, sizeof(HANDLE), 0, nullptr, nullptr};

namespace {

HANDLE CurrentFile;

constexpr size_t PATH_BUFFER_SIZE = 1024;

enum OpenMode { OPEN_READ = 1, OPEN_UPDATE, OPEN_CREATE, OPEN_EXCLUSIVE };

struct OpenArguments {
  DWORD access;
  DWORD share;
  DWORD disposition;
  DWORD attributes;
};

// Indexed by mode - 1.
constexpr OpenArguments MODE_ARGUMENTS[] = {
    {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
    {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL},
    {GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL},
    {GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
};

// CREATE_ALWAYS is refused for a hidden or system file; truncating it in
// place still empties it.
constexpr OpenArguments CREATE_RETRY = {GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING, 0};

HANDLE CreateWith(const char* path, const OpenArguments& a) {
  HANDLE h = CreateFileA(path, a.access, a.share, nullptr, a.disposition, a.attributes, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// Null when the path cannot be opened (a null path never can).
HANDLE OpenPath(const char* path, OpenMode mode) {
  if (path == nullptr)
    return nullptr;
  HANDLE file = CreateWith(path, MODE_ARGUMENTS[mode - 1]);
  if (file == nullptr && mode == OPEN_CREATE)
    file = CreateWith(path, CREATE_RETRY);
  return file;
}

HANDLE* FindFile(int32_t number) {
  return static_cast<HANDLE*>(SlotFind(&FileSlotTable, number));
}

// The new file is opened before the one under the number is closed, so a
// failed open keeps the old file.
int32_t OpenFileSlot(int32_t number, const char* path, OpenMode mode) {
  CurrentFile = OpenPath(path, mode);
  if (CurrentFile == nullptr)
    return 0;

  auto* record = static_cast<HANDLE*>(SlotAcquire(&FileSlotTable, number));
  if (record == nullptr) {
    CloseHandle(CurrentFile);
    CurrentFile = nullptr;
    return 0;
  }
  if (*record != nullptr)
    CloseHandle(*record);
  *record = CurrentFile;
  if (number == -1)
    return AutomaticNumber(record);
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(CurrentFile));
}

// One read; the count of bytes delivered (0 on error or at the end).
DWORD ReadOnce(HANDLE file, void* buffer, DWORD count) {
  DWORD delivered = 0;
  if (!ReadFile(file, buffer, count, &delivered, nullptr))
    return 0;
  return delivered;
}

DWORD WriteOnce(HANDLE file, const void* buffer, DWORD count) {
  DWORD written = 0;
  if (!WriteFile(file, buffer, count, &written, nullptr))
    return 0;
  return written;
}

// Reads into a zeroed value, so a short read leaves the high bytes zero.
template <typename Value>
Value ReadValue() {
  Value value{};
  if (CurrentFile != nullptr)
    ReadOnce(CurrentFile, &value, sizeof value);
  return value;
}

void StepBack(HANDLE file) { SetFilePointer(file, -1, nullptr, FILE_CURRENT); }

bool IsLineEnd(char c) { return c == '\0' || c == '\n' || c == '\r'; }

// After a CR an LF belongs to the line end; any other byte is given back.
void ConsumeLfAfterCr() {
  char next;
  if (ReadOnce(CurrentFile, &next, 1) == 1 && next != '\n')
    StepBack(CurrentFile);
}

int32_t DriveRootSize(char* path, size_t length) {
  if (length == 2) {
    path[2] = '\\';
    path[3] = '\0';
  }
  return GetDriveTypeA(path) > DRIVE_NO_ROOT_DIR ? FILE_SIZE_DIRECTORY : FILE_SIZE_MISSING;
}

int32_t FoundSize(const char* pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE)
    return FILE_SIZE_MISSING;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    return FILE_SIZE_DIRECTORY;
  return static_cast<int32_t>(found.nFileSizeLow);
}

}  // namespace

bool InitFileSlots() {
  CurrentFile = nullptr;
  return SlotTableCreate(&FileSlotTable);
}

int32_t QueryFileSize(const char* path) {
  if (path == nullptr || path[0] == '\0')
    return FILE_SIZE_MISSING;
  size_t length = strnlen(path, PATH_BUFFER_SIZE);
  if (length == PATH_BUFFER_SIZE)
    return FILE_SIZE_MISSING;
  char work[PATH_BUFFER_SIZE];
  std::memcpy(work, path, length + 1);

  if ((length == 2 || length == 3) && work[1] == ':')
    return DriveRootSize(work, length);
  if (work[length - 1] == '\\')
    work[length - 1] = '\0';
  return FoundSize(work);
}

FileStamp QueryFileStamp(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || !GetFileAttributesExA(path, GetFileExInfoStandard, &data))
    return {};
  return {(uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
          (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
              data.ftLastWriteTime.dwLowDateTime};
}

int32_t OpenForRead(int32_t number, const char* path) {
  return OpenFileSlot(number, path, OPEN_READ);
}

int32_t OpenForUpdate(int32_t number, const char* path) {
  return OpenFileSlot(number, path, OPEN_UPDATE);
}

int32_t CreateForWrite(int32_t number, const char* path) {
  return OpenFileSlot(number, path, OPEN_CREATE);
}

int32_t OpenExclusive(int32_t number, const char* path) {
  return OpenFileSlot(number, path, OPEN_EXCLUSIVE);
}

// Closing the CurrentFile also clears it: its handle value may be reused by
// the next open, and a stray read or write must not land in another file.
void CloseFileSlot(int32_t number) {
  if (number == -1)
    return;
  HANDLE* record = FindFile(number);
  if (record == nullptr)
    return;
  if (*record == CurrentFile)
    CurrentFile = nullptr;
  CloseHandle(*record);
  SlotRelease(&FileSlotTable, number);
}

void CloseAllFiles() {
  ForEachAutomaticNumber(&FileSlotTable, CloseFileSlot);
  for (int32_t n = 0; n < FileSlotTable.capacity; n++)
    CloseFileSlot(n);
}

int32_t SelectFile(int32_t number) {
  HANDLE* record = FindFile(number);
  if (record != nullptr)
    CurrentFile = *record;
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(CurrentFile));
}

int32_t FileAtEnd(int32_t number) {
  HANDLE* record = FindFile(number);
  if (record == nullptr)
    return 0;
  char probe;
  if (ReadOnce(*record, &probe, 1) != 1)
    return -1;
  StepBack(*record);
  return 0;
}

void SetFilePosition(int32_t position) {
  if (CurrentFile != nullptr)
    SetFilePointer(CurrentFile, position, nullptr, FILE_BEGIN);
}

int32_t GetFilePosition() {
  if (CurrentFile == nullptr)
    return -1;
  return static_cast<int32_t>(SetFilePointer(CurrentFile, 0, nullptr, FILE_CURRENT));
}

int32_t GetFileLength() {
  if (CurrentFile == nullptr)
    return -1;
  return static_cast<int32_t>(GetFileSize(CurrentFile, nullptr));
}

int32_t ReadFileBlock(void* buffer, int32_t count) {
  if (CurrentFile == nullptr || count <= 0)
    return 0;
  return static_cast<int32_t>(ReadOnce(CurrentFile, buffer, count));
}

int32_t WriteFileBlock(const void* buffer, int32_t count) {
  if (CurrentFile == nullptr || count <= 0)
    return 0;
  return static_cast<int32_t>(WriteOnce(CurrentFile, buffer, count));
}

int32_t FlushCurrentFile() {
  return CurrentFile != nullptr && FlushFileBuffers(CurrentFile) ? 1 : 0;
}

int32_t ReadFileByte() { return ReadValue<int8_t>(); }
int32_t ReadFileInt16() { return ReadValue<int16_t>(); }
int32_t ReadFileInt32() { return ReadValue<int32_t>(); }
float ReadFileFloat32() { return ReadValue<float>(); }

int32_t WriteFileByte(int32_t value) {
  if (CurrentFile == nullptr)
    return 0;
  auto byte = static_cast<unsigned char>(value);
  return static_cast<int32_t>(WriteOnce(CurrentFile, &byte, 1));
}

// Bytes beyond the room left in the ScratchBuffer are read but not kept, so
// the next call still starts on the next line.
char* ReadTextLine() {
  char* start = ScratchCursor;
  size_t room = ScratchRoom(start);
  size_t length = 0;
  char c;
  while (CurrentFile != nullptr && ReadOnce(CurrentFile, &c, 1) == 1) {
    if (IsLineEnd(c)) {
      if (c == '\r')
        ConsumeLfAfterCr();
      break;
    }
    if (length < room)
      start[length++] = c;
  }
  return ScratchPut(start, start, length);
}

int32_t WriteTextLine(const char* text) {
  if (CurrentFile == nullptr)
    return 0;
  DWORD total = 0;
  if (text != nullptr && text[0] != '\0')
    total += WriteOnce(CurrentFile, text, static_cast<DWORD>(std::strlen(text)));
  total += WriteOnce(CurrentFile, "\r\n", 2);
  return static_cast<int32_t>(total);
}
