// Waiting for events: the application's view of window messages.
//
// WaitEvent blocks in the thread's message queue until one message has been
// retrieved and dispatched, and returns an event code; EventControlNumber
// then names the control or command it concerns. A message that makes no
// event returns its own message number (256 for WM_KEYDOWN, 512 for
// WM_MOUSEMOVE...). An event made while the runtime was sending messages
// outside WaitEvent (creating a window, setting a text) stays pending and is
// returned by the next WaitEvent unless that call's message makes its own.
//
// gui/ code that needs the translator, EventState or the window callback
// includes gui/events_internal.h.
#pragma once

#include <cstdint>

// Event codes.
constexpr int32_t EV_MOVE = 3;               // a window moved
constexpr int32_t EV_SIZE = 5;               // a window changed size
constexpr int32_t EV_CLOSE = 16;             // close box; the window stays open
constexpr int32_t EV_CONTROL = 13100;        // a control was used
constexpr int32_t EV_MENU = 13101;           // a menu item or command
constexpr int32_t EV_CONTROL_CLICK = 13102;  // a control reported a mouse click

// Private window messages by which controls report to their window.
constexpr uint32_t MSG_CONTROL_MOUSE = 12501;  // wParam control, lParam mouse message
constexpr uint32_t MSG_CONTROL_MOUSE_QUEUED =
    12502;                                     // the same, re-posted by the translator
constexpr uint32_t MSG_CONTROL_FOCUS = 13103;  // wParam control, lParam FOCUS_*
constexpr int32_t FOCUS_GAINED = 14000;
constexpr int32_t FOCUS_LOST = 14001;

// Results of the translator and of a window callback.
constexpr int32_t MSG_NOT_HANDLED =
    static_cast<int32_t>(0xD0D0D0D1u);  // to DefWindowProcA
constexpr int32_t MSG_CONTINUE =
    static_cast<int32_t>(0xE0E0E0E1u);  // callback: translate on

// Commands of the two accelerators every window has.
constexpr int32_t CMD_FOCUS_NEXT = 1212;      // Tab
constexpr int32_t CMD_FOCUS_PREVIOUS = 1213;  // Shift+Tab

// A child with this identifier reports its WM_COMMAND as menu commands.
constexpr int32_t COMMAND_SOURCE_ID = -10000;

// Blocks until one message of the thread has been handled; returns its
// event code, or the message number when it made no event.
int32_t WaitEvent();

// The control or command number of the last control or menu event; kept
// across events of other kinds.
int32_t EventControlNumber();
