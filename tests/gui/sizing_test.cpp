// Keyboard-driven sizing on real windows: size requests, keys and mouse moves
// are sent or posted the way the system sends them. Full-window dragging is
// switched on for each test and put back afterwards.
#include "gui/sizing.h"

#include <cstdlib>

#include "tests/gui/gui_runtime.h"

namespace {

using gui_test::GuiTest;
using gui_test::Hwnd;

constexpr int32_t MAIN_FORM_FLAGS = 0xCE0001;

void SetFullWindowDragging(BOOL on) {
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, on, nullptr, 0);
}

class SizingTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &savedDragging, 0);
    SetFullWindowDragging(TRUE);
  }
  void TearDown() override {
    GuiTest::TearDown();
    SetFullWindowDragging(savedDragging);
  }
  BOOL savedDragging = FALSE;
};

HWND OpenSizable() {
  return Hwnd(OpenAppWindow(1, 300, 200, 320, 240, WS_OVERLAPPEDWINDOW, "sizing"));
}

RECT RectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

POINT Cursor() {
  POINT at{};
  GetCursorPos(&at);
  return at;
}

// Puts the cursor somewhere and lets the moves it causes go by first.
void ParkCursor(int32_t x, int32_t y) {
  SetCursorPos(x, y);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageA(&message);
}

// Dispatches what the mode's cursor placements queued (mouse moves).
void Pump() {
  ParkCursor(Cursor().x, Cursor().y);
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

bool CursorIs(LPCSTR shape) {
  return GetCursor() == LoadCursorA(nullptr, shape);
}

bool SameRect(const RECT& a, const RECT& b) {
  return EqualRect(&a, &b) != FALSE;
}

// Where the cursor goes on one axis: at an edge of the rectangle plus an
// offset, or (no edge) where it was.
struct Anchor {
  LONG RECT::*edge;
  int32_t offset;
  LONG At(const RECT& rect, LONG was) const { return edge ? rect.*edge + offset : was; }
};

constexpr LONG RECT::*LEFT = &RECT::left;
constexpr LONG RECT::*RIGHT = &RECT::right;
constexpr LONG RECT::*TOP = &RECT::top;
constexpr LONG RECT::*BOTTOM = &RECT::bottom;

struct SideRow {
  WPARAM key;
  int32_t edge;
  LPCSTR shape;
  Anchor x, y;
};
// In key order: VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN.
const SideRow SIDES[] = {
    {VK_LEFT, WMSZ_LEFT, IDC_SIZEWE, {LEFT, 0}, {}},
    {VK_UP, WMSZ_TOP, IDC_SIZENS, {}, {TOP, 0}},
    {VK_RIGHT, WMSZ_RIGHT, IDC_SIZEWE, {RIGHT, -2}, {}},
    {VK_DOWN, WMSZ_BOTTOM, IDC_SIZENS, {}, {BOTTOM, -2}},
};

// The anchors' edges are the two edges the corner moves.
struct CornerRow {
  WPARAM first, second;
  int32_t edge;
  LPCSTR shape;
  Anchor x, y;
};
const CornerRow CORNERS[] = {
    {VK_LEFT, VK_UP, WMSZ_TOPLEFT, IDC_SIZENWSE, {LEFT, 2}, {TOP, 2}},
    {VK_LEFT, VK_DOWN, WMSZ_BOTTOMLEFT, IDC_SIZENESW, {LEFT, 0}, {BOTTOM, -2}},
    {VK_RIGHT, VK_UP, WMSZ_TOPRIGHT, IDC_SIZENESW, {RIGHT, -2}, {TOP, 0}},
    {VK_RIGHT, VK_DOWN, WMSZ_BOTTOMRIGHT, IDC_SIZENWSE, {RIGHT, -2}, {BOTTOM, -2}},
    {VK_UP, VK_LEFT, WMSZ_TOPLEFT, IDC_SIZENWSE, {LEFT, 2}, {TOP, 2}},
    {VK_UP, VK_RIGHT, WMSZ_TOPRIGHT, IDC_SIZENESW, {RIGHT, -2}, {TOP, 0}},
    {VK_DOWN, VK_LEFT, WMSZ_BOTTOMLEFT, IDC_SIZENESW, {LEFT, 0}, {BOTTOM, -2}},
    {VK_DOWN, VK_RIGHT, WMSZ_BOTTOMRIGHT, IDC_SIZENWSE, {RIGHT, -2}, {BOTTOM, -2}},
};

TEST_F(SizingTest, ArrowsPickASideThenACornerThenStep) {
  HWND window = OpenSizable();  // one window for all: each costs seconds under Wine
  const RECT start = RectOf(window);
  for (const CornerRow& c : CORNERS) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    MoveToRect(window, start);
    const POINT parked{start.left + 100, start.top + 80};
    ParkCursor(parked.x, parked.y);

    EXPECT_EQ(RequestSize(window), 0);
    EXPECT_TRUE(SizingState.active);
    EXPECT_EQ(GetCapture(), window);
    EXPECT_TRUE(CursorIs(IDC_SIZEALL));

    const SideRow& side = SIDES[c.first - VK_LEFT];
    Press(window, c.first);
    EXPECT_EQ(SizingState.edge, side.edge);
    EXPECT_EQ(Cursor().x, side.x.At(start, parked.x));
    EXPECT_EQ(Cursor().y, side.y.At(start, parked.y));
    EXPECT_TRUE(CursorIs(side.shape));
    Pump();  // the cursor's own move must not shift the edge it sits on
    EXPECT_TRUE(SameRect(RectOf(window), start));

    Press(window, c.second);
    EXPECT_EQ(SizingState.edge, c.edge);
    EXPECT_EQ(Cursor().x, c.x.At(start, 0));
    EXPECT_EQ(Cursor().y, c.y.At(start, 0));
    EXPECT_TRUE(CursorIs(c.shape));
    Pump();
    EXPECT_TRUE(SameRect(RectOf(window), start));

    // Each key moves the corner's edge on its axis by 10 pixels.
    const POINT before = Cursor();
    Press(window, c.first);
    Press(window, c.second);
    Pump();
    RECT moved = start;
    int32_t dx = c.x.edge == LEFT ? -10 : 10;
    int32_t dy = c.y.edge == TOP ? -10 : 10;
    moved.*c.x.edge += dx;
    moved.*c.y.edge += dy;
    EXPECT_TRUE(SameRect(RectOf(window), moved));
    EXPECT_EQ(Cursor().x, before.x + dx);
    EXPECT_EQ(Cursor().y, before.y + dy);

    Press(window, VK_RETURN);
    EXPECT_FALSE(SizingState.active);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(SameRect(RectOf(window), moved));
  }
}

