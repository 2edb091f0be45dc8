#include "registry/variant.h"

#include <cstdio>
#include <type_traits>

namespace qv {

std::int32_t Variant::AsInt32() const {
  if (const auto* i16 = std::get_if<std::int16_t>(&v_)) return *i16;
  return std::get<std::int32_t>(v_);
}

Text Variant::ToText() const {
  return std::visit(
      [](const auto& value) -> Text {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return Text();
        } else if constexpr (std::is_same_v<T, Text>) {
          return value;
        } else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t>) {
          return IntToText(value);
        } else if constexpr (std::is_same_v<T, bool>) {
          return value ? Text(u"True") : Text(u"False");
        } else if constexpr (std::is_same_v<T, double>) {
          // Fifteen significant digits, as the classic text form of a double; snprintf keeps
          // the executable small (std::to_chars for double brings in large tables).
          char buffer[64];
          const int n = std::snprintf(buffer, sizeof buffer, "%.15G", value);
          return Utf8ToText(std::string_view(buffer, n > 0 ? static_cast<std::size_t>(n) : 0));
        } else {
          static const char16_t digits[] = u"0123456789ABCDEF";
          Text out;
          for (std::size_t i = 0; i < value.size(); ++i) {
            if (i) out.push_back(u' ');
            out.push_back(digits[value[i] >> 4]);
            out.push_back(digits[value[i] & 0xF]);
          }
          return out;
        }
      },
      v_);
}

}  // namespace qv
