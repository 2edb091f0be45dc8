// The program's own SHA-256 against FIPS 180-4's examples and against sha256sum on a file of
// some megabytes, fed in pieces of awkward sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "update/sha256.h"

namespace qv {
namespace {

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

TEST(Sha256, StandardVectorsAndAFileAgainstSha256sum) {
  const Vector vectors[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"896 bits",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    EXPECT_EQ(DigestHex(Sha256Of(v.message.data(), v.message.size())), v.digest) << v.name;
    // The same in pieces of 1, 63 and 65 bytes: every way a block boundary can fall.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{65}}) {
      Sha256 hash;
      for (std::size_t at = 0; at < v.message.size(); at += piece)
        hash.Update(v.message.data() + at, std::min(piece, v.message.size() - at));
      EXPECT_EQ(DigestHex(hash.Finish()), v.digest) << v.name << " in pieces of " << piece;
    }
    EXPECT_EQ(ParseSha256(v.digest), Sha256Of(v.message.data(), v.message.size())) << v.name;
  }

  // 5 MB and a few bytes of pseudo-random data, read back in the updater's 64 KiB buffers.
  const std::string path = ::testing::TempDir() + "qv-sha256-test.bin";
  std::string data(5 * 1024 * 1024 + 123, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  Sha256 hash;
  for (std::size_t at = 0; at < data.size(); at += 65536)
    hash.Update(data.data() + at, std::min<std::size_t>(65536, data.size() - at));
  std::string expected(64, '?');
  FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  ASSERT_EQ(std::fread(expected.data(), 1, expected.size(), pipe), expected.size());
  ::pclose(pipe);
  std::remove(path.c_str());
  EXPECT_EQ(DigestHex(hash.Finish()), expected);

  // Anything but 64 hexadecimal digits is no hash.
  for (const char* bad : {"", "abc", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b85",
                          "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b85g"})
    EXPECT_FALSE(ParseSha256(bad).has_value()) << bad;
}

}  // namespace
}  // namespace qv
