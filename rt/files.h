// Numbered file slots and unbuffered file I/O.
//
// Files are opened under a number the caller chooses (or -1 for an automatic
// number). Reads, writes and positioning act on the CurrentFile alone, which
// every open and SelectFile set. Each byte, value or line operation is one
// system read or write: positions are always the file's own, and two numbers
// can be read and written alternately.
#pragma once

#include <cstdint>

#include "rt/slots.h"

constexpr int32_t FILE_SIZE_MISSING = -1;
constexpr int32_t FILE_SIZE_DIRECTORY = -2;

// Records are file handles; process-wide, readable for inspection.
extern SlotTable FileSlotTable;

// The FileSlotTable (capacity 10) and no CurrentFile. False when the table
// cannot be allocated.
bool InitFileSlots();

// Size in bytes; FILE_SIZE_MISSING for a missing, null, empty or too long
// path; FILE_SIZE_DIRECTORY for a directory or an existing drive root.
int32_t QueryFileSize(const char* path);

// What tells one state of a file from another without reading it: its size
// and the time of its last write. All zero when the path names no file.
struct FileStamp {
  uint64_t size;
  uint64_t written;
  bool operator==(const FileStamp&) const = default;
};
FileStamp QueryFileStamp(const char* path);

// Opens: non-zero on success (the automatic number for -1), 0 on failure.
// A failed open leaves no CurrentFile and keeps the file already open under
// the number.
int32_t OpenForRead(int32_t number, const char* path);
int32_t OpenForUpdate(int32_t number, const char* path);
int32_t CreateForWrite(int32_t number, const char* path);
int32_t OpenExclusive(int32_t number, const char* path);

// Closing the CurrentFile's number also leaves no CurrentFile.
void CloseFileSlot(int32_t number);
// Automatically numbered files newest first, then numbers 0 upward.
void CloseAllFiles();

// Makes the number's file the CurrentFile if it is open. Returns the
// CurrentFile afterwards (0 for none).
int32_t SelectFile(int32_t number);
// -1 at the numbered file's end, 0 otherwise (and for a number not open).
int32_t FileAtEnd(int32_t number);

void SetFilePosition(int32_t position);
int32_t GetFilePosition();  // -1 without CurrentFile
int32_t GetFileLength();    // -1 without CurrentFile

// Byte counts actually read or written; 0 without CurrentFile.
int32_t ReadFileBlock(void* buffer, int32_t count);
int32_t WriteFileBlock(const void* buffer, int32_t count);
// Pushes the CurrentFile's written data to the disk. 1 on success, else 0.
int32_t FlushCurrentFile();

// Single values: one read into a zeroed value; 0 when nothing was read.
int32_t ReadFileByte();  // -128..127
int32_t ReadFileInt16();
int32_t ReadFileInt32();
float ReadFileFloat32();
int32_t WriteFileByte(int32_t value);  // 1, or 0 on failure

// A line up to CR, LF, CR LF, NUL or the end, as a string result at the
// ScratchCursor. A line longer than the room left is cut; the rest of the
// line is still consumed.
char* ReadTextLine();
// Text and CR LF; the total bytes written, 0 without CurrentFile.
int32_t WriteTextLine(const char* text);