TEST_F(SizingTest, TrackLimitsStopTheMovingEdge) {
  HWND window = OpenSizable();
  const RECT start = RectOf(window);
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
  struct Case {
    WPARAM side, grow, shrink;
    LONG RECT::*moving;
    LONG RECT::*fixed;
    LONG least, most;  // the size along the side's axis
  } cases[] = {
      {VK_LEFT, VK_LEFT, VK_RIGHT, LEFT, RIGHT, least.x, most.x},
      {VK_RIGHT, VK_RIGHT, VK_LEFT, RIGHT, LEFT, least.x, most.x},
      {VK_UP, VK_UP, VK_DOWN, TOP, BOTTOM, least.y, most.y},
      {VK_DOWN, VK_DOWN, VK_UP, BOTTOM, TOP, least.y, most.y},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.side);
    RequestSize(window);
    Press(window, c.side);
    auto size = [&] {
      RECT rect = RectOf(window);
      EXPECT_EQ(rect.*c.fixed, start.*c.fixed);
      return std::abs(rect.*c.moving - rect.*c.fixed);
    };
    Press(window, c.shrink, 6);
    EXPECT_EQ(size(), c.least);
    Press(window, c.grow, 12);
    EXPECT_EQ(size(), c.most);
    Press(window, VK_ESCAPE);
    EXPECT_TRUE(SameRect(RectOf(window), start));
  }

  // The mouse, even left of the client area, meets the same limits.
  RequestSize(window, WMSZ_LEFT);
  MoveMouseTo(window, {start.left - 20, start.top + 5});
  EXPECT_EQ(RectOf(window).left, start.left - 20);
  MoveMouseTo(window, {start.left - 200, start.top + 5});
  EXPECT_EQ(RectOf(window).left, start.right - most.x);
  SendMessageA(window, WM_LBUTTONUP, 0, 0);  // a release keeps the size
  EXPECT_FALSE(SizingState.active);
  EXPECT_TRUE(SameRect(RectOf(window),
                       {start.right - most.x, start.top, start.right, start.bottom}));
}

