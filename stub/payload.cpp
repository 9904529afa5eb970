// Reading the payload lines behind the stub's own image. Every line is
// checked (format/payload.h) before anything uses it.
#include <windows.h>

#include "format/compact.h"
#include "stub/stub.h"

Payload ThePayload;

namespace {

// Room for the longest lines the tool can write; in .bss, so it costs the
// stub's file nothing.
char LineBytes[PAYLOAD_LINES_LIMIT];

// Reads the lines; the stream's length is the rest of the file.
bool ReadLines(HANDLE file, int64_t* streamLength) {
  LARGE_INTEGER size, offset;
  offset.QuadPart = STUB_SIZE;
  DWORD count = 0;
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= STUB_SIZE ||
      !SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) ||
      !ReadFile(file, LineBytes, sizeof LineBytes, &count, nullptr))
    return false;
  int32_t used =
      SplitPayloadLines(LineBytes, static_cast<int32_t>(count), ThePayload.line);
  ThePayload.streamOffset = STUB_SIZE + static_cast<int64_t>(used);
  *streamLength = size.QuadPart - ThePayload.streamOffset;
  // The stream's first byte tells a compact stream from a plain one.
  unsigned char lead = 0;
  offset.QuadPart = ThePayload.streamOffset;
  ThePayload.compact = SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) &&
                       ReadFile(file, &lead, 1, &count, nullptr) && count == 1 &&
                       lead == COMPACT_LEAD;
  return used != 0;
}

}  // namespace

bool LoadPayload(const char* patchPath) {
  if (lstrlenA(patchPath) >= PATH_LIMIT)
    return false;
  lstrcpyA(ThePayload.patchPath, patchPath);
  HANDLE file = CreateFileA(patchPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  int64_t streamLength = 0;
  bool read = ReadLines(file, &streamLength);
  CloseHandle(file);
  // A compact stream's length says nothing; it is checked as it is decoded.
  return read && ReadPayloadLines(ThePayload.line, &ThePayload.facts) &&
         (ThePayload.compact ||
          StreamLengthPossible(streamLength, ThePayload.facts.newSize));
}
