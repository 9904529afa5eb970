// Keyboard-driven sizing on real windows: size requests, keys and mouse moves
// are sent or posted the way the system sends them.
#include "gui/sizing.h"

#include <string>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

void SetFullWindowDragging(BOOL on) {
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, on, nullptr, 0);
}

// The mode needs full-window dragging: each test switches it on and puts the
// user's choice back.
class SizingTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &savedDragging, 0);
    SetFullWindowDragging(TRUE);
    window = Hwnd(OpenAppWindow(1, 300, 200, 320, 240, WS_OVERLAPPEDWINDOW, "sizing"));
    start = RectOf(window);
  }
  void TearDown() override {
    GuiTest::TearDown();
    SetFullWindowDragging(savedDragging);
  }
  BOOL savedDragging = FALSE;
  HWND window = nullptr;
  RECT start{};
};

POINT Cursor() {
  POINT at{};
  GetCursorPos(&at);
  return at;
}

void ParkCursor(POINT at) {
  SetCursorPos(at.x, at.y);
  Pump();
}

LRESULT RequestSize(HWND window, int32_t edge = 0) {
  return SendMessageA(window, WM_SYSCOMMAND, SC_SIZE | edge, 0);
}

void Press(HWND window, WPARAM key, int32_t times = 1) {
  for (int32_t i = 0; i < times; i++)
    SendMessageA(window, WM_KEYDOWN, key, 0);
}

void MoveMouseTo(HWND window, POINT screen) {
  ScreenToClient(window, &screen);
  SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(screen.x, screen.y));
}

// Whether the mode runs, and whether the window holds the capture.
std::string Mode(HWND window) {
  std::string mode = SizingState.active ? "active" : "off";
  if (GetCapture() != nullptr)
    mode += GetCapture() == window ? ", captured" : ", captured elsewhere";
  return mode;
}

bool CursorIs(LPCSTR shape) {
  return GetCursor() == LoadCursorA(nullptr, shape);
}

// A chosen side or corner: its WMSZ_ code and its cursor's shape.
struct Pick {
  int32_t edge;
  LPCSTR shape;
};
// Every key comes once first and once second; the corner's step is outward.
const struct {
  WPARAM first, second;
  Pick side, corner;
  POINT step;
} PICKS[] = {
    // clang-format off
    {VK_LEFT, VK_UP, {WMSZ_LEFT, IDC_SIZEWE},
                     {WMSZ_TOPLEFT, IDC_SIZENWSE}, {-10, -10}},
    {VK_UP, VK_RIGHT, {WMSZ_TOP, IDC_SIZENS},
                      {WMSZ_TOPRIGHT, IDC_SIZENESW}, {10, -10}},
    {VK_RIGHT, VK_DOWN, {WMSZ_RIGHT, IDC_SIZEWE},
                        {WMSZ_BOTTOMRIGHT, IDC_SIZENWSE}, {10, 10}},
    {VK_DOWN, VK_LEFT, {WMSZ_BOTTOM, IDC_SIZENS},
                       {WMSZ_BOTTOMLEFT, IDC_SIZENESW}, {-10, 10}},
    // clang-format on
};

TEST_F(SizingTest, ArrowsPickASideThenACornerThenStep) {
  const POINT parked{start.left + 100, start.top + 80};
  auto expectPick = [&](WPARAM key, const Pick& pick) {
    Press(window, key);
    EXPECT_EQ(SizingState.edge, pick.edge);
    // The cursor sits on the chosen border: the HT codes follow the WMSZ ones.
    const POINT at = Cursor();
    EXPECT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y)),
              pick.edge - WMSZ_LEFT + HTLEFT)
        << "cursor at " << at.x << ", " << at.y;
    EXPECT_TRUE(CursorIs(pick.shape));
    Pump();  // the cursor's own move must not shift the edges it sits on
    EXPECT_EQ(RectOf(window), start);
  };
  for (const auto& c : PICKS) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    MoveToRect(window, start);
    ParkCursor(parked);
    EXPECT_EQ(RequestSize(window), 0);
    EXPECT_EQ(Mode(window), "active, captured");
    EXPECT_TRUE(CursorIs(IDC_SIZEALL));
    expectPick(c.first, c.side);
    expectPick(c.second, c.corner);

    // Each key moves the corner's edge on its axis by 10 pixels. The keys
    // come through the queue and WaitEvent, as in the running tool.
    const POINT before = Cursor();
    PostMessageA(window, WM_KEYDOWN, c.first, 0);
    PostMessageA(window, WM_KEYDOWN, c.second, 0);
    bool sized = false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
      sized |= WaitEvent() == EV_SIZE;
    EXPECT_TRUE(sized);
    RECT moved = start;
    (c.step.x < 0 ? moved.left : moved.right) += c.step.x;
    (c.step.y < 0 ? moved.top : moved.bottom) += c.step.y;
    EXPECT_EQ(RectOf(window), moved);
    EXPECT_EQ(Cursor(), (POINT{before.x + c.step.x, before.y + c.step.y}));
    Press(window, VK_RETURN);
    EXPECT_EQ(Mode(window), "off");
    EXPECT_EQ(RectOf(window), moved);
  }
}

