// The system functions the stub calls beyond KERNEL32, loaded at its entry
// after the library search is restricted to the system folder. A function
// missing here shows at link time as an undefined __imp__ symbol.
#include "rt/libraries.h"

#include "stub/stub.h"

// clang-format off
#define USER32_FUNCTIONS(F)  \
  F(AdjustWindowRect, "@12") \
  F(CreateWindowExA, "@48")  \
  F(DefWindowProcA, "@16")   \
  F(DestroyWindow, "@4")     \
  F(DispatchMessageA, "@4")  \
  F(EnableWindow, "@8")      \
  F(GetDlgItem, "@8")        \
  F(GetDlgItemTextA, "@16")  \
  F(GetMessageA, "@16")      \
  F(GetSystemMetrics, "@4")  \
  F(IsDialogMessageA, "@8")  \
  F(LoadCursorA, "@8")       \
  F(LoadIconA, "@8")         \
  F(MessageBoxA, "@16")      \
  F(PeekMessageA, "@20")     \
  F(PostMessageA, "@16")     \
  F(PostQuitMessage, "@4")   \
  F(RegisterClassA, "@4")    \
  F(SendMessageA, "@16")     \
  F(SetDlgItemTextA, "@12")  \
  F(SetFocus, "@4")          \
  F(ShowWindow, "@8")        \
  F(TranslateMessage, "@4")  \
  F(wsprintfA, "")
#define GDI32_FUNCTIONS(F)     \
  F(CreateFontIndirectA, "@4") \
  F(DeleteObject, "@4")        \
  F(GetObjectA, "@12")         \
  F(GetStockObject, "@4")
#define COMCTL32_FUNCTIONS(F) \
  F(InitCommonControls, "@0")
#define SHELL32_FUNCTIONS(F)    \
  F(SHBrowseForFolderA, "@4")   \
  F(SHGetPathFromIDListA, "@8")
#define OLE32_FUNCTIONS(F) \
  F(CoTaskMemFree, "@4")
// clang-format on

USER32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
GDI32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
COMCTL32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
SHELL32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)
OLE32_FUNCTIONS(SYSTEM_FUNCTION_SLOT)

namespace {

constexpr SystemFunction USER32[] = {USER32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction GDI32[] = {GDI32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction COMCTL32[] = {COMCTL32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction SHELL32[] = {SHELL32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};
constexpr SystemFunction OLE32[] = {OLE32_FUNCTIONS(SYSTEM_FUNCTION_ENTRY)};

// MSIMG32 has no function here: the controls load it on demand as they
// paint, and Wine's own libraries look for what they load on demand in the
// program's folder first, whatever search the program asked for. Loaded
// here first, no search for it happens later.
constexpr SystemLibrary LIBRARIES[] = {
    {"user32.dll", USER32},     {"gdi32.dll", GDI32},     {"msimg32.dll", {}},
    {"comctl32.dll", COMCTL32}, {"shell32.dll", SHELL32}, {"ole32.dll", OLE32},
};

}  // namespace

bool LoadStubLibraries() {
  return LoadSystemLibraries(LIBRARIES);
}
