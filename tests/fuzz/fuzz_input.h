// Reads a fuzzer's bytes as a stream of small decisions. Once the bytes are used up every read
// gives 0, so any input, however short, drives a complete and valid sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // A number in [0, n).
  std::size_t Pick(std::size_t n) { return n == 0 ? 0 : Byte() % n; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::uint32_t Dword() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return v;
  }
  template <typename T, std::size_t N>
  const T& From(const T (&items)[N]) {
    return items[Pick(N)];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace qv::fuzz
