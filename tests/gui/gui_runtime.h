// Shared by the GUI tests: the runtime set up once per process, and ways to
// run the event loop that can never block a test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <ostream>

#include "gui/controls_internal.h"
#include "gui/events_internal.h"
#include "gui/window_table_internal.h"
#include "rt/heaps.h"
#include "rt/strings.h"

// Rectangles and points compare and print by value in expectations.
inline bool operator==(const RECT& a, const RECT& b) {
  return EqualRect(&a, &b) != FALSE;
}
inline bool operator==(const POINT& a, const POINT& b) {
  return a.x == b.x && a.y == b.y;
}
inline void PrintTo(const RECT& r, std::ostream* out) {
  *out << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}
inline void PrintTo(const POINT& p, std::ostream* out) {
  *out << "(" << p.x << ", " << p.y << ")";
}

namespace gui_test {

// WaitEvent for an event already pending: a posted WM_NULL makes sure the
// call retrieves something that makes no event of its own.
inline int32_t PendingEvent() {
  PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
  return WaitEvent();
}

// Dispatches what is queued, without waiting and without making events.
inline void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageA(&message);
}

// Takes what is queued through WaitEvent, as the tool's loop does.
inline void DrainEvents() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
    WaitEvent();
}

inline HWND Hwnd(int32_t handle) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}

inline RECT RectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

// The scratch buffer's first byte, wherever other tests left the cursor.
inline char* ScratchStart() {
  return ScratchCursor + ScratchRoom(ScratchCursor) - (SCRATCH_SIZE - 1);
}

// Each test starts with no window, an empty queue, no pending event, no key
// down and the scratch cursor at the buffer's start.
class GuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool ready = CreateHeaps() && InitScratchBuffer() != nullptr;
    if (ready && WindowTable.records == nullptr) {
      InitWindowRuntime();
      InitControls();
    }
  }
  void SetUp() override {
    ASSERT_NE(WindowTable.records, nullptr);
    TearDown();
    ScratchCursor = ScratchStart();
  }
  void TearDown() override {
    CloseAllWindows();
    DrainEvents();
    EventState.code = 0;
    WindowCallback = nullptr;
    BYTE keys[256] = {};
    SetKeyboardState(keys);
  }
};

}  // namespace gui_test
