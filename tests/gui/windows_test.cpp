// Numbered top-level windows on real windows: styles, sizes and placement.
// The tool opens one window, by a fixed number.
#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

using WindowsTest = GuiTest;

constexpr DWORD FRAME = 0xCE0000;  // caption, system menu, sizing border, minimise box
constexpr int32_t HIDDEN = FRAME | WF_INVISIBLE;

TEST_F(WindowsTest, FlagsGiveStyleAndExactClientArea) {
  constexpr DWORD BITS = WS_CAPTION | WS_VISIBLE | FRAME | WS_MAXIMIZEBOX;
  struct {
    int32_t flags;
    DWORD style;
  } cases[] = {{FRAME, FRAME | WS_VISIBLE}, {HIDDEN, FRAME}};
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

// A window larger than the screen (the system caps windows a little beyond
// it) goes to the corner, so that its caption stays in reach.
TEST_F(WindowsTest, CentringLargerThanTheScreenGivesTheCorner) {
  RECT frame{};
  AdjustWindowRect(&frame, FRAME, FALSE);
  HWND window = Hwnd(OpenAppWindow(
      1, 50, 50, GetSystemMetrics(SM_CXSCREEN) + 2 - (frame.right - frame.left),
      GetSystemMetrics(SM_CYSCREEN) + 2 - (frame.bottom - frame.top),
      HIDDEN | WF_SCREENCENTERED, "large"));
  EXPECT_EQ((POINT{RectOf(window).left, RectOf(window).top}), (POINT{0, 0}));
}

}  // namespace
}  // namespace gui_test
