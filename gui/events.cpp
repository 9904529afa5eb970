#include "gui/events.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include <cstring>
#include <span>

#include "gui/events_internal.h"
#include "gui/sizing.h"
#include "gui/window_table_internal.h"

EventRecord EventState;
WindowCallbackProc WindowCallback;

namespace {

constexpr int32_t CLASS_NAME_SIZE = 50;

MSG CurrentMessage;
char ClassNameBuffer[CLASS_NAME_SIZE];

bool KeyDown(int key) {
  return (GetKeyState(key) & 0x80) != 0;
}

// An unreadable name leaves the buffer empty, so no prefix matches.
const char* ClassNameOf(HWND window) {
  ClassNameBuffer[0] = '\0';
  GetClassNameA(window, ClassNameBuffer, CLASS_NAME_SIZE);
  return ClassNameBuffer;
}

bool HasPrefix(const char* name, const char* prefix) {
  return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

bool IsTabStop(HWND window) {
  return IsWindowEnabled(window) && IsWindowVisible(window) &&
         (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

void RecordEvent(int32_t code, int32_t controlNumber) {
  EventState.code = code;
  EventState.controlNumber = controlNumber;
}

int32_t ControlIdOf(LPARAM control) {
  return GetWindowLongA(reinterpret_cast<HWND>(control), GWL_ID);
}

struct SubtypeOf {
  UINT from;
  int32_t subtype;
};

// Clicks of tree and list views (left, right, left double, right double);
// activating an item counts as a left double click.
constexpr SubtypeOf VIEW_CLICKS[] = {{static_cast<UINT>(NM_CLICK), 0},
                                     {static_cast<UINT>(NM_RCLICK), 1},
                                     {static_cast<UINT>(NM_DBLCLK), 2},
                                     {static_cast<UINT>(LVN_ITEMACTIVATE), 2},
                                     {static_cast<UINT>(NM_RDBLCLK), 3}};

// Mouse messages that controls report as clicks.
constexpr SubtypeOf MOUSE_CLICKS[] = {
    {WM_LBUTTONUP, 0}, {WM_RBUTTONUP, 1}, {WM_LBUTTONDBLCLK, 2}, {WM_RBUTTONDBLCLK, 3}};

const SubtypeOf* FindSubtype(std::span<const SubtypeOf> table, UINT from) {
  for (const SubtypeOf& entry : table) {
    if (entry.from == from)
      return &entry;
  }
  return nullptr;
}

bool NotifyMakesEvent(const NMHDR* header, LPARAM lParam) {
  const char* name = ClassNameOf(header->hwndFrom);
  auto code = static_cast<int32_t>(header->code);
  if (HasPrefix(name, "SysT") || HasPrefix(name, "SysL")) {
    if (const SubtypeOf* click = FindSubtype(VIEW_CLICKS, header->code))
      EventState.subtype = click->subtype;
    if (EventState.subtype != -1 || code == static_cast<int32_t>(TVN_SELCHANGEDA) ||
        code == static_cast<int32_t>(LVN_ITEMCHANGED))
      return true;
  }
  if (HasPrefix(name, "SysD") && code == static_cast<int32_t>(DTN_DATETIMECHANGE))
    return true;
  if (HasPrefix(name, "SysM") && code == static_cast<int32_t>(MCN_SELCHANGE))
    return true;
  if (code == static_cast<int32_t>(UDN_DELTAPOS)) {
    EventState.subtype = reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta;
    return true;
  }
  return false;
}

int32_t TranslateNotify(HWND window, LPARAM lParam) {
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header != nullptr && NotifyMakesEvent(header, lParam)) {
    RecordEvent(EV_CONTROL, static_cast<int32_t>(header->idFrom));
    EventState.window = TopLevelWindowOf(window);
  }
  return 0;
}

int32_t TranslateScroll(HWND window, LPARAM lParam) {
  RecordEvent(EV_CONTROL, lParam == 0 ? 0 : ControlIdOf(lParam));
  EventState.window = TopLevelWindowOf(window);
  return 0;
}

// List boxes notify much; only a selection change (reported as subtype 0)
// and a double click (subtype 2) are events.
void TranslateControlCommand(WPARAM wParam, LPARAM lParam) {
  RecordEvent(EV_CONTROL, ControlIdOf(lParam));
  EventState.subtype = HIWORD(wParam);
  if (EventState.controlNumber == COMMAND_SOURCE_ID)
    RecordEvent(EV_MENU, LOWORD(wParam));
  if (HasPrefix(ClassNameOf(reinterpret_cast<HWND>(lParam)), "List")) {
    if (EventState.subtype == 1)
      EventState.subtype = 0;
    else if (EventState.subtype != 2)
      EventState.code = 0;
  }
}

int32_t TranslateCommand(WPARAM wParam, LPARAM lParam) {
  if (lParam != 0) {
    TranslateControlCommand(wParam, lParam);
    return 0;
  }
  if (HIWORD(wParam) == 0) {
    RecordEvent(EV_MENU, static_cast<int32_t>(wParam));
    return 0;
  }
  switch (LOWORD(wParam)) {
    case CMD_FOCUS_NEXT:
      FocusNext();
      return 0;
    case CMD_FOCUS_PREVIOUS:
      FocusPrevious();
      return 0;
    default:
      RecordEvent(EV_MENU, LOWORD(wParam));
      return static_cast<int32_t>(wParam & 0xFFFF0000u);
  }
}

// The window menu: the system's own items are left to it; the
// application's report as menu events. The system uses the low four bits.
int32_t TranslateSystemCommand(WPARAM wParam) {
  auto command = static_cast<int32_t>(wParam & 0xFFF0);
  if (command >= FIRST_SYSTEM_COMMAND)
    return MSG_NOT_HANDLED;
  RecordEvent(EV_MENU, command);
  return 0;
}

int32_t TranslateQueuedMouse(WPARAM wParam, LPARAM lParam) {
  RecordEvent(0, static_cast<int32_t>(wParam));
  if (const SubtypeOf* click = FindSubtype(MOUSE_CLICKS, static_cast<UINT>(lParam))) {
    EventState.code = EV_CONTROL_CLICK;
    EventState.subtype = click->subtype;
  }
  return 0;
}

// The state of one pass of focus cycling over the active window's children.
struct FocusWalk {
  HWND current;   // the focused child, or none
  HWND previous;  // the last tab stop seen (Shift+Tab)
  bool passed;    // current has been seen (Tab)
  bool done;      // the focus has moved (Shift+Tab)
};

HWND FocusedChildOf(HWND active) {
  HWND focus = GetFocus();
  return IsChild(active, focus) ? focus : nullptr;
}

BOOL CALLBACK FocusNextStep(HWND child, LPARAM walkAddress) {
  auto* walk = reinterpret_cast<FocusWalk*>(walkAddress);
  if (!IsTabStop(child))
    return TRUE;
  if (walk->passed || walk->current == nullptr) {
    SetFocus(child);
    walk->passed = false;
    return FALSE;
  }
  if (child == walk->current)
    walk->passed = true;
  return TRUE;
}

BOOL CALLBACK FocusPreviousStep(HWND child, LPARAM walkAddress) {
  auto* walk = reinterpret_cast<FocusWalk*>(walkAddress);
  if (!IsTabStop(child))
    return TRUE;
  if (child == walk->current && walk->previous != nullptr) {
    SetFocus(walk->previous);
    walk->done = true;
    return FALSE;
  }
  walk->previous = child;
  return TRUE;
}

}  // namespace

void ResetEventState() {
  EventState = EventRecord{};
  WindowCallback = nullptr;
  CurrentMessage = MSG{};
  ClassNameBuffer[0] = '\0';
}

int32_t WaitEvent() {
  EventState.subtype = -1;
  GetMessageA(&CurrentMessage, nullptr, 0, 0);
  HWND active = GetActiveWindow();
  HACCEL accelerators = FindAccelerators(active);
  if (accelerators == nullptr ||
      !TranslateAcceleratorA(active, accelerators, &CurrentMessage)) {
    TranslateMessage(&CurrentMessage);
    DispatchMessageA(&CurrentMessage);
  }
  int32_t result = EventState.code;
  if (result == 0) {
    result = static_cast<int32_t>(CurrentMessage.message);
    EventState.wParam = CurrentMessage.wParam;
    EventState.lParam = CurrentMessage.lParam;
  }
  EventState.code = 0;
  return result;
}

int32_t EventControlNumber() {
  return EventState.controlNumber;
}

HACCEL FindAccelerators(HWND window) {
  if (window == nullptr)
    return nullptr;
  // Tab belongs to a focused rich edit as an ordinary key.
  if (KeyDown(VK_TAB) && !KeyDown(VK_CONTROL) && !KeyDown(VK_SHIFT) &&
      !KeyDown(VK_MENU)) {
    char name[5] = "";
    GetClassNameA(GetFocus(), name, sizeof name);
    if (HasPrefix(name, "Rich"))
      return nullptr;
  }
  for (void* r = ObjectListFirst(WindowTable.list); r != nullptr; r = ObjectListNext(r)) {
    auto* record = static_cast<WindowRecord*>(r);
    if (record->handle == window)
      return record->acceleratorTable;
  }
  auto* records = reinterpret_cast<WindowRecord*>(WindowTable.records);
  for (int32_t n = 0; records != nullptr && n < WindowTable.capacity; n++) {
    if (records[n].handle == window)
      return records[n].acceleratorTable;
  }
  return nullptr;
}

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  int32_t result = TranslateWindowMessage(window, message, wParam, lParam);
  if (result == MSG_NOT_HANDLED)
    return DefWindowProcA(window, message, wParam, lParam);
  return result;
}

int32_t TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  EventState.window = window;
  EventState.message = message;
  EventState.wParam = wParam;
  EventState.lParam = lParam;

