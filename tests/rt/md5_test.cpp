#include "rt/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "rt/fingerprints.h"
#include "tests/rt/file_helpers.h"

namespace {

class Md5Test : public FolderTest {};

std::string Kept(char* start) {
  std::string text = start ? start : "<null>";
  ScratchCursor = start;
  return text;
}

// Deterministic bytes: the top byte of a 32-bit linear congruential sequence.
std::string Generated(size_t n) {
  std::string bytes(n, '\0');
  uint32_t x = 1;
  for (char& c : bytes)
    c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return bytes;
}

// RFC 1321's suite, the padding edges, and sizes around the file chunk
// (read in one, one and two chunks); digests from coreutils md5sum.
const std::pair<std::string, const char*> VECTORS[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
    {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
    {std::string(57, 'x'), "693037871c4a9d3d8685018905cb530a"},
    {std::string(63, 'x'), "7dc2ca208106a2f703567bdff99d8981"},
    {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
    {std::string(65, 'x'), "1bc932052302d074bdec39795fe00cf6"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    {Generated(999999), "aa1f0170eef4e77b1141449edc52b754"},
    {Generated(1000000), "f8af957afe581dcfae9cb16cbffd4aa1"},
    {Generated(1000001), "28c7835ed7e0be7d4d54fc4d67f677bb"},
};

TEST_F(Md5Test, KnownDigestsOfBuffersAndFiles) {
  for (const auto& [message, digest] : VECTORS) {
    SCOPED_TRACE(message.size());
    EXPECT_EQ(Kept(BufferMd5Hex(message.data(), static_cast<int32_t>(message.size()))), digest);
    EXPECT_EQ(Kept(FileMd5Hex(folder->Write("vector", message).c_str())), digest);
  }
  // A file open (read-shared) under a number can be fingerprinted meanwhile.
  ASSERT_NE(OpenForRead(7, folder->Path("vector").c_str()), 0);
  EXPECT_EQ(Kept(FileMd5Hex(folder->Path("vector").c_str())), "28c7835ed7e0be7d4d54fc4d67f677bb");
}

// Whatever the pieces Md5Update is given, the digest is the whole message's,
// and the context is cleared afterwards.
TEST_F(Md5Test, PiecewiseUpdatesMatchOneUpdate) {
  const std::string message = Generated(700);
  unsigned char whole[16], pieces[16];
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, message.data(), static_cast<uint32_t>(message.size()));
  Md5Final(whole, &context);
  for (size_t piece : {1, 3, 55, 63, 64, 65, 129}) {
    Md5Init(&context);
    for (size_t at = 0; at < message.size(); at += piece)
      Md5Update(&context, &message[at],
                static_cast<uint32_t>(std::min(piece, message.size() - at)));
    Md5Final(pieces, &context);
    EXPECT_EQ(std::memcmp(whole, pieces, 16), 0) << "pieces of " << piece;
    EXPECT_EQ(context.count[0] | context.state[0] | context.buffer[0], 0u);
  }
}

TEST_F(Md5Test, NoFingerprintGivesTheEmptyString) {
  EXPECT_EQ(Kept(FileMd5Hex(nullptr)), "");
  EXPECT_EQ(Kept(FileMd5Hex("")), "");
  EXPECT_EQ(Kept(FileMd5Hex(folder->Path("missing").c_str())), "");
  EXPECT_EQ(Kept(FileMd5Hex(folder->root.c_str())), "");
  // Linux system files report a page as their size but deliver a few bytes:
  // a digest of bytes never read would be wrong.
  const char* shortFile = "Z:\\sys\\devices\\system\\cpu\\online";
  if (QueryFileSize(shortFile) > 64)
    EXPECT_EQ(Kept(FileMd5Hex(shortFile)), "");
  else
    GTEST_SKIP() << "no page-sized system file with short content at " << shortFile;
}

}  // namespace
