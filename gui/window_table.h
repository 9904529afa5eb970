// Top-level windows addressed by number.
//
// The application names each window by a number it chooses (0 and up) or
// asks for an automatic one with -1; the runtime keeps the Win32 handle, a
// window class of the window's own ("WindowClass_<number>") and the two Tab
// accelerators. Callers never see a Win32 type: a window handle travels as
// the opaque WindowRef, to be handed back to the runtime (SetControlParent)
// and never interpreted.
//
// InitWindowRuntime runs once, after CreateHeaps and before any window is
// opened. Every window is served by the event translator (gui/events.h).
// gui/ code that needs the window table itself includes
// gui/window_table_internal.h.
#pragma once

#include <cstdint>

// A window handle as an opaque integer; 0 means none.
using WindowRef = uintptr_t;

// Window flags: a Win32 window style in which three values mean something
// of their own and are taken out of the style. Every other bit (WS_CAPTION,
// WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZE...) passes through.
constexpr int32_t WF_SCREENCENTERED = 0x00000001;  // centre on the screen
constexpr int32_t WF_WINDOWCENTERED = 0x00000002;  // centre over the active window; wins
constexpr int32_t WF_INVISIBLE = 0x10000000;       // create hidden (else WS_VISIBLE)

// Creates the window table (capacity 10) and registers "TemplateClass".
// Takes the module handle itself (GetModuleHandleA(nullptr)).
void InitWindowRuntime();

// Opens window `number` (0 and up, or -1 for an automatic number), closing
// any window that held the number. x, y: the outer top-left corner on the
// screen (ignored when centred); width, height: the client area's size.
// A style of 0 (after taking out the flags) becomes WS_CAPTION. Returns the
// window handle as an integer, or for -1 the window's automatic number (a
// reference that every operation taking a window number accepts); 0 when the
// window could not be made.
int32_t OpenAppWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      int32_t flags, const char* title);

// The window most recently opened successfully; 0 before the first. Not
// cleared when that window closes.
WindowRef LastWindowHandle();

// The window menu (the system menu: Alt+Space, or the caption's icon). The
// application adds items under command numbers of its own, each a multiple
// of 16 from 16 to 0xEFF0, since the system keeps the low four bits and the
// numbers above for its own items. Choosing one makes an EV_MENU event with
// its number; the system's items work as they always do.
constexpr int32_t WINDOW_MENU_CLOSE = 0xF060;  // the system's own Close

// Appends a separator and an item with the text ('&' marks its key). False
// when the window has no window menu or the number is not the application's.
bool AddWindowMenuItem(int32_t number, int32_t command, const char* text);
// An item's check mark, and whether it can be chosen (else it is greyed);
// for the system's items as well. Nothing happens for an item not there.
void CheckWindowMenuItem(int32_t number, int32_t command, bool checked);
void EnableWindowMenuItem(int32_t number, int32_t command, bool enabled);

// Destroys the window of a number or automatic number, its class and its
// accelerators, and frees the number. Nothing happens when it holds no window.
void CloseAppWindow(int32_t number);

// Closes the automatic-number windows (newest first), then the numbered ones
// from the highest number down. Called once at exit, before the heaps go.
void CloseAllWindows();
