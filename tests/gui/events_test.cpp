// Event translation and waiting on real windows: messages are sent or posted
// the way the system and the controls do.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

using EventsTest = GuiTest;

HWND OpenForm(int32_t flags) {
  HWND window = Hwnd(OpenAppWindow(0, 100, 100, 300, 200, flags, "events"));
  SetControlParent(LastWindowHandle());
  return window;
}

// Tab as the accelerator sees it: the thread's key state and a key-down
// addressed to the focus.
void PressTab(bool shift) {
  BYTE keys[256] = {};
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
}

TEST_F(EventsTest, WaitEventReportsClicksCloseMovesAndSizes) {
  HWND window = OpenForm(WF_INVISIBLE);
  SendMessageA(Hwnd(CreateButton(7, 10, 10, 80, 24, "Go")), BM_CLICK, 0, 0);
  EXPECT_EQ(PendingEvent(), EV_CONTROL);
  EXPECT_EQ(EventControlNumber(), 7);
  PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(WaitEvent(), EV_CLOSE);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(EventControlNumber(), 7);  // kept across other events
  SetWindowPos(window, nullptr, 140, 130, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(PendingEvent(), EV_MOVE);
  SetWindowPos(window, nullptr, 0, 0, 320, 260,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(PendingEvent(), EV_SIZE);
  // Buttons under visual styles notify their drawing: no event.
  EventState.code = 0;
  NMHDR notice{GetDlgItem(window, 7), 7, static_cast<UINT>(NM_CUSTOMDRAW)};
  SendMessageA(window, WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&notice));
  EXPECT_EQ(EventState.code, 0);
}

TEST_F(EventsTest, TabCyclesTabStops) {
  HWND window = OpenForm(WS_CAPTION);  // visible and active: tab stops must be visible
  HWND first = Hwnd(CreateEditField(1, 10, 10, 80, 20, "a"));
  HWND label = Hwnd(CreateLabel(2, 10, 40, 80, 20, "not a stop"));
  HWND button = Hwnd(CreateButton(3, 10, 70, 80, 20, "b"));
  EnableWindow(Hwnd(CreateEditField(4, 10, 100, 80, 20, "off")), FALSE);
  HWND last = Hwnd(CreateEditField(5, 10, 130, 80, 20, "e"));
  ShowWindow(Hwnd(CreateEditField(6, 10, 160, 80, 20, "hidden")), SW_HIDE);
  ASSERT_EQ(GetActiveWindow(), window);
  struct {
    bool shift;
    HWND from, to;
  } steps[] = {
      {false, first, button}, {false, button, last}, {false, last, first},
      {true, first, last},    {true, last, button},  {true, button, first},
      {false, label, label},  {true, label, last},  // off a non-stop only Shift+Tab moves
  };
  for (const auto& s : steps) {
    SetFocus(s.from);
    DrainEvents();
    PressTab(s.shift);
    DrainEvents();
    EXPECT_EQ(GetFocus(), s.to) << s.shift << " from " << GetDlgCtrlID(s.from);
  }
}

}  // namespace
}  // namespace gui_test
