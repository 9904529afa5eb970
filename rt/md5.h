// MD5 message digests after RFC 1321. Pure computation: bytes in, digest
// out; the context lives in the caller's frame.
#pragma once

#include <cstdint>

struct Md5Context {
  uint32_t state[4];
  uint32_t count[2];  // bits fed so far, low word first
  unsigned char buffer[64];
};

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* bytes, uint32_t count);
// Writes the digest and clears the context.
void Md5Final(unsigned char digest[16], Md5Context* context);
void Md5Transform(uint32_t state[4], const unsigned char block[64]);

// The digest as 32 lowercase hexadecimal digits (two per byte, in order)
// and a NUL.
void Md5DigestText(const unsigned char digest[16], char text[33]);
