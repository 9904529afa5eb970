#include "gui/sizing.h"

#include <windowsx.h>

#include "gui/events.h"

SizingRecord SizingState;

namespace {

constexpr int32_t STEP = 10;
// The cursor sits this far inside a right or bottom edge and inside the
// top-left corner; tracking takes the same amount off again, so that placing
// the cursor on a newly chosen edge does not move that edge.
constexpr int32_t GRIP = 2;

// WMSZ_ codes add up: a corner is the sum of its two sides.
bool MovesLeft(int32_t edge) {
  return edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
}
bool MovesRight(int32_t edge) {
  return edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT;
}
bool MovesTop(int32_t edge) {
  return edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
}
bool MovesBottom(int32_t edge) {
  return edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT;
}

int32_t HorizontalPart(int32_t edge) {
  return MovesLeft(edge) ? WMSZ_LEFT : MovesRight(edge) ? WMSZ_RIGHT : 0;
}
int32_t VerticalPart(int32_t edge) {
  return MovesTop(edge) ? WMSZ_TOP : MovesBottom(edge) ? WMSZ_BOTTOM : 0;
}

int32_t GripInset(int32_t edge) {
  return edge == WMSZ_TOPLEFT ? GRIP : 0;
}

// Below the minimum wins over above the maximum, should a window give
// limits that cross.
int32_t LimitSize(int32_t size, int32_t minimum, int32_t maximum) {
  if (size < minimum)
    return minimum;
  if (size > maximum)
    return maximum;
  return size;
}

bool IsSizeRequest(UINT message, WPARAM wParam) {
  return message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_SIZE;
}

bool FullWindowDragging() {
  BOOL on = FALSE;
  SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &on, 0);
  return on != FALSE;
}

POINT FramePosition(HWND window) {
  if (GetWindowLongA(window, GWL_STYLE) & WS_BORDER)
    return {GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)};
  if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_WINDOWEDGE)
    return {GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE)};
  return {0, 0};
}

// The system's limits, then the window's say on them.
void FillLimits(HWND window) {
  MINMAXINFO& limits = SizingState.limits;
  limits.ptReserved = {0, 0};
  limits.ptMaxSize = {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)};
  limits.ptMaxPosition = FramePosition(window);
  limits.ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK),
                           GetSystemMetrics(SM_CYMINTRACK)};
  limits.ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXTRACK),
                           GetSystemMetrics(SM_CYMAXTRACK)};
  SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
}

