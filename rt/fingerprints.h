// Fingerprint texts: an MD5 digest as 32 lowercase hexadecimal characters,
// a string result at the ScratchCursor; the empty string when no digest can
// be computed.
#pragma once

#include <cstdint>

constexpr int32_t MD5_CHUNK_SIZE = 1000000;

// Reads the file through a read-shared handle of its own in chunks; the
// empty string for a null, empty or unreadable path, a file of 2^31 bytes or
// more, or when a read delivers fewer bytes than the file's size called for.
char* FileMd5Hex(const char* path);
char* BufferMd5Hex(const void* address, int32_t length);
