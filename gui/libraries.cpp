// The tool's system functions beyond KERNEL32, by library. A function
// missing here shows as a static import in the tool, which the imports
// test refuses.
#include "gui/libraries.h"

#include "rt/libraries.h"

// clang-format off
#define USER32_FUNCTIONS(F)         \
  F(AdjustWindowRect, "@12")        \
  F(AppendMenuA, "@16")             \
  F(CallWindowProcA, "@20")         \
  F(CheckMenuItem, "@12")           \
  F(CreateAcceleratorTableA, "@8")  \
  F(CreateWindowExA, "@48")         \
  F(DefWindowProcA, "@16")          \
  F(DestroyAcceleratorTable, "@4")  \
  F(DestroyWindow, "@4")            \
  F(DispatchMessageA, "@4")         \
  F(EnableMenuItem, "@12")          \
  F(EnableWindow, "@8")             \
  F(EnumChildWindows, "@12")        \
  F(EnumWindows, "@8")              \
  F(GetActiveWindow, "@0")          \
  F(GetCapture, "@0")               \
  F(GetClassNameA, "@12")           \
  F(GetCursorPos, "@4")             \
  F(GetFocus, "@0")                 \
  F(GetForegroundWindow, "@0")      \
  F(GetKeyState, "@4")              \
  F(GetMessageA, "@16")             \
  F(GetParent, "@4")                \
  F(GetSystemMenu, "@8")            \
  F(GetSystemMetrics, "@4")         \
  F(GetWindowLongA, "@8")           \
  F(GetWindowRect, "@8")            \
  F(GetWindowTextA, "@12")          \
  F(GetWindowThreadProcessId, "@8") \
  F(IsChild, "@8")                  \
  F(IsWindowEnabled, "@4")          \
  F(IsWindowVisible, "@4")          \
  F(LoadCursorA, "@8")              \
  F(LoadIconA, "@8")                \
  F(LoadImageA, "@24")              \
  F(MapWindowPoints, "@16")         \
  F(MessageBoxA, "@16")             \
  F(MoveWindow, "@24")              \
  F(PostMessageA, "@16")            \
  F(PostThreadMessageA, "@16")      \
  F(RegisterClassA, "@4")           \
  F(ReleaseCapture, "@0")           \
  F(SendMessageA, "@16")            \
  F(SetCapture, "@4")               \
  F(SetCursor, "@4")                \
  F(SetCursorPos, "@8")             \
  F(SetFocus, "@4")                 \
  F(SetWindowLongA, "@12")          \
  F(SetWindowTextA, "@8")           \
  F(ShowWindow, "@8")               \
  F(SystemParametersInfoA, "@16")   \
  F(TranslateAcceleratorA, "@12")   \
  F(TranslateMessage, "@4")         \
  F(UnregisterClassA, "@8")         \
  F(wsprintfA, "")
#define GDI32_FUNCTIONS(F) \
  F(GetStockObject, "@4")
#define COMCTL32_FUNCTIONS(F) \
  F(InitCommonControls, "@0")
#define COMDLG32_FUNCTIONS(F) \
  F(GetOpenFileNameA, "@4")   \
  F(GetSaveFileNameA, "@4")
#define ADVAPI32_FUNCTIONS(F) \
  F(RegCloseKey, "@4")        \
  F(RegCreateKeyExA, "@36")   \
  F(RegOpenKeyExA, "@20")     \
  F(RegQueryValueExA, "@24")  \
  F(RegSetValueExA, "@24")
// clang-format on

USER32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
GDI32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
COMCTL32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
COMDLG32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
ADVAPI32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)

namespace {

constexpr SystemFunction USER32[] = {USER32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction GDI32[] = {GDI32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction COMCTL32[] = {COMCTL32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction COMDLG32[] = {COMDLG32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction ADVAPI32[] = {ADVAPI32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};

// Those without functions are loaded on demand by the others (OLE by the
// dialogs, MSIMG32 by the controls as they paint): loaded here first, no
// search for them happens later, since Wine's own libraries look in the
// program's folder first for what they load on demand, whatever search the
// program asked for.
constexpr SystemLibrary LIBRARIES[] = {
    {"user32.dll", USER32},     {"gdi32.dll", GDI32}, {"msimg32.dll", {}},
    {"comctl32.dll", COMCTL32}, {"ole32.dll", {}},    {"comdlg32.dll", COMDLG32},
    {"advapi32.dll", ADVAPI32},
};

}  // namespace

bool LoadWindowLibraries() {
  return LoadSystemLibraries(LIBRARIES);
}
