// The rules every requester follows, for gui/ code only (includes <windows.h>).
#pragma once

#include <windows.h>

#include <cstdint>

// The foreground window when it belongs to this process, else null.
HWND DialogOwner();

// On (non-zero): disables the calling thread's visible, enabled top-level
// windows except the foreground one, and remembers each in
// DisabledWindowList with the thread. Off (0): enables again the windows
// that this thread disabled; those of other threads stay as they are.
void ModalGuard(int32_t on);
