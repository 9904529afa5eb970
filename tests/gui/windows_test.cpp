// Numbered top-level windows on real windows: styles, sizes, placement, the
// table, classes and accelerators.
#include <string>

#include "tests/gui/gui_runtime.h"

namespace {

using gui_test::Hwnd;
using gui_test::RectOf;
using WindowsTest = gui_test::GuiTest;

constexpr DWORD FRAME = 0xCE0000;  // caption, system menu, sizing border, minimise box
constexpr int32_t HIDDEN = FRAME | WF_INVISIBLE;

SIZE OuterSize(int32_t width, int32_t height) {
  RECT rect{0, 0, width, height};
  AdjustWindowRect(&rect, FRAME, FALSE);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

TEST_F(WindowsTest, FlagsGiveStyleAndExactClientArea) {
  constexpr DWORD BITS = WS_CAPTION | WS_VISIBLE | FRAME | WS_MAXIMIZEBOX | WS_MAXIMIZE;
  struct {
    int32_t flags;
    DWORD style;
  } cases[] = {
      {0, WS_CAPTION | WS_VISIBLE},
      {WF_INVISIBLE, WS_CAPTION},
      {static_cast<int32_t>(WS_POPUP | WS_BORDER), WS_BORDER | WS_VISIBLE},
      {HIDDEN, FRAME},
  };
  for (const auto& c : cases) {
    HWND window = Hwnd(OpenAppWindow(1, 120, 90, 361, 277, c.flags, "styles"));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & BITS, c.style)
        << c.flags;
    EXPECT_TRUE(client.right == 361 && client.bottom == 277) << c.flags;
    EXPECT_TRUE(RectOf(window).left == 120 && RectOf(window).top == 90) << c.flags;
  }
  // Maximised only when shown.
  EXPECT_TRUE(IsZoomed(Hwnd(OpenAppWindow(2, 0, 0, 99, 99, FRAME | WS_MAXIMIZE, "m"))));
  EXPECT_FALSE(
      IsWindowVisible(Hwnd(OpenAppWindow(3, 0, 0, 99, 99, HIDDEN | WS_MAXIMIZE, "h"))));
}

TEST_F(WindowsTest, CentresOnScreenAndOverActiveWindow) {
  int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  SIZE outer = OuterSize(361, 577);
  RECT rect =
      RectOf(Hwnd(OpenAppWindow(0, 328, 107, 361, 577, HIDDEN | WF_SCREENCENTERED, "f")));
  EXPECT_EQ(rect.left, (screenWidth >> 1) - (outer.cx >> 1));
  EXPECT_EQ(rect.top, (screenHeight >> 1) - (outer.cy >> 1));
  // Larger than the screen (the system caps windows a little beyond it): at 0, 0.
  SIZE frame = OuterSize(0, 0);
  rect = RectOf(
      Hwnd(OpenAppWindow(1, 50, 50, screenWidth + 2 - frame.cx,
                         screenHeight + 2 - frame.cy, HIDDEN | WF_SCREENCENTERED, "h")));
  EXPECT_TRUE(rect.left == 0 && rect.top == 0);

  // Over the active window, bit 1 winning over bit 0; clamped to 0 near the corner.
  RECT a = RectOf(Hwnd(OpenAppWindow(2, 300, 200, 400, 300, FRAME, "anchor")));
  ASSERT_EQ(GetActiveWindow(), reinterpret_cast<HWND>(LastWindowHandle()));
  SIZE small = OuterSize(100, 80);
  int32_t both = HIDDEN | WF_SCREENCENTERED | WF_WINDOWCENTERED;
  rect = RectOf(Hwnd(OpenAppWindow(3, 0, 0, 100, 80, both, "over")));
  EXPECT_EQ(rect.left, a.left - (small.cx >> 1) + ((a.right - a.left) >> 1));
  EXPECT_EQ(rect.top, a.top - (small.cy >> 1) + ((a.bottom - a.top) >> 1));
  OpenAppWindow(4, 5, 5, 40, 30, FRAME, "corner");
  ASSERT_EQ(GetActiveWindow(), reinterpret_cast<HWND>(LastWindowHandle()));
  rect =
      RectOf(Hwnd(OpenAppWindow(5, 0, 0, 500, 400, HIDDEN | WF_WINDOWCENTERED, "big")));
  EXPECT_TRUE(rect.left == 0 && rect.top == 0);
}

TEST_F(WindowsTest, TableGrowsAndLeavesRecordsBetweenEmpty) {
  InitWindowRuntime();  // a fresh table of capacity 10
  OpenAppWindow(10, 0, 0, 50, 50, WF_INVISIBLE, "ten");
  EXPECT_EQ(WindowTable.capacity, 40);
  OpenAppWindow(40, 0, 0, 50, 50, WF_INVISIBLE, "forty");
  EXPECT_EQ(WindowTable.capacity, 70);
  auto* records = reinterpret_cast<WindowRecord*>(WindowTable.records);
  for (int32_t n = 0; n < 72; n++)
    EXPECT_EQ(records[n].handle != nullptr, n == 10 || n == 40) << n;
}

TEST_F(WindowsTest, ReopeningNumberReplacesWindowClassAndAccelerators) {
  static HWND old;
  static bool oldGoneAtCreation;
  old = Hwnd(OpenAppWindow(3, 0, 0, 50, 50, WF_INVISIBLE, "first"));
  WindowCallback = [](HWND, UINT message, WPARAM, LPARAM) -> int32_t {
    if (message == WM_NCCREATE)
      oldGoneAtCreation = !IsWindow(old);
    return MSG_CONTINUE;
  };
  HWND second = Hwnd(OpenAppWindow(3, 0, 0, 50, 50, WF_INVISIBLE, "second"));
  EXPECT_TRUE(oldGoneAtCreation);
  EXPECT_EQ(ClassOf(second), "WindowClass_3");
  HACCEL table = FindWindowRecord(3)->acceleratorTable;
  EXPECT_TRUE(table != nullptr && FindAccelerators(second) == table);
  CloseAppWindow(3);
  WNDCLASSA unused;
  EXPECT_FALSE(GetClassInfoA(ModuleInstance(), "WindowClass_3", &unused));
  // Record 3 is empty now: no active window is not matched with it.
  EXPECT_EQ(FindAccelerators(nullptr), nullptr);
}

TEST_F(WindowsTest, AutomaticWindowsHaveOwnReferencesAndClasses) {
  int32_t a = OpenAppWindow(-1, 0, 0, 50, 50, WF_INVISIBLE, "a");
  HWND windowA = reinterpret_cast<HWND>(LastWindowHandle());
  int32_t b = OpenAppWindow(-1, 0, 0, 50, 50, WF_INVISIBLE, "b");
  HWND windowB = reinterpret_cast<HWND>(LastWindowHandle());
  EXPECT_TRUE(a != b && !IsTableNumber(&WindowTable, a));
  EXPECT_EQ(ClassOf(windowB), "WindowClass_" + std::to_string(b));
  CloseAppWindow(a);
  EXPECT_TRUE(!IsWindow(windowA) && IsWindow(windowB));
  CloseAppWindow(a);  // stale and made-up references are no windows
  CloseAppWindow(0x7654320);
  CloseAppWindow(b);
  EXPECT_EQ(WindowTable.list, nullptr);
}

}  // namespace
