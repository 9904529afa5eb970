#include "rt/fingerprints.h"

#include <windows.h>

#include "rt/heaps.h"
#include "rt/md5.h"
#include "rt/strings.h"

namespace {

char* PutHex(char* start, const unsigned char digest[16]) {
  char text[33];
  Md5DigestText(digest, text);
  return ScratchPut(start, text, 32);
}

// Feeds the digest the file's first size bytes, one read per chunk. False
// when a read fails or delivers less than asked: the bytes the size called
// for were not all there, and a digest of anything else would be wrong.
bool HashFile(Md5Context* context, HANDLE file, int32_t size, unsigned char* chunk) {
  while (size > 0) {
    DWORD wanted = size < MD5_CHUNK_SIZE ? size : MD5_CHUNK_SIZE;
    DWORD delivered = 0;
    if (!ReadFile(file, chunk, wanted, &delivered, nullptr) || delivered != wanted)
      return false;
    Md5Update(context, chunk, wanted);
    size -= static_cast<int32_t>(wanted);
  }
  return true;
}

}  // namespace

char* FileMd5Hex(const char* path) {
  char* start = ScratchCursor;
  if (path == nullptr || path[0] == '\0')
    return ScratchPut(start, "", 0);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return ScratchPut(start, "", 0);

  // Sizes are signed 32-bit: a larger file (or a failed query) has no
  // fingerprint rather than one of a part of it.
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  bool measurable = high == 0 && size <= INT32_MAX;
  auto* chunk = measurable ? static_cast<unsigned char*>(MainAlloc(MD5_CHUNK_SIZE)) : nullptr;
  Md5Context context;
  Md5Init(&context);
  bool complete =
      chunk != nullptr && HashFile(&context, file, static_cast<int32_t>(size), chunk);
  unsigned char digest[16];
  Md5Final(digest, &context);
  MainFree(chunk);
  CloseHandle(file);
  return complete ? PutHex(start, digest) : ScratchPut(start, "", 0);
}

char* BufferMd5Hex(const void* address, int32_t length) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, address, length > 0 ? static_cast<uint32_t>(length) : 0);
  unsigned char digest[16];
  Md5Final(digest, &context);
  return PutHex(ScratchCursor, digest);
}
