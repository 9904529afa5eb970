// Controls addressed by number: labels, edit fields, buttons, progress bars.
//
// Control numbers are global to the program (not per window): 0 and up are
// chosen by the caller, -1 asks for an automatic number (returned by the
// creation and usable everywhere afterwards, until the control dies).
// Creating a control under a number that holds one destroys the old control
// first. A number is freed when its control's window is destroyed, also
// together with its parent window. Controls stand on the window named by the
// last SetControlParent.
//
// Operations on a number that holds no control do nothing and return 0 (or
// the empty string). String results follow rt/strings.h: built at the
// ScratchCursor, which is left on their NUL; they live until the cursor is
// rewound over them.
//
// InitControls runs once, after CreateHeaps and before any control is made.
// gui/ code that needs the table or the operation records includes
// gui/controls_internal.h.
#pragma once

#include <cstdint>

#include "gui/window_table.h"

// Creates the control table (capacity 30), takes the default GUI font and
// initialises the common controls.
void InitControls();

// The window on which the following creations place their controls (for
// example LastWindowHandle()). Returns its argument.
WindowRef SetControlParent(WindowRef window);

// Creations. Results: the control's window handle as an integer for numbers
// 0 and up (0 when no window was made); the automatic number for -1. x, y are
// client coordinates of the parent; width and height the outer size.
int32_t CreateLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text);
// flags merge into the static's style (1 = SS_CENTER); the bit 0x20000 also
// gives the label a sunken edge.
int32_t CreateLabelStyled(int32_t number, int32_t x, int32_t y, int32_t width,
                          int32_t height, const char* text, int32_t flags);
int32_t CreateEditField(int32_t number, int32_t x, int32_t y, int32_t width,
                        int32_t height, const char* text);
int32_t CreateButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* text);
// Range minimum..maximum, each taken as a 16-bit value. A failed progress
// bar returns 0 also for -1.
int32_t CreateProgressBar(int32_t number, int32_t x, int32_t y, int32_t width,
                          int32_t height, int32_t minimum, int32_t maximum);
int32_t CreateProgressBarStyled(int32_t number, int32_t x, int32_t y, int32_t width,
                                int32_t height, int32_t minimum, int32_t maximum,
                                int32_t flags);

// Sets the control's text; the result of SetWindowTextA (non-zero on success).
int32_t SetControlText(int32_t number, const char* text);
// The control's text, at most 31999 bytes (a progress bar's is empty).
char* GetControlText(int32_t number);
// Sets a button's check state (result 0) or a progress bar's position
// (result: the previous position); 0 and nothing done for labels and edits.
int32_t SetControlValue(int32_t number, int32_t value);
// Destroys the control; its number is freed as the window dies.
void FreeControl(int32_t number);
// Lets the control take the mouse and the keyboard, or greys it and lets it
// take neither.
void EnableControl(int32_t number, bool enabled);
