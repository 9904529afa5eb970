// The string scratch buffer and the runtime's string operations.
//
// Strings are NUL-terminated bytes in the ANSI code page; a null string reads
// as the empty string everywhere. Every string result of the runtime is built
// in the one ScratchBuffer: at the ScratchCursor, or at an explicit
// destination inside the buffer. Afterwards the ScratchCursor points at the
// result's NUL and the result's start is returned. A result lives until the
// cursor is rewound over it; StoreString keeps a copy in a StringVar and
// rewinds the cursor to the result's start.
//
// A result that would run past the end of the buffer is cut there and still
// NUL-terminated; nothing is ever written beyond the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// Null (the empty string) or a NUL-terminated block in MainHeap it owns.
using StringVar = char*;

constexpr int32_t SCRATCH_SIZE = 64000;

extern char* ScratchCursor;

// Allocates the zero-filled buffer once and points the cursor at it. Returns
// the cursor, null when the buffer cannot be allocated.
char* InitScratchBuffer();

// Bytes that can still be written at a position before the buffer's last
// byte, which only ever holds a NUL; 0 for a position outside the buffer.
size_t ScratchRoom(const char* destination);
// Writes count bytes (cut to the room left) and a NUL at the destination,
// leaves the cursor on the NUL and returns the destination.
char* ScratchPut(char* destination, const char* bytes, size_t count);

// Saves the ScratchCursor and rewinds it there when the scope ends, so that
// results used at once are released on every path.
struct ScratchMark {
  char* const start = ScratchCursor;

  ScratchMark() = default;
  ScratchMark(const ScratchMark&) = delete;
  ScratchMark& operator=(const ScratchMark&) = delete;
  ~ScratchMark() { ScratchCursor = start; }
};

// Frees the variable's block and stores a copy of the string from start up
// to the cursor (or its first NUL); the cursor goes back to start. When no
// block can be allocated the variable becomes null, the empty string.
void StoreString(StringVar* variable, char* start);
// Frees the variable's block (if any) and makes it null.
void FreeString(StringVar* variable);
// Frees the block and stores a fresh copy of text (null text: null).
void AssignText(StringVar* variable, const char* text);

int StringsEqual(const char* a, const char* b);   // 1 when equal, else 0
int StringGreater(const char* a, const char* b);  // 1 when a sorts after b
int StringLess(const char* a, const char* b);     // 1 when a sorts before b
int32_t StringLength(const char* s);
int32_t FirstCharCode(const char* s);  // 0..255; 0 for null or empty
// Spaces, an optional sign, decimal digits; modulo 2^32. 0 for no digits.
int32_t ParseInteger(const char* s);

// Appends text at the cursor; a null text appends nothing.
void AppendString(const char* text);

// Results at an explicit destination, which may be the source's own start.
char* ToLowerCase(const char* source, char* destination);
char* ToUpperCase(const char* source, char* destination);
char* LeftPart(const char* source, int32_t n, char* destination);
char* RightPart(const char* source, int32_t n, char* destination);
char* MiddlePart(const char* source, int32_t start, int32_t n, char* destination);
char* TrimLeading(const char* source, char* destination);
char* TrimTrailing(const char* source, char* destination);
char* TrimBoth(const char* source, char* destination);
char* SpaceString(int32_t n, char* destination);
char* CharString(int32_t code, char* destination);
char* FormatDecimal(int32_t value, char* destination);  // "%ld"
char* FormatHex(int32_t value, char* destination);      // "%lX"
// "%lu" of the value masked to 8 bits (width 0), 16 bits (width 1) or not.
char* FormatUnsignedDecimal(int32_t value, int32_t width, char* destination);

// The name after the path's last backslash, without quotes; at the cursor.
char* PathFileName(const char* path);

// Field descriptors for FreeRecordStrings: offsets of StringVar fields,
// ended by FIELDS_END. FIELDS_ARRAY starts a nested array: count, offset of
// its first element, element size, then the element's own descriptor.
constexpr int32_t FIELDS_END = -1;
constexpr int32_t FIELDS_ARRAY = -2;
void FreeRecordStrings(void* record, const int32_t* descriptor);
