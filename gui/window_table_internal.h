// The window table, for gui/ code only (includes <windows.h>).
//
// A WindowRecord is in use while its handle is non-zero. Numbers 0 to the
// table's capacity index the table; any other value is the automatic number
// of a record in the table's ObjectList. Record addresses stay valid only
// until the next window is opened (the table may grow and move).
#pragma once

#include <windows.h>

#include <cstdint>

#include "gui/window_table.h"
#include "rt/slots.h"

struct WindowRecord {
  HWND handle;  // 0: the record holds no window
  int32_t acceleratorCount;
  ACCEL* acceleratorEntries;  // MainHeap, owned by the record
  HACCEL acceleratorTable;
};
static_assert(sizeof(WindowRecord) == 16);

// Numbered windows, and in its list the automatic ones.
extern SlotTable WindowTable;

// The module handle taken by InitWindowRuntime.
HINSTANCE ModuleInstance();

// The record of a live window of that number or automatic number, else null.
WindowRecord* FindWindowRecord(int32_t number);

// Window menu commands from here up are the system's own (SC_SIZE and on).
constexpr int32_t FIRST_SYSTEM_COMMAND = 0xF000;

// Gives window `number` its Tab / Shift+Tab accelerators; used by
// OpenAppWindow.
void CreateWindowAccelerators(int32_t number);

inline HWND ToHwnd(WindowRef window) {
  return reinterpret_cast<HWND>(window);
}
inline WindowRef ToWindowRef(HWND window) {
  return reinterpret_cast<WindowRef>(window);
}
