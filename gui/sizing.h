// Keyboard-driven window sizing, for gui/ code only.
//
// A size request (WM_SYSCOMMAND SC_SIZE: a border dragged, or Size in the
// system menu) on a runtime window, while the system shows window contents
// during dragging, starts a sizing mode of the runtime's own: the arrow keys
// pick a side, then a corner, then move the chosen edges 10 pixels a step;
// the mouse drags them through the capture; Enter or a release of the left
// button keeps the new size, Esc restores the old one. Every change is
// announced with WM_SIZING and applied at once. With full-window dragging off
// the request is left to the system.
//
// TranslateWindowMessage hands every message of every runtime window to
// SizingHandler before anything else looks at it. A consumed message (result
// 0) is finished: the translator returns 0 at once, so the system's own
// sizing loop never runs beside this mode. One window at a time is sized.
#pragma once

#include <windows.h>

#include <cstdint>

struct SizingRecord {
  bool active;         // the mode runs
  MINMAXINFO limits;   // taken at the start; only the track sizes are used
  int32_t edge;        // the moving edges as a WMSZ_ code; 0 = none chosen yet
  RECT startRect;      // window rectangle at the start, screen coordinates
  RECT trackRect;      // the rectangle being sized, screen coordinates
  POINT savedCursor;   // cursor position when the mode started without an edge
  bool restoreCursor;  // put the cursor back at savedCursor at the end
  HWND window;         // the window being sized
};
extern SizingRecord SizingState;

// 0 when the message was consumed, MSG_NOT_HANDLED otherwise.
int32_t SizingHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the cursor to (x, y) on the screen and gives it a system shape
// (IDC_SIZEWE, IDC_SIZENS, IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEALL).
void PlaceSizingCursor(LPCSTR shape, int32_t x, int32_t y);

// Moves the cursor and the chosen edges to (x, y) and resizes the window.
void StepSizing(HWND window, int32_t x, int32_t y);

// Moves the chosen edges of trackRect to the screen position (x, y), keeping
// the width and height within the track limits: a moving edge stops at a
// limit, the opposite edge stays.
void TrackEdges(int32_t x, int32_t y);

// Moves and sizes a top-level window to a rectangle in screen coordinates.
void MoveToRect(HWND window, const RECT& rect);
