#include "registry/variant.h"

#include <cmath>
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
#ifdef _WIN32
          // The C runtime's own formatter (MinGW's C99 one adds 25 KB). It writes at least
          // three exponent digits and its own names for infinity and NaN: the C99 forms here.
          if (std::isnan(value)) return std::signbit(value) ? Text(u"-NAN") : Text(u"NAN");
          if (std::isinf(value)) return value < 0 ? Text(u"-INF") : Text(u"INF");
          int n = _snprintf(buffer, sizeof buffer - 1, "%.15G", value);
          buffer[sizeof buffer - 1] = 0;
          if (n >= 5 && buffer[n - 5] == 'E' && (buffer[n - 4] == '+' || buffer[n - 4] == '-') &&
              buffer[n - 3] == '0') {
            buffer[n - 3] = buffer[n - 2], buffer[n - 2] = buffer[n - 1], buffer[--n] = 0;
          }
#else
          const int n = std::snprintf(buffer, sizeof buffer, "%.15G", value);
#endif
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
