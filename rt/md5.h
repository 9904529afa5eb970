// MD5 message digests (RFC 1321) and fingerprint texts.
//
// A fingerprint text is the 16 digest bytes as 32 lowercase hexadecimal
// characters, a string result at the ScratchCursor; the empty string when no
// digest can be computed.
#pragma once

#include <cstdint>

struct Md5Context {
  uint32_t state[4];
  uint32_t count[2];  // bits fed so far, low word first
  unsigned char buffer[64];
};

constexpr int32_t MD5_CHUNK_SIZE = 1000000;

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* bytes, uint32_t count);
// Writes the digest and clears the context.
void Md5Final(unsigned char digest[16], Md5Context* context);
void Md5Transform(uint32_t state[4], const unsigned char block[64]);

// Reads the file through a read-shared handle of its own in chunks; the
// empty string for a null, empty or unreadable path, or when a read delivers
// fewer bytes than the file's size called for.
char* FileMd5Hex(const char* path);
char* BufferMd5Hex(const void* address, int32_t length);
