// Keyboard-driven window sizing, for gui/ code only.
//
// TranslateWindowMessage hands every message of every runtime window to
// SizingHandler before anything else looks at it. A consumed message (result
// 0) is finished: the translator returns 0 at once, so the system's own
// sizing does not run beside this one.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 when the message was consumed, MSG_NOT_HANDLED otherwise.
int32_t SizingHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
