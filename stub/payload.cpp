// Reading the payload lines behind the stub's own image. Every line is
// checked before anything uses it: the texts only for length and NUL bytes,
// the fingerprints, sizes and file name strictly, since they steer writes.
#include <windows.h>

#include "stub/stub.h"

Payload ThePayload;

namespace {

// The texts come from single-line edit fields; far more than any of them
// needs, yet bounded.
constexpr DWORD LINES_LIMIT = 65536;
constexpr int FINGERPRINT_LENGTH = 32;

char LineBytes[LINES_LIMIT + 1];

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int TextLength(const char* s) {
  int n = 0;
  while (s[n] != '\0')
    n++;
  return n;
}

// Empty, or 32 lowercase hexadecimal digits.
bool ValidFingerprint(const char* s) {
  int n = TextLength(s);
  for (int i = 0; i < n; i++)
    if (!IsLowerHex(s[i]))
      return false;
  return n == 0 || n == FINGERPRINT_LENGTH;
}

// Decimal digits without sign or leading zeros, at most 2^31 - 1.
bool ParseSize(const char* s, int32_t* value) {
  if (s[0] == '\0' || (s[0] == '0' && s[1] != '\0'))
    return false;
  int64_t v = 0;
  for (; *s != '\0'; s++) {
    if (*s < '0' || *s > '9')
      return false;
    v = v * 10 + (*s - '0');
    if (v > INT32_MAX)
      return false;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

// A bare file name: it must not lead the writes out of the chosen folder.
bool ValidFileName(const char* s) {
  int n = TextLength(s);
  if (n == 0 || n >= PATH_LIMIT - 16)
    return false;
  if ((n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.'))
    return false;
  for (int i = 0; i < n; i++) {
    unsigned char c = s[i];
    if (c < 32)
      return false;
    for (const char* bad = "\\/:*?\"<>|"; *bad != '\0'; bad++)
      if (c == static_cast<unsigned char>(*bad))
        return false;
  }
  return true;
}

// Cuts the bytes into LINE_COUNT lines in place, each ended by CR LF and
// free of NUL. Returns the bytes the lines take, 0 when they do not fit.
DWORD SplitLines(char* bytes, DWORD count) {
  DWORD start = 0;
  for (int i = 0; i < LINE_COUNT; i++) {
    DWORD end = start;
    while (end + 1 < count && !(bytes[end] == '\r' && bytes[end + 1] == '\n')) {
      if (bytes[end] == '\0')
        return 0;
      end++;
    }
    if (end + 1 >= count)
      return 0;
    bytes[end] = '\0';
    ThePayload.line[i] = bytes + start;
    start = end + 2;
  }
  return start;
}

bool CheckLines() {
  const char* const* line = ThePayload.line;
  return ValidFingerprint(line[LINE_OLD_FINGERPRINT]) &&
         ValidFingerprint(line[LINE_NEW_FINGERPRINT]) &&
         ParseSize(line[LINE_OLD_SIZE], &ThePayload.oldSize) &&
         ParseSize(line[LINE_NEW_SIZE], &ThePayload.newSize) &&
         ValidFileName(line[LINE_OLD_NAME]);
}

// Reads the lines; the stream's length is the rest of the file.
bool ReadLines(HANDLE file, int64_t* streamLength) {
  LARGE_INTEGER size, offset;
  offset.QuadPart = STUB_SIZE;
  DWORD count = 0;
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= STUB_SIZE ||
      !SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) ||
      !ReadFile(file, LineBytes, LINES_LIMIT, &count, nullptr))
    return false;
  DWORD used = SplitLines(LineBytes, count);
  ThePayload.streamOffset = STUB_SIZE + static_cast<int64_t>(used);
  *streamLength = size.QuadPart - ThePayload.streamOffset;
  return used != 0;
}

}  // namespace

bool LoadPayload() {
  DWORD n = GetModuleFileNameA(nullptr, ThePayload.patchPath, PATH_LIMIT);
  if (n == 0 || n >= static_cast<DWORD>(PATH_LIMIT))
    return false;
  HANDLE file = CreateFileA(ThePayload.patchPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  int64_t streamLength = 0;
  bool read = ReadLines(file, &streamLength);
  CloseHandle(file);
  // Each position of the new file takes one or two bytes of the stream.
  return read && CheckLines() && streamLength >= ThePayload.newSize &&
         streamLength <= 2 * static_cast<int64_t>(ThePayload.newSize);
}
