#include "rt/settings.h"

#include <windows.h>

int32_t ReadUserNumber(const char* key, const char* name, int32_t fallback) {
  HKEY opened;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return fallback;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG read = RegQueryValueExA(opened, name, nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(opened);
  bool number = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
  return number ? static_cast<int32_t>(value) : fallback;
}

bool WriteUserNumber(const char* key, const char* name, int32_t value) {
  HKEY opened;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &opened, nullptr) != ERROR_SUCCESS)
    return false;
  auto number = static_cast<DWORD>(value);
  LONG written = RegSetValueExA(opened, name, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(opened);
  return written == ERROR_SUCCESS;
}
