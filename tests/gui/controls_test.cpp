// Numbered controls on real windows: the kinds the form makes and their texts.
#include <string>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

class ControlsTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    OpenAppWindow(0, 50, 50, 400, 300, WF_INVISIBLE, "controls");
    SetControlParent(LastWindowHandle());
  }
};

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

TEST_F(ControlsTest, LongTextIsCutAtItsLimit) {
  SendMessageA(Hwnd(CreateEditField(6, 0, 0, 50, 20, "")), EM_SETLIMITTEXT, 50000, 0);
  SetControlText(6, std::string(40000, 'x').c_str());
  char* start = ScratchCursor;
  EXPECT_EQ(StringLength(GetControlText(6)), 31999);
  EXPECT_EQ(ScratchCursor, start + 31999);
}

}  // namespace
}  // namespace gui_test
