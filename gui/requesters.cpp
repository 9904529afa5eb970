#include "gui/requesters.h"

#include <cstddef>
#include <cstring>

#include "gui/requesters_internal.h"
#include "rt/heaps.h"
#include "rt/strings.h"

// These need <windows.h> first.
#include <commctrl.h>
#include <commdlg.h>

namespace {

// The record without the Windows 2000 fields, which every version accepts.
constexpr DWORD OPENFILENAME_400_SIZE = 76;
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) ==
              OPENFILENAME_400_SIZE);

constexpr DWORD DIALOG_FLAGS =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

// Holds the initial file name on entry to a file dialog and its answer.
char DialogPathBuffer[DIALOG_PATH_SIZE];
// Multi-select answers: the folder (with its backslash) and the position of
// the next name in DialogPathBuffer, 0 when no name remains.
char MultiSelectFolder[MULTI_SELECT_FOLDER_SIZE];
int32_t NextNamePosition;
int32_t SelectedPattern;  // from 1; 0 before a successful dialog

struct DisabledWindow {
  DWORD threadId;
  HWND window;
};
ObjectList DisabledWindowList;

const char* OrEmpty(const char* s) {
  return s ? s : "";
}

size_t LengthWithin(const char* s, size_t limit) {
  return strnlen(s, limit);
}

void PutInitialName(const char* name) {
  size_t length = LengthWithin(name, DIALOG_PATH_SIZE - 1);
  std::memcpy(DialogPathBuffer, name, length);
  DialogPathBuffer[length] = '\0';
}

// The filter as the dialog wants it: NUL-separated pairs, ended by an empty
// string. Null when no memory can be had.
char* FilterList(const char* filter) {
  filter = OrEmpty(filter);
  size_t length = std::strlen(filter);
  auto* list = static_cast<char*>(MainAllocZero(length + 2));
  if (list == nullptr)
    return nullptr;
  for (size_t i = 0; i < length; i++)
    list[i] = filter[i] == '|' ? '\0' : filter[i];
  return list;
}

// Splits the default path at its last backslash into the initial folder
// (returned, a MainHeap block) and the initial file name (into
// DialogPathBuffer). A backslash at the very start does not split: such a
// path is all file name and the folder is empty. False when no memory can be
// had; without a default path the folder is null.
bool SplitDefaultPath(const char* path, char** folder) {
  *folder = nullptr;
  if (path == nullptr)
    return true;
  size_t length = std::strlen(path);
  auto* copy = static_cast<char*>(MainAllocZero(length + 2));
  if (copy == nullptr)
    return false;
  std::memcpy(copy, path, length);
  size_t slash = length;
  while (slash > 0 && copy[slash] != '\\')
    slash--;
  if (slash > 0) {
    PutInitialName(copy + slash + 1);
    copy[slash] = '\0';
  } else {
    PutInitialName(copy);
    copy[0] = '\0';
  }
  *folder = copy;
  return true;
}

char* PutEmpty(char* destination) {
  return ScratchPut(destination, "", 0);
}

// Folder + the name at NextNamePosition, then moves past that name.
char* PutNextName(char* destination) {
  if (NextNamePosition <= 0 || NextNamePosition >= DIALOG_PATH_SIZE ||
      DialogPathBuffer[NextNamePosition] == '\0') {
    NextNamePosition = 0;
    return PutEmpty(destination);
  }
  const char* name = DialogPathBuffer + NextNamePosition;
  size_t length = LengthWithin(name, DIALOG_PATH_SIZE - NextNamePosition);
  ScratchPut(destination, MultiSelectFolder, std::strlen(MultiSelectFolder));
  ScratchPut(ScratchCursor, name, length);
  NextNamePosition += static_cast<int32_t>(length) + 1;
  return destination;
}

// A multi-select answer is either one full path, or the folder followed by
// the names, each NUL-terminated.
char* MultiSelectResult(char* destination) {
  size_t first = LengthWithin(DialogPathBuffer, DIALOG_PATH_SIZE);
  if (first + 1 >= DIALOG_PATH_SIZE || DialogPathBuffer[first + 1] == '\0')
    return ScratchPut(destination, DialogPathBuffer, first);
  bool needsSlash = first == 0 || DialogPathBuffer[first - 1] != '\\';
  // A folder cut short would name the wrong files: take it as no answer.
  if (first + (needsSlash ? 1 : 0) >= MULTI_SELECT_FOLDER_SIZE)
    return PutEmpty(destination);
  std::memcpy(MultiSelectFolder, DialogPathBuffer, first);
  std::strcpy(MultiSelectFolder + first, needsSlash ? "\\" : "");
  NextNamePosition = static_cast<int32_t>(first) + 1;
  return PutNextName(destination);
}

