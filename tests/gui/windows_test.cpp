// Numbered top-level windows on real windows: styles, sizes, placement, the
// table, classes and accelerators.
#include <string>
#include <utility>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

using WindowsTest = GuiTest;

constexpr DWORD FRAME = 0xCE0000;  // caption, system menu, sizing border, minimise box
constexpr int32_t HIDDEN = FRAME | WF_INVISIBLE;

SIZE OuterSize(int32_t width, int32_t height) {
  RECT rect{0, 0, width, height};
  AdjustWindowRect(&rect, FRAME, FALSE);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// The top-left corner of a window opened with these values.
POINT Placed(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
             int32_t flags) {
  RECT rect = RectOf(Hwnd(OpenAppWindow(number, x, y, width, height, flags, "placed")));
  return {rect.left, rect.top};
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
    EXPECT_EQ(client, (RECT{0, 0, 361, 277})) << c.flags;
    EXPECT_EQ((POINT{RectOf(window).left, RectOf(window).top}), (POINT{120, 90}))
        << c.flags;
  }
  // Maximised only when shown.
  EXPECT_TRUE(IsZoomed(Hwnd(OpenAppWindow(2, 0, 0, 99, 99, FRAME | WS_MAXIMIZE, "m"))));
  EXPECT_FALSE(
      IsWindowVisible(Hwnd(OpenAppWindow(3, 0, 0, 99, 99, HIDDEN | WS_MAXIMIZE, "h"))));
}

TEST_F(WindowsTest, CentresOnScreenAndOverActiveWindow) {
  const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  SIZE outer = OuterSize(361, 577);
  EXPECT_EQ(Placed(0, 328, 107, 361, 577, HIDDEN | WF_SCREENCENTERED),
            (POINT{(screenWidth >> 1) - (outer.cx >> 1),
                   (screenHeight >> 1) - (outer.cy >> 1)}));
  // Larger than the screen (the system caps windows a little beyond it): at 0, 0.
  SIZE frame = OuterSize(0, 0);
  EXPECT_EQ(Placed(1, 50, 50, screenWidth + 2 - frame.cx, screenHeight + 2 - frame.cy,
                   HIDDEN | WF_SCREENCENTERED),
            (POINT{0, 0}));

  // Over the active window, bit 1 winning over bit 0; clamped to 0 near the corner.
  SIZE active = OuterSize(400, 300), small = OuterSize(100, 80);
  Placed(2, 300, 200, 400, 300, FRAME);
  ASSERT_EQ(GetActiveWindow(), reinterpret_cast<HWND>(LastWindowHandle()));
  EXPECT_EQ(Placed(3, 0, 0, 100, 80, HIDDEN | WF_SCREENCENTERED | WF_WINDOWCENTERED),
            (POINT{300 - (small.cx >> 1) + (active.cx >> 1),
                   200 - (small.cy >> 1) + (active.cy >> 1)}));
  Placed(4, 5, 5, 40, 30, FRAME);
  ASSERT_EQ(GetActiveWindow(), reinterpret_cast<HWND>(LastWindowHandle()));
  EXPECT_EQ(Placed(5, 0, 0, 500, 400, HIDDEN | WF_WINDOWCENTERED), (POINT{0, 0}));
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
  HWND first = Hwnd(OpenAppWindow(3, 0, 0, 50, 50, WF_INVISIBLE, "first"));
  HWND second = Hwnd(OpenAppWindow(3, 0, 0, 50, 50, WF_INVISIBLE, "second"));
  EXPECT_EQ(std::pair(IsWindow(first), IsWindow(second)), std::pair(FALSE, TRUE));
  EXPECT_EQ(ClassOf(second), "WindowClass_3");
  HACCEL table = FindWindowRecord(3)->acceleratorTable;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(FindAccelerators(second), table);
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
  EXPECT_NE(a, b);
  EXPECT_FALSE(IsTableNumber(&WindowTable, a));
  EXPECT_EQ(ClassOf(windowB), "WindowClass_" + std::to_string(b));
  CloseAppWindow(a);
  EXPECT_EQ(std::pair(IsWindow(windowA), IsWindow(windowB)), std::pair(FALSE, TRUE));
  CloseAppWindow(a);  // stale and made-up references are no windows
  CloseAppWindow(0x7654320);
  CloseAppWindow(b);
  EXPECT_EQ(WindowTable.list, nullptr);
}

}  // namespace
}  // namespace gui_test
