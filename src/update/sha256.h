// SHA-256 (FIPS 180-4), the program's own: the CryptoAPI of Windows 2000 and of XP before SP3 has
// no SHA-256, and the updater must check its package on every Windows it runs on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  // The digest of everything given; the object is spent afterwards.
  Sha256Digest Finish();

 private:
  void Block(const std::uint8_t* block);
  std::uint32_t state_[8];
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes given so far
};

Sha256Digest Sha256Of(const void* data, std::size_t size);
// 64 lower-case hexadecimal digits.
std::string DigestHex(const Sha256Digest& digest);
// 64 hexadecimal digits, either case; nothing for any other text.
std::optional<Sha256Digest> ParseSha256(std::string_view hex);

}  // namespace qv
