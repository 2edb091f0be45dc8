// The dynamic value the registry key object takes and gives: nothing, a text, a 16- or 32-bit
// signed integer, a byte array, or another scalar (floating-point number, boolean).
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "platform/text.h"

namespace qv {

using ByteArray = std::vector<std::uint8_t>;

class Variant {
 public:
  using Storage = std::variant<std::monostate, Text, std::int16_t, std::int32_t, ByteArray, double,
                               bool>;
  Variant() = default;
  Variant(Text t) : v_(std::move(t)) {}                 // NOLINT: implicit like the original
  Variant(const char16_t* t) : v_(Text(t)) {}           // NOLINT
  Variant(std::int16_t i) : v_(i) {}                    // NOLINT
  Variant(std::int32_t i) : v_(i) {}                    // NOLINT
  Variant(ByteArray b) : v_(std::move(b)) {}            // NOLINT
  Variant(double d) : v_(d) {}                          // NOLINT
  Variant(bool b) : v_(b) {}                            // NOLINT

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsText() const { return std::holds_alternative<Text>(v_); }
  bool IsInteger() const {
    return std::holds_alternative<std::int16_t>(v_) || std::holds_alternative<std::int32_t>(v_);
  }
  bool IsByteArray() const { return std::holds_alternative<ByteArray>(v_); }

  const Storage& storage() const { return v_; }
  // The integer (a 16-bit one sign-extended); only when IsInteger().
  std::int32_t AsInt32() const;
  const ByteArray& AsBytes() const { return std::get<ByteArray>(v_); }
  // The text form: text unchanged, integers in decimal with "-" when negative, empty as empty
  // text, booleans "True"/"False", floating-point numbers in their shortest decimal form,
  // byte arrays as their bytes in hexadecimal separated by blanks.
  Text ToText() const;

  friend bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }
  friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

 private:
  Storage v_;
};

}  // namespace qv
