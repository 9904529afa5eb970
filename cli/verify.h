// The console program's check of a finished patch (--verify), for release
// scripts that make a patch, sign it, then check it: the patch is read
// exactly as the stub will read it, signed or not, and with an old file
// given, decoded against it.
#pragma once

#include <cstdint>

// Exit codes besides 0 (the patch is sound and, with an old file, applies
// to it) and the usage error.
constexpr int32_t EXIT_PATCH_DAMAGED = 16;
constexpr int32_t EXIT_OLD_NOT_UPDATED = 17;  // not the version the patch updates
constexpr int32_t EXIT_UNREADABLE = 18;       // the patch or the old file

// Receives one line of text, without its line end.
using LineReport = void (*)(const char* line);

// Reports what the patch holds line by line to facts, and the verdict as
// one line to verdict; quiet leaves out the facts and a sound verdict.
// oldPath may be null. Returns the exit code.
int32_t VerifyPatch(const char* patchPath, const char* oldPath, bool quiet,
                    LineReport facts, LineReport verdict);
