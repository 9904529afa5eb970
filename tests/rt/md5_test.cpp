#include "rt/fingerprints.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_files.h"

namespace {

class Md5Test : public FolderTest {};

std::string Random(size_t n) {
  std::mt19937 rng(1);
  return RandomBytes(rng, n);
}

// Some of RFC 1321's suite, the padding edges, and sizes around the file
// chunk (read in one, one and two chunks); digests from coreutils md5sum.
const std::pair<std::string, const char*> VECTORS[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
    {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
    {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
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
