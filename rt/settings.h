// Numbers remembered for the user from one run to the next: REG_DWORD
// values under a key of HKEY_CURRENT_USER, such as "Software\patchbuilder".
#pragma once

#include <cstdint>

// The value; fallback when the key or the value is missing, or the value
// is not a number.
int32_t ReadUserNumber(const char* key, const char* name, int32_t fallback);

// Creates the key when it is missing. False when the value was not written.
bool WriteUserNumber(const char* key, const char* name, int32_t value);
