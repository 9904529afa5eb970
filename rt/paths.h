// Operations on whole paths that the numbered file slots do not offer: file
// identity, temporary names, replacing moves and deletion. None of them
// touches the FileSlotTable or the CurrentFile. Results are 1 on success
// (or "yes"), 0 otherwise; string results follow the ScratchBuffer rules.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 when both paths name one existing file, however each is spelled
// (volume serial number and file index, not the texts); 0 when they differ
// or either cannot be opened.
int32_t SameFile(const char* a, const char* b);

// Creates an empty file with a new unique name in the folder of path (the
// current folder for a bare name) and returns its full name as a string
// result; the empty string when no file can be created there, and then the
// system's last error says why.
char* CreateTempFileBeside(const char* path);

// The same, its name copied into the room bytes at name: false, with no
// file left behind, when none can be made or its name does not fit.
bool KeepTempFileBeside(const char* path, char* name, size_t room);

// Moves from over to, replacing an existing file, and returns only when the
// move is on the disk.
int32_t MoveReplacing(const char* from, const char* to);

int32_t DeletePath(const char* path);