HCURSOR LoadSizingCursor(LPCSTR shape) {
  return static_cast<HCURSOR>(
      LoadImageA(nullptr, shape, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

int32_t StartSizing(HWND window, WPARAM wParam) {
  if (!FullWindowDragging())
    return MSG_NOT_HANDLED;
  SizingState.active = true;
  SizingState.window = window;
  SizingState.edge = static_cast<int32_t>(wParam & 0xF);
  GetWindowRect(window, &SizingState.startRect);
  SizingState.trackRect = SizingState.startRect;
  FillLimits(window);
  // A request from the system menu comes without a press; the window sees
  // one, so that the release which may end the mode has its pair.
  if ((GetKeyState(VK_LBUTTON) & 0x8000) == 0)
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SetCapture(window);
  PostMessageA(window, WM_ENTERSIZEMOVE, 0, 0);
  SizingState.restoreCursor = SizingState.edge == 0;
  if (SizingState.restoreCursor) {
    GetCursorPos(&SizingState.savedCursor);
    SetCursor(LoadSizingCursor(IDC_SIZEALL));
  }
  return 0;
}

// The mode is left first: releasing the capture reports the loss back here.
void StopTracking() {
  SizingState.active = false;
  if (GetCapture() == SizingState.window)
    ReleaseCapture();
}

void FinishSizing() {
  PostMessageA(SizingState.window, WM_EXITSIZEMOVE, 0, 0);
  if (SizingState.restoreCursor)
    SetCursorPos(SizingState.savedCursor.x, SizingState.savedCursor.y);
}

void KeepSize() {
  StopTracking();
  FinishSizing();
}

void RestoreSize() {
  StopTracking();
  MoveToRect(SizingState.window, SizingState.startRect);
  FinishSizing();
}

// The window may still change the rectangle in its answer to WM_SIZING.
void ApplyTrackRect(HWND window) {
  SendMessageA(window, WM_SIZING, SizingState.edge,
               reinterpret_cast<LPARAM>(&SizingState.trackRect));
  MoveToRect(window, SizingState.trackRect);
}

void TrackMouse(HWND window, LPARAM lParam) {
  SizingState.restoreCursor = false;
  POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  MapWindowPoints(window, nullptr, &at, 1);
  TrackEdges(at.x, at.y);
  ApplyTrackRect(window);
}

LPCSTR ShapeOf(int32_t edge) {
  switch (edge) {
    case WMSZ_LEFT:
    case WMSZ_RIGHT:
      return IDC_SIZEWE;
    case WMSZ_TOP:
    case WMSZ_BOTTOM:
      return IDC_SIZENS;
    case WMSZ_TOPLEFT:
    case WMSZ_BOTTOMRIGHT:
      return IDC_SIZENWSE;
    default:
      return IDC_SIZENESW;
  }
}

// The point at which tracking leaves the chosen edges where they are; along
// an axis that no chosen edge covers the cursor keeps its place.
POINT GripPoint(int32_t edge, POINT cursor) {
  const RECT& track = SizingState.trackRect;
  if (MovesLeft(edge))
    cursor.x = track.left + GripInset(edge);
  else if (MovesRight(edge))
    cursor.x = track.right - GRIP;
  if (MovesTop(edge))
    cursor.y = track.top + GripInset(edge);
  else if (MovesBottom(edge))
    cursor.y = track.bottom - GRIP;
  return cursor;
}

void ChooseEdge(int32_t edge, POINT cursor) {
  SizingState.edge = edge;
  POINT grip = GripPoint(edge, cursor);
  PlaceSizingCursor(ShapeOf(edge), grip.x, grip.y);
}

struct Arrow {
  WPARAM key;
  int32_t side;  // the edge the key picks first
  int32_t dx, dy;
};
constexpr Arrow ARROWS[] = {
    {VK_LEFT, WMSZ_LEFT, -STEP, 0},
    {VK_RIGHT, WMSZ_RIGHT, STEP, 0},
    {VK_UP, WMSZ_TOP, 0, -STEP},
    {VK_DOWN, WMSZ_BOTTOM, 0, STEP},
};

// A key along an axis that a chosen edge covers steps; otherwise it adds its
// side to nothing or to a side of the other axis, making a side or a corner.
void PressArrow(HWND window, const Arrow& arrow) {
  POINT cursor;
  GetCursorPos(&cursor);
  int32_t edge = SizingState.edge;
  bool horizontal = arrow.dx != 0;
  int32_t along = horizontal ? HorizontalPart(edge) : VerticalPart(edge);
  int32_t across = horizontal ? VerticalPart(edge) : HorizontalPart(edge);
  if (along != 0)
    StepSizing(window, cursor.x + arrow.dx, cursor.y + arrow.dy);
  else if (across == edge)
    ChooseEdge(edge + arrow.side, cursor);
}

int32_t PressKey(HWND window, WPARAM key) {
  if (key == VK_RETURN) {
    KeepSize();
    return 0;
  }
  if (key == VK_ESCAPE) {
    RestoreSize();
    return 0;
  }
  for (const Arrow& arrow : ARROWS) {
    if (arrow.key == key)
      PressArrow(window, arrow);
  }
  return MSG_NOT_HANDLED;
}

int32_t HandleWhileSizing(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // One mode at a time, and never the system's sizing beside it.
  if (IsSizeRequest(message, wParam))
    return 0;
  if (window != SizingState.window)
    return MSG_NOT_HANDLED;
  switch (message) {
    case WM_MOUSEMOVE:
      TrackMouse(window, lParam);
      return 0;
    case WM_LBUTTONUP:
      KeepSize();
      return 0;
    case WM_KEYDOWN:
      return PressKey(window, wParam);
    case WM_CAPTURECHANGED:
      // Without the capture the mouse no longer reaches the mode; it ends
      // rather than lingering on until a stray click.
      if (reinterpret_cast<HWND>(lParam) != window)
        KeepSize();
      return MSG_NOT_HANDLED;
    case WM_DESTROY:
      KeepSize();
      return MSG_NOT_HANDLED;
    default:
      return MSG_NOT_HANDLED;
  }
}

}  // namespace

int32_t SizingHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (SizingState.active)
    return HandleWhileSizing(window, message, wParam, lParam);
  if (IsSizeRequest(message, wParam))
    return StartSizing(window, wParam);
  return MSG_NOT_HANDLED;
}

void PlaceSizingCursor(LPCSTR shape, int32_t x, int32_t y) {
  SetCursorPos(x, y);
  SetCursor(LoadSizingCursor(shape));
}

void StepSizing(HWND window, int32_t x, int32_t y) {
  SetCursorPos(x, y);
  TrackEdges(x, y);
  ApplyTrackRect(window);
}

void TrackEdges(int32_t x, int32_t y) {
  RECT& track = SizingState.trackRect;
  const POINT& least = SizingState.limits.ptMinTrackSize;
  const POINT& most = SizingState.limits.ptMaxTrackSize;
  int32_t edge = SizingState.edge;
  int32_t inset = GripInset(edge);
  if (MovesLeft(edge))
    track.left = track.right - LimitSize(track.right - (x - inset), least.x, most.x);
  if (MovesRight(edge))
    track.right = track.left + LimitSize(x + GRIP - track.left, least.x, most.x);
  if (MovesTop(edge))
    track.top = track.bottom - LimitSize(track.bottom - (y - inset), least.y, most.y);
  if (MovesBottom(edge))
    track.bottom = track.top + LimitSize(y + GRIP - track.top, least.y, most.y);
}

void MoveToRect(HWND window, const RECT& rect) {
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             TRUE);
}
