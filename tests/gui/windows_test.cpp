// Numbered top-level windows on real windows: styles, sizes and placement.
// The tool opens one window by a fixed number; the table's growth and
// automatic numbers are the slot table's, tested on their own.
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

TEST_F(WindowsTest, FlagsGiveStyleAndExactClientArea) {
  constexpr DWORD BITS = WS_CAPTION | WS_VISIBLE | FRAME | WS_MAXIMIZEBOX;
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
  EXPECT_EQ(FindAccelerators(nullptr), nullptr)
      << "no active window matches a free record";
}

TEST_F(WindowsTest, CentresOnScreen) {
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
}

}  // namespace
}  // namespace gui_test
