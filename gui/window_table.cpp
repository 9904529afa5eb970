#include "gui/window_table.h"

#include <algorithm>

#include "gui/events_internal.h"
#include "gui/window_table_internal.h"

SlotTable WindowTable;

namespace {

constexpr int32_t WINDOW_TABLE_CAPACITY = 10;
constexpr int32_t WINDOW_TABLE_STEP = 30;
constexpr int32_t SPARE_RECORDS = 2;
constexpr int32_t CLASS_NAME_SIZE = 50;

HINSTANCE Instance;
WNDCLASSA ClassTemplate;
char ClassNameBuffer[CLASS_NAME_SIZE];
HWND LastWindow;

enum class Centring { none, screen, activeWindow };

struct WindowStyle {
  DWORD style;
  Centring centring;
  bool maximise;
};

struct OuterRect {
  int32_t x, y, width, height;
};

void FormatClassName(int32_t identifier) {
  wsprintfA(ClassNameBuffer, "WindowClass_%ld", static_cast<long>(identifier));
}

WindowStyle InterpretFlags(int32_t flags) {
  auto style = static_cast<DWORD>(flags);
  Centring centring = Centring::none;
  if (style & WF_SCREENCENTERED) {
    style &= ~static_cast<DWORD>(WF_SCREENCENTERED);
    centring = Centring::screen;
  }
  if (style & WF_WINDOWCENTERED) {
    style &= ~static_cast<DWORD>(WF_WINDOWCENTERED);
    centring = Centring::activeWindow;
  }
  if (style == 0 || style == static_cast<DWORD>(WF_INVISIBLE))
    style |= WS_CAPTION;
  bool maximise = false;
  if (style & WF_INVISIBLE) {
    style &= ~static_cast<DWORD>(WF_INVISIBLE);
  } else {
    style |= WS_VISIBLE;
    maximise = (style & WS_MAXIMIZE) != 0;
  }
  return {style, centring, maximise};
}

// Each half is taken by a shift, rounding down on its own: with an odd
// width the extra pixel of margin is on the left (and likewise on top).
void CentreOnScreen(OuterRect* outer) {
  int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  outer->x = (screenWidth >> 1) - (std::min(outer->width, screenWidth) >> 1);
  outer->y = (screenHeight >> 1) - (std::min(outer->height, screenHeight) >> 1);
}

void CentreOverActiveWindow(OuterRect* outer) {
  HWND active = GetActiveWindow();
  RECT frame;
  if (active == nullptr || !GetWindowRect(active, &frame)) {
    CentreOnScreen(outer);
    return;
  }
  outer->x = std::max<int32_t>(
      0, frame.left - (outer->width >> 1) + ((frame.right - frame.left) >> 1));
  outer->y = std::max<int32_t>(
      0, frame.top - (outer->height >> 1) + ((frame.bottom - frame.top) >> 1));
}

// The window menu as the application changes it; null without a window.
HMENU WindowMenuOf(int32_t number) {
  WindowRecord* record = FindWindowRecord(number);
  return record != nullptr ? GetSystemMenu(record->handle, FALSE) : nullptr;
}

OuterRect PlaceWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                      const WindowStyle& style) {
  RECT rect{x, y, x + width, y + height};
  AdjustWindowRect(&rect, style.style, FALSE);
  OuterRect outer{x, y, rect.right - rect.left, rect.bottom - rect.top};
  if (style.centring == Centring::screen)
    CentreOnScreen(&outer);
  else if (style.centring == Centring::activeWindow)
    CentreOverActiveWindow(&outer);
  return outer;
}

}  // namespace

WindowRecord* FindWindowRecord(int32_t number) {
  return static_cast<WindowRecord*>(SlotFind(&WindowTable, number));
}

HINSTANCE ModuleInstance() {
  return Instance;
}

