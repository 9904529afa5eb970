#include "rt/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "rt/fingerprints.h"
#include "tests/test_files.h"

namespace {

class Md5Test : public FolderTest {};

std::string Random(size_t n) {
  std::mt19937 rng(1);
  return RandomBytes(rng, n);
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
    {Random(999999), "7efe4ac95159c7ab53dcd2897462cbd0"},
    {Random(1000000), "c9bbb8f4cdeba34e7d98f49be9c65394"},
    {Random(1000001), "ec3336467cb59e5db5078f81e2286aff"},
};

TEST_F(Md5Test, KnownDigestsOfBuffersAndFiles) {
  for (const auto& [message, digest] : VECTORS) {
    SCOPED_TRACE(message.size());
    EXPECT_EQ(Taken(BufferMd5Hex(message.data(), static_cast<int32_t>(message.size()))),
              digest);
    EXPECT_EQ(Taken(FileMd5Hex(folder->Write("vector", message).c_str())), digest);
  }
  // A file open (read-shared) under a number can be fingerprinted meanwhile.
  ASSERT_NE(OpenForRead(7, folder->Path("vector").c_str()), 0);
  EXPECT_EQ(Taken(FileMd5Hex(folder->Path("vector").c_str())),
            std::end(VECTORS)[-1].second);
}

// Whatever the pieces Md5Update is given, the digest is the whole message's
// (md5sum's).
TEST_F(Md5Test, PiecewiseUpdatesGiveTheWholeDigest) {
  const std::string message = Random(700);
  for (size_t piece : {1, 3, 55, 63, 64, 65, 129}) {
    Md5Context context;
    Md5Init(&context);
    for (size_t at = 0; at < message.size(); at += piece)
      Md5Update(&context, &message[at],
                static_cast<uint32_t>(std::min(piece, message.size() - at)));
    unsigned char digest[16];
    char hex[33];
    Md5Final(digest, &context);
    for (int i = 0; i < 16; i++)
      std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    EXPECT_STREQ(hex, "1c5527c04cd43e0743426c00957acb8a") << "pieces of " << piece;
  }
}

TEST_F(Md5Test, NoFingerprintGivesTheEmptyString) {
  const std::string missing = folder->Path("missing");
  for (const char* path :
       {static_cast<const char*>(nullptr), "", missing.c_str(), folder->root.c_str()})
    EXPECT_EQ(Taken(FileMd5Hex(path)), "") << (path ? path : "null");
  // Linux system files report a page as their size but deliver a few bytes:
  // a digest of bytes never read would be wrong.
  const char* shortFile = "Z:\\sys\\devices\\system\\cpu\\online";
  if (QueryFileSize(shortFile) <= 64)
    GTEST_SKIP() << "no page-sized system file with short content at " << shortFile;
  EXPECT_EQ(Taken(FileMd5Hex(shortFile)), "");
}

}  // namespace
