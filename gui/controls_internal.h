// The control table and the per-kind operations, for gui/ code only.
//
// A ControlRecord is in use while its window is non-zero; the record is
// released by ControlSubclassProc when the control's window is destroyed.
// An empty ControlOps slot means the Win32 default (see gui/controls.cpp).
#pragma once

#include <windows.h>

#include <cstdint>

#include "gui/controls.h"
#include "rt/slots.h"

struct ControlOps {
  void (*free)(HWND window);
  int32_t (*getValue)(HWND window);
  int32_t (*setValue)(HWND window, int32_t value);
  char* (*getText)(HWND window);  // a string result at the ScratchCursor
  int32_t (*setText)(HWND window, const char* text);
};

struct ControlRecord {
  HWND window;  // 0: the number holds no control
  ControlOps* ops;
  WNDPROC previousProc;  // the control's own procedure, behind ControlSubclassProc
};
static_assert(sizeof(ControlRecord) == 12);

// Numbered controls, and in its list (ControlObjectList) the automatic ones.
extern SlotTable ControlTable;
extern ControlOps LabelOps;
extern ControlOps EditOps;
extern ControlOps ButtonOps;
extern ControlOps ProgressOps;

// The record of a live control of that number or automatic number, else null.
ControlRecord* FindControlRecord(int32_t number);

LRESULT CALLBACK ControlSubclassProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam);
LRESULT CALLBACK EditFocusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