TEST_F(SizingTest, EscRestoresEnterKeepsAndTheCursorGoesBackIfTheMouseStayed) {
  HWND window = OpenSizable();
  const RECT start = RectOf(window);
  const POINT parked{start.left + 60, start.top + 50};
  static std::vector<UINT> heard;
  heard.clear();
  WindowCallback = [](HWND, UINT message, WPARAM, LPARAM) -> int32_t {
    if (message == WM_ENTERSIZEMOVE || message == WM_EXITSIZEMOVE || message == WM_SIZING)
      heard.push_back(message);
    return MSG_CONTINUE;
  };

  // Keys move the cursor, but only a mouse move cancels its return.
  ParkCursor(parked.x, parked.y);
  RequestSize(window);
  Press(window, VK_DOWN, 4);
  EXPECT_EQ(RectOf(window).bottom, start.bottom + 30);
  Press(window, VK_ESCAPE);
  EXPECT_TRUE(SameRect(RectOf(window), start));
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(Cursor().x, parked.x);
  EXPECT_EQ(Cursor().y, parked.y);
  Pump();
  EXPECT_EQ(heard, (std::vector<UINT>{WM_SIZING, WM_SIZING, WM_SIZING, WM_ENTERSIZEMOVE,
                                      WM_EXITSIZEMOVE}));

  // With no edge chosen a mouse move changes nothing but the cursor's return.
  RequestSize(window);
  MoveMouseTo(window, {parked.x + 5, parked.y + 5});
  EXPECT_TRUE(SameRect(RectOf(window), start));
  SetCursorPos(parked.x + 5, parked.y + 5);
  Press(window, VK_ESCAPE);
  EXPECT_EQ(Cursor().x, parked.x + 5);

  // A border drag names its edge at once; the cursor is on that border.
  ParkCursor(start.right - 2, start.top + 50);
  RequestSize(window, WMSZ_RIGHT);
  Press(window, VK_RIGHT, 2);
  Press(window, VK_RETURN);
  RECT kept = start;
  kept.right += 20;
  EXPECT_TRUE(SameRect(RectOf(window), kept));
  Press(window, VK_ESCAPE);  // after the mode, keys are the window's own
  EXPECT_TRUE(SameRect(RectOf(window), kept));
}

TEST_F(SizingTest, ModeStartsOnlyWithFullDraggingAndEndsWithCaptureOrWindow) {
  HWND window = OpenSizable();
  HWND other = Hwnd(OpenAppWindow(2, 40, 40, 100, 80, WS_OVERLAPPEDWINDOW, "other"));
  const RECT start = RectOf(window);

  // Only the handler is asked: the system's own modal loop must not start here.
  SetFullWindowDragging(FALSE);
  EXPECT_EQ(SizingHandler(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_LEFT, 0),
            MSG_NOT_HANDLED);
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(GetCapture(), nullptr);
  SetFullWindowDragging(TRUE);

  RequestSize(window, WMSZ_RIGHT);
  SetCapture(other);
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(GetCapture(), other);  // the new owner keeps it
  ReleaseCapture();
  MoveMouseTo(window, {start.right + 50, start.top + 5});
  EXPECT_TRUE(SameRect(RectOf(window), start));

  RequestSize(window);
  CloseAppWindow(1);
  EXPECT_FALSE(SizingState.active);
  EXPECT_EQ(RequestSize(other), 0);  // the next window can be sized
  EXPECT_EQ(SizingState.window, other);
  Press(other, VK_ESCAPE);
}

// The main form's flags, with keys and the request arriving through the queue
// and WaitEvent, as in the running tool.
TEST_F(SizingTest, MainFormSizesThroughTheEventLoop) {
  HWND form = Hwnd(OpenAppWindow(0, 328, 107, 361, 577, MAIN_FORM_FLAGS, "form"));
  ASSERT_NE(form, nullptr);
  const RECT start = RectOf(form);
  PostMessageA(form, WM_SYSCOMMAND, SC_SIZE, 0);
  for (WPARAM key : {VK_RIGHT, VK_DOWN, VK_RIGHT, VK_DOWN, VK_DOWN})
    PostMessageA(form, WM_KEYDOWN, key, 0);
  bool sized = false;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
    sized |= WaitEvent() == EV_SIZE;
  EXPECT_TRUE(sized);
  EXPECT_EQ(SizingState.edge, WMSZ_BOTTOMRIGHT);
  RECT grown = start;
  grown.right += 10;
  grown.bottom += 20;
  EXPECT_TRUE(SameRect(RectOf(form), grown));

  // Shrinking stops at the system's smallest track size.
  Press(form, VK_LEFT, 80);
  EXPECT_EQ(RectOf(form).right - RectOf(form).left, GetSystemMetrics(SM_CXMINTRACK));
  EXPECT_EQ(RectOf(form).left, start.left);
  PostMessageA(form, WM_KEYDOWN, VK_RETURN, 0);
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
    WaitEvent();
  EXPECT_FALSE(SizingState.active);
}

}  // namespace
