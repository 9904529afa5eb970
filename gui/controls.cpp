#include "gui/controls.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include <algorithm>

#include "gui/controls_internal.h"
#include "gui/events_internal.h"
#include "gui/window_table_internal.h"
#include "rt/strings.h"

SlotTable ControlTable;
ControlOps LabelOps;
ControlOps EditOps;
ControlOps ButtonOps;
ControlOps ProgressOps;

namespace {

constexpr int32_t CONTROL_TABLE_CAPACITY = 30;
constexpr int32_t CONTROL_TABLE_STEP = 30;
constexpr int32_t SPARE_RECORDS = 2;
constexpr int32_t TEXT_LIMIT = 32000;  // GetWindowTextA's limit, NUL included

constexpr DWORD LABEL_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr DWORD EDIT_STYLE =
    WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD BUTTON_STYLE =
    WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD PROGRESS_STYLE = WS_CHILD | WS_VISIBLE;
constexpr int32_t LABEL_EDGE_FLAG = 0x20000;

HWND ControlParent;
HFONT ControlFont;
// What EditFocusProc forwards to: ControlSubclassProc, the same for every edit.
WNDPROC EditForwardProc;

struct Placement {
  int32_t x, y, width, height;
};

struct ControlKind {
  const char* className;
  DWORD style;
  DWORD exStyle;
  ControlOps* ops;
  bool takesFont = true;  // progress bars draw no text and keep none
};

struct Created {
  HWND window;
  int32_t result;  // what the creation returns to the caller
};

int32_t ButtonGetCheck(HWND window) {
  return static_cast<int32_t>(SendMessageA(window, BM_GETCHECK, 0, 0));
}

int32_t ButtonSetCheck(HWND window, int32_t value) {
  return static_cast<int32_t>(SendMessageA(window, BM_SETCHECK, value, 0));
}

int32_t ProgressGetPosition(HWND window) {
  return static_cast<int32_t>(SendMessageA(window, PBM_GETPOS, 0, 0));
}

int32_t ProgressSetPosition(HWND window, int32_t value) {
  return static_cast<int32_t>(SendMessageA(window, PBM_SETPOS, value, 0));
}

// The record for a new control; a control that holds the number is
// destroyed first, and its window's death frees the record for reuse.
ControlRecord* AcquireControl(int32_t number) {
  void* record = SlotAcquire(&ControlTable, number);
  if (record == nullptr || number == -1)
    return static_cast<ControlRecord*>(record);
  FreeControl(number);
  return static_cast<ControlRecord*>(SlotAcquire(&ControlTable, number));
}

int32_t IdentifierOf(int32_t number, ControlRecord* record) {
  return number == -1 ? AutomaticNumber(record) : number;
}

int32_t HandleResult(HWND window) {
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(window));
}

HWND MakeWindow(const ControlKind& kind, int32_t identifier, const Placement& at,
                const char* text) {
  return CreateWindowExA(kind.exStyle, kind.className, text, kind.style, at.x, at.y,
                         at.width, at.height, ControlParent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(identifier)),
                         ModuleInstance(), nullptr);
}

void Subclass(ControlRecord* record) {
  record->previousProc = reinterpret_cast<WNDPROC>(SetWindowLongA(
      record->window, GWL_WNDPROC, reinterpret_cast<LONG>(ControlSubclassProc)));
}

// Every kind. A -1 control that could not be made still reports its
// automatic number, which then names no control.
Created CreateControl(const ControlKind& kind, int32_t number, const Placement& at,
                      const char* text) {
  ControlRecord* record = AcquireControl(number);
  if (record == nullptr)
    return {nullptr, 0};
  int32_t identifier = IdentifierOf(number, record);
  HWND window = MakeWindow(kind, identifier, at, text);
  record->window = window;
  record->ops = kind.ops;
  int32_t result = number == -1 ? identifier : HandleResult(window);
  if (window == nullptr)
    return {nullptr, result};
  Subclass(record);
  if (kind.takesFont)
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont), 1);
  return {window, result};
}

}  // namespace

ControlRecord* FindControlRecord(int32_t number) {
  return static_cast<ControlRecord*>(SlotFind(&ControlTable, number));
}

void InitControls() {
  ControlTable = SlotTable{CONTROL_TABLE_CAPACITY,
                           CONTROL_TABLE_STEP,
                           SPARE_RECORDS,
                           sizeof(ControlRecord),
                           0,
                           nullptr,
                           nullptr};
  ControlParent = nullptr;
  EditForwardProc = nullptr;
  LabelOps = EditOps = ButtonOps = ProgressOps = ControlOps{};
  SlotTableCreate(&ControlTable);
  ControlFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  InitCommonControls();
}

WindowRef SetControlParent(WindowRef window) {
  ControlParent = ToHwnd(window);
  return window;
}

int32_t CreateLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text) {
  return CreateControl({"STATIC", LABEL_STYLE, 0, &LabelOps}, number,
                       {x, y, width, height}, text)
      .result;
}

