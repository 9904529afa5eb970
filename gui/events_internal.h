// The event translator, for gui/ code only (includes <windows.h>).
//
// AppWindowProc is the window procedure of every window of gui/window_table.h; it
// hands each message to TranslateWindowMessage, which records it in
// EventState, lets the keyboard sizing (gui/sizing.h) and then an installed
// WindowCallback look at it, and turns it into an event code.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gui/events.h"

struct EventRecord {
  int32_t code;           // pending event; 0 = none. Cleared by WaitEvent
  int32_t subtype;        // detail; -1 = none. Reset by every WaitEvent
  HWND window;            // receiver of the last message (top-level for some events)
  int32_t controlNumber;  // of the last control or menu event; never reset
  uint32_t message;       // last message translated
  LPARAM lParam;          // of the last message translated, or retrieved without event
  WPARAM wParam;
};
extern EventRecord EventState;

// An optional hook that sees every message before the translation; unless it
// returns MSG_CONTINUE its result is the message's result.
using WindowCallbackProc = int32_t (*)(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam);
extern WindowCallbackProc WindowCallback;

// Clears EventState and WindowCallback; part of InitWindowRuntime.
void ResetEventState();

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// MSG_NOT_HANDLED, or the result of a handled message.
int32_t TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The accelerator table of a window of the runtime; 0 for any other window
// and while Tab should reach a focused "Rich..." control as a plain key.
HACCEL FindAccelerators(HWND window);

// Tab and Shift+Tab focus cycling over the tab stops of the active window.
void FocusNext();
void FocusPrevious();

// The window's top-level ancestor (the window itself when it has no parent).
HWND TopLevelWindowOf(HWND window);
