// Numbered controls on real windows: creation, the table, the per-kind
// operations and the release of numbers when windows die.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // needs <windows.h> before it
// clang-format on

#include <string>
#include <utility>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

class ControlsTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window = Hwnd(OpenAppWindow(0, 50, 50, 400, 300, WF_INVISIBLE, "controls"));
    SetControlParent(LastWindowHandle());
  }
  HWND window = nullptr;
};

std::string Text(int32_t number) {
  return GetControlText(number);
}

// Style flags join the label's style, except 0x20000, which gives it a sunken
// edge; edits have that edge, and every kind but the progress bar the GUI font.
TEST_F(ControlsTest, KindsGetStyleEdgeAndFont) {
  HWND label = Hwnd(CreateLabelStyled(1, 0, 0, 50, 20, "s", 0x20001));
  HWND edit = Hwnd(CreateEditField(2, 0, 0, 50, 20, "e"));
  HWND bar = Hwnd(CreateProgressBar(3, 0, 0, 50, 20, 0, 100));
  EXPECT_EQ(GetWindowLongA(label, GWL_STYLE) & ~WS_CLIPSIBLINGS, 0x50020001);
  for (HWND edged : {label, edit})
    EXPECT_TRUE(GetWindowLongA(edged, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_NE(SendMessageA(edit, WM_GETFONT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(bar, WM_GETFONT, 0, 0), 0);
}

TEST_F(ControlsTest, TableGrowsAndNumbersAreReplacedAndAutomatic) {
  InitControls();  // a fresh table of capacity 30
  SetControlParent(LastWindowHandle());
  CreateEditField(29, 0, 0, 50, 20, "29");
  EXPECT_EQ(ControlTable.capacity, 30);
  CreateEditField(30, 0, 0, 50, 20, "30");
  EXPECT_EQ(ControlTable.capacity, 60);
  EXPECT_EQ(Text(29) + Text(30), "2930");

  HWND first = Hwnd(CreateEditField(5, 0, 0, 50, 20, "first"));
  HWND second = Hwnd(CreateButton(5, 0, 30, 50, 20, "second"));
  EXPECT_EQ(std::pair(IsWindow(first), IsWindow(second)), std::pair(FALSE, TRUE));
  EXPECT_EQ(Text(5), "second");

  int32_t automatic = CreateLabel(-1, 0, 0, 50, 20, "auto");
  HWND label = FindControlRecord(automatic)->window;
  EXPECT_NE(SetControlText(automatic, "changed"), 0);
  EXPECT_EQ(Text(automatic), "changed");
  FreeControl(automatic);
  EXPECT_FALSE(IsWindow(label));
  EXPECT_EQ(FindControlRecord(automatic), nullptr);
}

TEST_F(ControlsTest, ValuesAndNumbersWithoutControls) {
  CreateLabel(1, 0, 0, 50, 20, "label");
  HWND bar = Hwnd(CreateProgressBar(3, 0, 0, 50, 20, 0, 100));
  EXPECT_EQ(SetControlValue(1, 40), 0);
  EXPECT_EQ(Text(1), "label");
  EXPECT_EQ(SetControlValue(3, 40), 0);
  EXPECT_EQ(SetControlValue(3, 70), 40);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 70);
  // Free, never used, just past the table, stale and made-up numbers.
  int32_t stale = CreateLabel(-1, 0, 0, 50, 20, "x");
  FreeControl(stale);
  for (int32_t nothing : {17, 30, 31, stale, 0x7654320}) {
    char* start = ScratchCursor;
    EXPECT_EQ(SetControlText(nothing, "x"), 0);
    EXPECT_EQ(GetControlText(nothing), start);
    EXPECT_EQ(std::pair(*start, ScratchCursor), std::pair('\0', start));
    EXPECT_EQ(SetControlValue(nothing, 1), 0);
    FreeControl(nothing);
  }
}

TEST_F(ControlsTest, LongTextIsCutAtLimitAndAtBufferEnd) {
  SendMessageA(Hwnd(CreateEditField(6, 0, 0, 50, 20, "")), EM_SETLIMITTEXT, 50000, 0);
  SetControlText(6, std::string(40000, 'x').c_str());
  char* start = ScratchCursor;
  EXPECT_EQ(StringLength(GetControlText(6)), 31999);
  EXPECT_EQ(ScratchCursor, start + 31999);
  char* last = ScratchStart() + SCRATCH_SIZE - 1;
  ScratchCursor = last - 10;
  EXPECT_EQ(StringLength(GetControlText(6)), 10);
  EXPECT_EQ(std::pair(*last, ScratchCursor), std::pair('\0', last));
}

TEST_F(ControlsTest, FailedCreationLeavesNumberFreeAndEditsWorking) {
  HWND edit = Hwnd(CreateEditField(1, 0, 0, 50, 20, "works"));
  SetControlParent(0);  // a child without a parent cannot be made
  EXPECT_EQ(CreateEditField(2, 0, 0, 50, 20, "x"), 0);
  EXPECT_EQ(CreateProgressBar(-1, 0, 0, 50, 20, 0, 10), 0);
  int32_t automatic = CreateButton(-1, 0, 0, 50, 20, "x");
  EXPECT_NE(automatic, 0);  // still reported, but names no control
  for (int32_t n : {2, automatic})
    EXPECT_EQ(FindControlRecord(n), nullptr) << n;
  // The focus layer that edit fields share still forwards to the control.
  EXPECT_EQ(Text(1), "works");
  EXPECT_EQ(GetWindowLongA(edit, GWL_WNDPROC), reinterpret_cast<LONG>(EditFocusProc));
}

TEST_F(ControlsTest, ClosingWindowFreesItsControlNumbers) {
  int32_t numbers[] = {CreateLabel(-1, 0, 0, 50, 20, "a"), 11, 12, 13};
  CreateEditField(11, 0, 0, 50, 20, "b");
  CreateButton(12, 0, 0, 50, 20, "c");
  CreateProgressBar(13, 0, 0, 50, 20, 0, 100);
  SetControlParent(
      static_cast<WindowRef>(OpenAppWindow(1, 0, 0, 99, 99, WF_INVISIBLE, "other")));
  CreateLabel(14, 0, 0, 50, 20, "elsewhere");
  CloseAppWindow(0);
  for (int32_t n : numbers)
    EXPECT_EQ(FindControlRecord(n), nullptr) << n;
  EXPECT_EQ(Text(14), "elsewhere");
}

}  // namespace
}  // namespace gui_test
