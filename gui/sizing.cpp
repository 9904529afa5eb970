#include "gui/sizing.h"

#include "gui/events.h"

int32_t SizingHandler(HWND, UINT, WPARAM, LPARAM) {
  return MSG_NOT_HANDLED;
}