char* ChooseFile(const char* title, const char* defaultPath, const char* filter,
                 int32_t patternIndex, bool save, bool multiSelect) {
  SelectedPattern = 0;
  // Names left over from an earlier dialog would point into this one's answer.
  NextNamePosition = 0;
  ZeroFill(DialogPathBuffer, sizeof DialogPathBuffer);
  char* result = ScratchCursor;

  char* filterList = FilterList(filter);
  char* folder = nullptr;
  bool ready = filterList != nullptr && SplitDefaultPath(defaultPath, &folder);
  BOOL chosen = FALSE;
  DWORD chosenPattern = 0;
  if (ready) {
    OPENFILENAMEA dialog;
    ZeroFill(&dialog, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_400_SIZE;
    dialog.hwndOwner = DialogOwner();
    dialog.lpstrFilter = filterList;
    dialog.nFilterIndex = static_cast<DWORD>(patternIndex) + 1;
    dialog.lpstrFile = DialogPathBuffer;
    dialog.nMaxFile = DIALOG_PATH_SIZE;
    dialog.lpstrInitialDir = folder;
    dialog.lpstrTitle = title;
    dialog.Flags = DIALOG_FLAGS | (multiSelect ? OFN_ALLOWMULTISELECT : 0);
    ModalGuard(1);
    chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    ModalGuard(0);
    chosenPattern = dialog.nFilterIndex;
  }
  MainFree(filterList);
  MainFree(folder);

  if (!chosen)
    return PutEmpty(result);
  SelectedPattern = static_cast<int32_t>(chosenPattern);
  if (multiSelect)
    return MultiSelectResult(result);
  return ScratchPut(result, DialogPathBuffer,
                    LengthWithin(DialogPathBuffer, DIALOG_PATH_SIZE));
}

BOOL CALLBACK DisableIfOurs(HWND window, LPARAM) {
  DWORD thread = GetCurrentThreadId();
  if (GetWindowThreadProcessId(window, nullptr) != thread || !IsWindowVisible(window) ||
      !IsWindowEnabled(window) || window == GetForegroundWindow())
    return TRUE;
  // Record first: a window disabled without a record would stay disabled.
  auto* entry = static_cast<DisabledWindow*>(
      ObjectListAdd(&DisabledWindowList, sizeof(DisabledWindow)));
  if (entry != nullptr) {
    entry->threadId = thread;
    entry->window = window;
    EnableWindow(window, FALSE);
  }
  return TRUE;
}

void EnableOurs() {
  DWORD thread = GetCurrentThreadId();
  void* record = ObjectListFirst(DisabledWindowList);
  while (record != nullptr) {
    void* older = ObjectListNext(record);
    auto* entry = static_cast<DisabledWindow*>(record);
    if (entry->threadId == thread) {
      EnableWindow(entry->window, TRUE);
      ObjectListRemove(&DisabledWindowList, record);
    }
    record = older;
  }
}

}  // namespace

void InitRequesters() {
  InitCommonControls();
}

char* ChooseOpenFile(const char* title, const char* defaultPath, const char* filter,
                     int32_t patternIndex) {
  return ChooseFile(title, defaultPath, filter, patternIndex, false, false);
}

char* ChooseSaveFile(const char* title, const char* defaultPath, const char* filter,
                     int32_t patternIndex) {
  return ChooseFile(title, defaultPath, filter, patternIndex, true, false);
}

char* ChooseOpenFileEx(const char* title, const char* defaultPath, const char* filter,
                       int32_t patternIndex, int32_t flags) {
  return ChooseFile(title, defaultPath, filter, patternIndex, false,
                    (flags & CHOOSE_MULTI_SELECT) != 0);
}

char* NextMultiSelectName() {
  return PutNextName(ScratchCursor);
}

int32_t ChosenPatternIndex() {
  return SelectedPattern - 1;
}

int32_t MessageBoxTyped(const char* caption, const char* text, int32_t type) {
  ModalGuard(1);
  int32_t answer = MessageBoxA(DialogOwner(), OrEmpty(text), OrEmpty(caption),
                               static_cast<UINT>(type));
  ModalGuard(0);
  return answer;
}

int32_t MessageBoxOk(const char* caption, const char* text) {
  return MessageBoxTyped(caption, text, MB_TYPE_OK);
}

HWND DialogOwner() {
  HWND window = GetForegroundWindow();
  if (window == nullptr)
    return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() ? window : nullptr;
}

void ModalGuard(int32_t on) {
  if (on != 0)
    EnumWindows(DisableIfOurs, 0);
  else
    EnableOurs();
}
