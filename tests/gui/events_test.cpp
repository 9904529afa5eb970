// Event translation and waiting on real windows: messages are sent or posted
// the way the system and the controls do.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include <tuple>

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
}

// Notifications of views, date controls and up-downs that make events, and
// others that must not (buttons under visual styles notify their drawing).
TEST_F(EventsTest, NotificationsOfViewsAndDateControls) {
  HWND window = OpenForm(WF_INVISIBLE);
  const char *TREE = WC_TREEVIEWA, *LIST = WC_LISTVIEWA, *DATE = DATETIMEPICK_CLASSA,
             *MONTH = MONTHCAL_CLASSA, *BUTTON = "BUTTON";
  // clang-format off
  const struct { const char* from; UINT notification; int32_t code, subtype; } cases[] = {
      {TREE, NM_CLICK, EV_CONTROL, 0},           {TREE, NM_RCLICK, EV_CONTROL, 1},
      {TREE, NM_DBLCLK, EV_CONTROL, 2},          {TREE, NM_RDBLCLK, EV_CONTROL, 3},
      {TREE, TVN_SELCHANGEDA, EV_CONTROL, -1},   {TREE, TVN_SELCHANGEDW, 0, -1},
      {TREE, NM_SETFOCUS, 0, -1},                {TREE, DTN_DATETIMECHANGE, 0, -1},
      {LIST, LVN_ITEMACTIVATE, EV_CONTROL, 2},   {LIST, NM_RCLICK, EV_CONTROL, 1},
      {LIST, LVN_ITEMCHANGED, EV_CONTROL, -1},   {LIST, LVN_ITEMCHANGING, 0, -1},
      {DATE, DTN_DATETIMECHANGE, EV_CONTROL, -1}, {DATE, NM_CLICK, 0, -1},
      {MONTH, MCN_SELCHANGE, EV_CONTROL, -1},    {MONTH, MCN_SELECT, 0, -1},
      {BUTTON, NM_CUSTOMDRAW, 0, -1},            {BUTTON, UDN_DELTAPOS, EV_CONTROL, -7}};
  // clang-format on
  for (const auto& c : cases) {
    HWND from = CreateWindowExA(0, c.from, "", WS_CHILD, 0, 0, 90, 90, window,
                                reinterpret_cast<HMENU>(40), nullptr, nullptr);
    EventState = {0, -1, nullptr, 0, 0, 0, 0};
    NMUPDOWN notice{{from, 40, c.notification}, 0, -7};
    SendMessageA(window, WM_NOTIFY, 40, reinterpret_cast<LPARAM>(&notice));
    SCOPED_TRACE(testing::Message() << c.from << ": " << int(c.notification));
    EXPECT_EQ(std::tuple(EventState.code, EventState.subtype, EventState.controlNumber),
              std::tuple(c.code, c.subtype, c.code ? 40 : 0));
  }
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
  const std::tuple<bool, HWND, HWND> steps[] = {
      {false, first, button}, {false, button, last}, {false, last, first},
      {true, first, last},    {true, last, button},  {true, button, first},
      {false, label, label},  {true, label, last},  // off a non-stop only Shift+Tab moves
  };
  for (auto [shift, from, to] : steps) {
    SetFocus(from);
    DrainEvents();
    PressTab(shift);
    DrainEvents();
    EXPECT_EQ(GetFocus(), to) << shift << " from " << GetDlgCtrlID(from);
  }
}

}  // namespace
}  // namespace gui_test
