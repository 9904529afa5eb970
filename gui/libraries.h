// The system libraries the window runtime calls beyond KERNEL32, and the
// registry functions the tool's settings use: loaded by the tool at its
// entry, from the system folder only (rt/libraries.h).
#pragma once

// Restricts the library search to the system folder, then loads them;
// false when one is missing.
bool LoadWindowLibraries();
