// Event translation and waiting on real windows: messages are sent or posted
// the way the system and the controls do.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

using EventsTest = GuiTest;

HWND OpenForm(int32_t flags) {
  HWND window = Hwnd(OpenAppWindow(0, 100, 100, 300, 200, flags, "events"));
  SetControlParent(LastWindowHandle());
  return window;
}

HWND Child(HWND parent, const char* className, int32_t id) {
  return CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 50,
                         20, parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(id)),
                         ModuleInstance(), nullptr);
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
  DrainEvents();
  PostMessageA(window, WM_MOUSEMOVE, 0, 0x60005);
  EXPECT_EQ(WaitEvent(), WM_MOUSEMOVE);
  EXPECT_EQ(EventState.lParam, 0x60005);
  // A control's mouse report becomes an event only through the queue.
  SendMessageA(window, MSG_CONTROL_MOUSE, 7, WM_RBUTTONDBLCLK);
  EXPECT_EQ(EventState.code, 0);
  EXPECT_EQ(PendingEvent(), EV_CONTROL_CLICK);
  EXPECT_EQ(EventState.subtype, 3);
}

// The tool's controls are buttons, edits, labels and a progress bar; the
// edits' notifications are seen in the Tab test.
TEST_F(EventsTest, TranslationOfCommandsAndNotices) {
  HWND window = OpenForm(WF_INVISIBLE);
  HWND source = Child(window, "BUTTON", COMMAND_SOURCE_ID);
  HWND button = Child(window, "BUTTON", 48);
  struct {
    UINT message;
    WPARAM wParam;
    HWND from;  // lParam, or the sender in the NMHDR of WM_NOTIFY
    UINT notifyCode;
    int32_t code, controlNumber, subtype;  // expected; code 0: no event
  } cases[] = {
      {WM_COMMAND, MAKEWPARAM(48, BN_CLICKED), button, 0, EV_CONTROL, 48, 0},
      {WM_COMMAND, MAKEWPARAM(9, 3), source, 0, EV_MENU, 9, 3},
      {WM_COMMAND, 501, nullptr, 0, EV_MENU, 501, -1},
      {WM_COMMAND, MAKEWPARAM(77, 1), nullptr, 0, EV_MENU, 77, -1},
      {WM_NOTIFY, 48, button, NM_CLICK, 0, -1, -1},
  };
  for (size_t row = 0; row < std::size(cases); row++) {
    const auto& c = cases[row];
    EventState = EventRecord{0, -1, nullptr, -1, 0, 0, 0};
    NMHDR notice{c.from, c.wParam, c.notifyCode};
    SendMessageA(window, c.message, c.wParam,
                 c.message == WM_NOTIFY ? reinterpret_cast<LPARAM>(&notice)
                                        : reinterpret_cast<LPARAM>(c.from));
    EXPECT_EQ(std::tuple(EventState.code, EventState.controlNumber, EventState.subtype),
              std::tuple(c.code, c.controlNumber, c.subtype))
        << "row " << row;
  }
}

TEST_F(EventsTest, TabCyclesTabStopsAndEditsReportFocus) {
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

  // Edit 1 to edit 5: the edits' own notifications come first (the key's
  // WaitEvent returns the last of them), then the posted notices in order.
  SetFocus(first);
  DrainEvents();
  PressTab(true);
  EXPECT_EQ(WaitEvent(), EV_CONTROL);
  EXPECT_EQ(EventControlNumber(), 5);
  EXPECT_EQ(EventState.subtype, EN_SETFOCUS);
  std::vector<std::pair<int32_t, int32_t>> notices;  // number, subtype
  for (const Event& event : DrainEvents())
    notices.push_back({event.controlNumber, event.subtype});
  EXPECT_EQ(notices, (std::vector<std::pair<int32_t, int32_t>>{{1, FOCUS_LOST},
                                                               {5, FOCUS_GAINED}}));
}

}  // namespace
}  // namespace gui_test