  // Keyboard sizing sees every message first; what it consumes is finished.
  if (SizingHandler(window, message, wParam, lParam) == 0)
    return 0;

  if (WindowCallback != nullptr) {
    int32_t result = WindowCallback(window, message, wParam, lParam);
    if (result != MSG_CONTINUE)
      return result;
  }

  switch (message) {
    case MSG_CONTROL_FOCUS:
      RecordEvent(EV_CONTROL, static_cast<int32_t>(wParam));
      EventState.subtype = static_cast<int32_t>(lParam);
      return static_cast<int32_t>(lParam);
    case WM_NOTIFY:
      return TranslateNotify(window, lParam);
    case WM_HSCROLL:
    case WM_VSCROLL:
      return TranslateScroll(window, lParam);
    case WM_COMMAND:
      return TranslateCommand(wParam, lParam);
    case WM_SYSCOMMAND:
      return TranslateSystemCommand(wParam);
    case MSG_CONTROL_MOUSE_QUEUED:
      return TranslateQueuedMouse(wParam, lParam);
    case MSG_CONTROL_MOUSE:
      // Made into an event only when it comes back through the queue.
      PostMessageA(window, MSG_CONTROL_MOUSE_QUEUED, wParam, lParam);
      return 0;
    case WM_MOVE:
    case WM_SIZE:
    case WM_CLOSE:
      // No default processing: closing is the application's decision.
      EventState.code = static_cast<int32_t>(message);
      return 0;
    default:
      return MSG_NOT_HANDLED;
  }
}

HWND TopLevelWindowOf(HWND window) {
  for (HWND parent = GetParent(window); parent != nullptr; parent = GetParent(window))
    window = parent;
  return window;
}

void FocusNext() {
  HWND active = GetActiveWindow();
  if (active == nullptr)
    return;
  FocusWalk walk{FocusedChildOf(active), nullptr, false, false};
  EnumChildWindows(active, FocusNextStep, reinterpret_cast<LPARAM>(&walk));
  // Current was the last tab stop: wrap to the first.
  if (walk.passed)
    EnumChildWindows(active, FocusNextStep, reinterpret_cast<LPARAM>(&walk));
}

void FocusPrevious() {
  HWND active = GetActiveWindow();
  if (active == nullptr)
    return;
  FocusWalk walk{FocusedChildOf(active), nullptr, false, false};
  EnumChildWindows(active, FocusPreviousStep, reinterpret_cast<LPARAM>(&walk));
  // Current was the first tab stop, or none: wrap to the last.
  if (!walk.done && walk.previous != nullptr)
    SetFocus(walk.previous);
}