TEST_F(SizingTest, TrackLimitsEscAndTheCursorsReturn) {
  const LONG width = start.right - start.left, height = start.bottom - start.top;
  // The window narrows the system's limits to 30 pixels either way.
  static POINT least, most;
  least = {width - 30, height - 30};
  most = {width + 30, height + 30};
  WindowCallback = [](HWND, UINT message, WPARAM, LPARAM lParam) -> int32_t {
    if (message != WM_GETMINMAXINFO)
      return MSG_CONTINUE;
    auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
    limits->ptMinTrackSize = least;
    limits->ptMaxTrackSize = most;
    return 0;
  };
  struct {
    WPARAM side, back;  // the key that picks and grows, and the one that shrinks
    LONG RECT::*moving;
    int32_t outward;  // the sign of growth on the moving edge
  } cases[] = {
      {VK_LEFT, VK_RIGHT, &RECT::left, -1},
      {VK_RIGHT, VK_LEFT, &RECT::right, 1},
      {VK_UP, VK_DOWN, &RECT::top, -1},
      {VK_DOWN, VK_UP, &RECT::bottom, 1},
  };
  const POINT parked{start.left + 60, start.top + 50};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    ParkCursor(parked);
    RequestSize(window);
    Press(window, c.side);
    RECT limit = start;
    Press(window, c.back, 6);
    limit.*c.moving = start.*c.moving - 30 * c.outward;
    EXPECT_EQ(RectOf(window), limit);
    Press(window, c.side, 12);
    limit.*c.moving = start.*c.moving + 30 * c.outward;
    EXPECT_EQ(RectOf(window), limit);
    // Keys move the cursor, but only a mouse move cancels its return.
    Press(window, VK_ESCAPE);
    EXPECT_EQ(Mode(window), "off");
    EXPECT_EQ(RectOf(window), start);
    EXPECT_EQ(Cursor(), parked);
  }

  // With no edge chosen a mouse move changes nothing but the cursor's return.
  RequestSize(window);
  MoveMouseTo(window, {parked.x + 5, parked.y + 5});
  EXPECT_EQ(RectOf(window), start);
  SetCursorPos(parked.x + 5, parked.y + 5);
  Press(window, VK_ESCAPE);
  EXPECT_EQ(Cursor().x, parked.x + 5);

  // A border drag names its edge at once; the mouse, even left of the client
  // area, meets the same limits.
  RequestSize(window, WMSZ_LEFT);
  MoveMouseTo(window, {start.left - 20, start.top + 5});
  EXPECT_EQ(RectOf(window).left, start.left - 20);
  MoveMouseTo(window, {start.left - 200, start.top + 5});
  SendMessageA(window, WM_LBUTTONUP, 0, 0);  // a release keeps the size
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(RectOf(window),
            (RECT{start.left - 30, start.top, start.right, start.bottom}));
}

TEST_F(SizingTest, ModeStartsOnlyWithFullDraggingAndEndsWithCapture) {
  HWND other = Hwnd(OpenAppWindow(2, 40, 40, 100, 80, WS_OVERLAPPEDWINDOW, "other"));
  // Only the handler is asked: the system's own modal loop must not start here.
  SetFullWindowDragging(FALSE);
  EXPECT_EQ(SizingHandler(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_LEFT, 0),
            MSG_NOT_HANDLED);
  EXPECT_EQ(Mode(window), "off");
  SetFullWindowDragging(TRUE);

  RequestSize(window, WMSZ_RIGHT);
  SetCapture(other);
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(GetCapture(), other);  // the new owner keeps it
  ReleaseCapture();
  MoveMouseTo(window, {start.right + 50, start.top + 5});
  EXPECT_EQ(RectOf(window), start);
}

}  // namespace
}  // namespace gui_test