void InitWindowRuntime() {
  WindowTable = SlotTable{WINDOW_TABLE_CAPACITY,
                          WINDOW_TABLE_STEP,
                          SPARE_RECORDS,
                          sizeof(WindowRecord),
                          0,
                          nullptr,
                          nullptr};
  ClassTemplate = WNDCLASSA{};
  ClassNameBuffer[0] = '\0';
  LastWindow = nullptr;
  ResetEventState();
  SlotTableCreate(&WindowTable);

  Instance = GetModuleHandleA(nullptr);
  ClassTemplate.style = CS_DBLCLKS;
  ClassTemplate.lpfnWndProc = AppWindowProc;
  ClassTemplate.hInstance = Instance;
  ClassTemplate.hIcon = LoadIconA(Instance, MAKEINTRESOURCEA(1));
  ClassTemplate.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  ClassTemplate.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  ClassTemplate.lpszClassName = "TemplateClass";
  RegisterClassA(&ClassTemplate);
  // Every window registers its own class from the template under this name.
  ClassTemplate.lpszClassName = ClassNameBuffer;
}

int32_t OpenAppWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      int32_t flags, const char* title) {
  auto* record = static_cast<WindowRecord*>(SlotAcquire(&WindowTable, number));
  if (record == nullptr)
    return 0;
  int32_t identifier = number == -1 ? AutomaticNumber(record) : number;
  if (number != -1)
    CloseAppWindow(number);

  FormatClassName(identifier);
  RegisterClassA(&ClassTemplate);
  WindowStyle style = InterpretFlags(flags);
  OuterRect outer = PlaceWindow(x, y, width, height, style);
  HWND window =
      CreateWindowExA(0, ClassNameBuffer, title, style.style, outer.x, outer.y,
                      outer.width, outer.height, nullptr, nullptr, Instance, nullptr);
  record->handle = window;
  if (window == nullptr)
    return 0;

  LastWindow = window;
  if (style.maximise)
    ShowWindow(window, SW_MAXIMIZE);
  CreateWindowAccelerators(identifier);
  return number == -1 ? identifier
                      : static_cast<int32_t>(reinterpret_cast<uintptr_t>(window));
}

WindowRef LastWindowHandle() {
  return ToWindowRef(LastWindow);
}

void CreateWindowAccelerators(int32_t number) {
  WindowRecord* record = FindWindowRecord(number);
  if (record == nullptr)
    return;
  // A failed allocation leaves the window without Tab cycling, and the record
  // without stale entries that closing would free a second time.
  record->acceleratorCount = 0;
  record->acceleratorTable = nullptr;
  record->acceleratorEntries = static_cast<ACCEL*>(MainAlloc(2 * sizeof(ACCEL)));
  if (record->acceleratorEntries == nullptr)
    return;
  record->acceleratorCount = 2;
  record->acceleratorEntries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, CMD_FOCUS_NEXT};
  record->acceleratorEntries[1] =
      ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_FOCUS_PREVIOUS};
  record->acceleratorTable = CreateAcceleratorTableA(record->acceleratorEntries, 2);
}

bool AddWindowMenuItem(int32_t number, int32_t command, const char* text) {
  HMENU menu = WindowMenuOf(number);
  return menu != nullptr && command > 0 && command < FIRST_SYSTEM_COMMAND &&
         (command & 0xF) == 0 && AppendMenuA(menu, MF_SEPARATOR, 0, nullptr) &&
         AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(command), text);
}

void CheckWindowMenuItem(int32_t number, int32_t command, bool checked) {
  if (HMENU menu = WindowMenuOf(number))
    CheckMenuItem(menu, static_cast<UINT>(command),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void EnableWindowMenuItem(int32_t number, int32_t command, bool enabled) {
  if (HMENU menu = WindowMenuOf(number))
    EnableMenuItem(menu, static_cast<UINT>(command),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void CloseAppWindow(int32_t number) {
  WindowRecord* record = FindWindowRecord(number);
  if (record == nullptr)
    return;
  // Destroying sends messages, and a handler may open windows: take what the
  // record owns before the table can move.
  WindowRecord closing = *record;
  DestroyWindow(closing.handle);
  FormatClassName(number);
  UnregisterClassA(ClassNameBuffer, Instance);
  if (closing.acceleratorCount != 0) {
    MainFree(closing.acceleratorEntries);
    DestroyAcceleratorTable(closing.acceleratorTable);
  }
  SlotRelease(&WindowTable, number);
}

void CloseAllWindows() {
  ForEachAutomaticNumber(&WindowTable, CloseAppWindow);
  for (int32_t n = WindowTable.capacity - 1; n >= 0; n--)
    CloseAppWindow(n);
}
