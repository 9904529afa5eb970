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
  for (auto [flags, style] :
       {std::pair<int32_t, DWORD>{FRAME, FRAME | WS_VISIBLE}, {HIDDEN, FRAME}}) {
    HWND window = Hwnd(OpenAppWindow(1, 120, 90, 361, 277, flags, "styles"));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & BITS, style)
        << flags;
    EXPECT_EQ(client, (RECT{0, 0, 361, 277})) << flags;
    EXPECT_EQ((POINT{RectOf(window).left, RectOf(window).top}), (POINT{120, 90}))
        << flags;
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

// The tool's check item in the window menu: chosen, it reports its number
// even with the low bits the system sets; the system's own items stay its.
TEST_F(WindowsTest, WindowMenuItemsReportMenuEvents) {
  HWND window = Hwnd(OpenAppWindow(1, 50, 50, 200, 100, HIDDEN, "menu"));
  EXPECT_FALSE(AddWindowMenuItem(1, 0x105, "low bits")) << "the system's bits";
  EXPECT_FALSE(AddWindowMenuItem(1, 0xF100, "high")) << "the system's numbers";
  EXPECT_FALSE(AddWindowMenuItem(2, 0x100, "no window"));
  ASSERT_TRUE(AddWindowMenuItem(1, 0x100, "Com&pact patches"));
  HMENU menu = GetSystemMenu(window, FALSE);
  char text[40] = "";
  GetMenuStringA(menu, 0x100, text, sizeof text, MF_BYCOMMAND);
  EXPECT_STREQ(text, "Com&pact patches");
  EXPECT_EQ(GetMenuState(menu, GetMenuItemCount(menu) - 2, MF_BYPOSITION) & MF_SEPARATOR,
            static_cast<UINT>(MF_SEPARATOR));
  auto state = [&](UINT command) { return GetMenuState(menu, command, MF_BYCOMMAND); };
  for (bool on : {true, false}) {
    CheckWindowMenuItem(1, 0x100, on);
    EnableWindowMenuItem(1, WINDOW_MENU_CLOSE, !on);
    EXPECT_EQ(state(0x100) & (MF_CHECKED | MF_GRAYED), on ? MF_CHECKED : 0u);
    EXPECT_EQ(state(SC_CLOSE) & MF_GRAYED, on ? MF_GRAYED : 0u);
  }

  PostMessageA(window, WM_SYSCOMMAND, 0x100 | 0x3, 0);
  EXPECT_EQ(WaitEvent(), EV_MENU);
  EXPECT_EQ(EventControlNumber(), 0x100);
  PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(WaitEvent(), EV_CLOSE);
}

}  // namespace
}  // namespace gui_test