int32_t CreateLabelStyled(int32_t number, int32_t x, int32_t y, int32_t width,
                          int32_t height, const char* text, int32_t flags) {
  DWORD exStyle = (flags & LABEL_EDGE_FLAG) ? WS_EX_CLIENTEDGE : 0;
  ControlKind kind{"STATIC", static_cast<DWORD>(flags) | LABEL_STYLE, exStyle, &LabelOps};
  return CreateControl(kind, number, {x, y, width, height}, text).result;
}

int32_t CreateEditField(int32_t number, int32_t x, int32_t y, int32_t width,
                        int32_t height, const char* text) {
  Created made = CreateControl({"EDIT", EDIT_STYLE, WS_EX_CLIENTEDGE, &EditOps}, number,
                               {x, y, width, height}, text);
  // The focus layer sits in front of ControlSubclassProc.
  if (made.window != nullptr)
    EditForwardProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(made.window, GWL_WNDPROC, reinterpret_cast<LONG>(EditFocusProc)));
  return made.result;
}

int32_t CreateButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* text) {
  ButtonOps.getValue = ButtonGetCheck;
  ButtonOps.setValue = ButtonSetCheck;
  return CreateControl({"BUTTON", BUTTON_STYLE, 0, &ButtonOps}, number,
                       {x, y, width, height}, text)
      .result;
}

int32_t CreateProgressBar(int32_t number, int32_t x, int32_t y, int32_t width,
                          int32_t height, int32_t minimum, int32_t maximum) {
  return CreateProgressBarStyled(number, x, y, width, height, minimum, maximum, 0);
}

int32_t CreateProgressBarStyled(int32_t number, int32_t x, int32_t y, int32_t width,
                                int32_t height, int32_t minimum, int32_t maximum,
                                int32_t flags) {
  ProgressOps = ControlOps{};
  ProgressOps.getValue = ProgressGetPosition;
  ProgressOps.setValue = ProgressSetPosition;
  ControlKind kind{PROGRESS_CLASSA, static_cast<DWORD>(flags) | PROGRESS_STYLE, 0,
                   &ProgressOps, false};
  Created made = CreateControl(kind, number, {x, y, width, height}, nullptr);
  if (made.window == nullptr)
    return 0;
  SendMessageA(made.window, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
  return made.result;
}

int32_t SetControlText(int32_t number, const char* text) {
  ControlRecord* record = FindControlRecord(number);
  if (record == nullptr)
    return 0;
  if (record->ops != nullptr && record->ops->setText != nullptr)
    return record->ops->setText(record->window, text);
  return SetWindowTextA(record->window, text);
}

char* GetControlText(int32_t number) {
  char* start = ScratchCursor;
  ControlRecord* record = FindControlRecord(number);
  size_t room = ScratchRoom(start);
  if (record == nullptr || room == 0)
    return ScratchPut(start, "", 0);
  if (record->ops != nullptr && record->ops->getText != nullptr)
    return record->ops->getText(record->window);
  // The text never runs past the scratch buffer.
  int limit = static_cast<int>(std::min<size_t>(TEXT_LIMIT, room + 1));
  int length = std::max(GetWindowTextA(record->window, start, limit), 0);
  start[length] = '\0';
  ScratchCursor = start + length;
  return start;
}

int32_t SetControlValue(int32_t number, int32_t value) {
  ControlRecord* record = FindControlRecord(number);
  if (record == nullptr || record->ops == nullptr || record->ops->setValue == nullptr)
    return 0;
  return record->ops->setValue(record->window, value);
}

void EnableControl(int32_t number, bool enabled) {
  ControlRecord* record = FindControlRecord(number);
  if (record != nullptr)
    EnableWindow(record->window, enabled ? TRUE : FALSE);
}

void FreeControl(int32_t number) {
  ControlRecord* record = FindControlRecord(number);
  if (record == nullptr)
    return;
  if (record->ops != nullptr && record->ops->free != nullptr)
    record->ops->free(record->window);
  else
    DestroyWindow(record->window);
}

LRESULT CALLBACK ControlSubclassProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) {
  int32_t identifier = GetWindowLongA(window, GWL_ID);
  ControlRecord* record = FindControlRecord(identifier);
  if (record == nullptr)
    return DefWindowProcA(window, message, wParam, lParam);
  WNDPROC previous = record->previousProc;
  // The number is free from the window's last message on.
  if (message == WM_NCDESTROY)
    SlotRelease(&ControlTable, identifier);
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

LRESULT CALLBACK EditFocusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
    int32_t notice = message == WM_SETFOCUS ? FOCUS_GAINED : FOCUS_LOST;
    PostMessageA(TopLevelWindowOf(window), MSG_CONTROL_FOCUS,
                 GetWindowLongA(window, GWL_ID), notice);
  }
  return CallWindowProcA(EditForwardProc, window, message, wParam, lParam);
}
