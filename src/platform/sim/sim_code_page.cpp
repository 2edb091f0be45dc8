#include "platform/sim/sim_code_page.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace qv::sim {

namespace {

using win::DWORD;
using win::UINT;

// Precomposed character, base character, nonspacing mark: Unicode's canonical pairs whose
// precomposed character is in 1250, 1251, 1252 or 932 (sorted by the precomposed character).
struct Composition {
  char16_t composed, base, mark;
};
constexpr Composition kCompositions[] = {
    {0xC0, 'A', 0x300},       {0xC1, 'A', 0x301},       {0xC2, 'A', 0x302},
    {0xC3, 'A', 0x303},       {0xC4, 'A', 0x308},       {0xC5, 'A', 0x30A},
    {0xC7, 'C', 0x327},       {0xC8, 'E', 0x300},       {0xC9, 'E', 0x301},
    {0xCA, 'E', 0x302},       {0xCB, 'E', 0x308},       {0xCC, 'I', 0x300},
    {0xCD, 'I', 0x301},       {0xCE, 'I', 0x302},       {0xCF, 'I', 0x308},
    {0xD1, 'N', 0x303},       {0xD2, 'O', 0x300},       {0xD3, 'O', 0x301},
    {0xD4, 'O', 0x302},       {0xD5, 'O', 0x303},       {0xD6, 'O', 0x308},
    {0xD9, 'U', 0x300},       {0xDA, 'U', 0x301},       {0xDB, 'U', 0x302},
    {0xDC, 'U', 0x308},       {0xDD, 'Y', 0x301},       {0xE0, 'a', 0x300},
    {0xE1, 'a', 0x301},       {0xE2, 'a', 0x302},       {0xE3, 'a', 0x303},
    {0xE4, 'a', 0x308},       {0xE5, 'a', 0x30A},       {0xE7, 'c', 0x327},
    {0xE8, 'e', 0x300},       {0xE9, 'e', 0x301},       {0xEA, 'e', 0x302},
    {0xEB, 'e', 0x308},       {0xEC, 'i', 0x300},       {0xED, 'i', 0x301},
    {0xEE, 'i', 0x302},       {0xEF, 'i', 0x308},       {0xF1, 'n', 0x303},
    {0xF2, 'o', 0x300},       {0xF3, 'o', 0x301},       {0xF4, 'o', 0x302},
    {0xF5, 'o', 0x303},       {0xF6, 'o', 0x308},       {0xF9, 'u', 0x300},
    {0xFA, 'u', 0x301},       {0xFB, 'u', 0x302},       {0xFC, 'u', 0x308},
    {0xFD, 'y', 0x301},       {0xFF, 'y', 0x308},       {0x102, 'A', 0x306},
    {0x103, 'a', 0x306},      {0x104, 'A', 0x328},      {0x105, 'a', 0x328},
    {0x106, 'C', 0x301},      {0x107, 'c', 0x301},      {0x10C, 'C', 0x30C},
    {0x10D, 'c', 0x30C},      {0x10E, 'D', 0x30C},      {0x10F, 'd', 0x30C},
    {0x118, 'E', 0x328},      {0x119, 'e', 0x328},      {0x11A, 'E', 0x30C},
    {0x11B, 'e', 0x30C},      {0x139, 'L', 0x301},      {0x13A, 'l', 0x301},
    {0x13D, 'L', 0x30C},      {0x13E, 'l', 0x30C},      {0x143, 'N', 0x301},
    {0x144, 'n', 0x301},      {0x147, 'N', 0x30C},      {0x148, 'n', 0x30C},
    {0x150, 'O', 0x30B},      {0x151, 'o', 0x30B},      {0x154, 'R', 0x301},
    {0x155, 'r', 0x301},      {0x158, 'R', 0x30C},      {0x159, 'r', 0x30C},
    {0x15A, 'S', 0x301},      {0x15B, 's', 0x301},      {0x15E, 'S', 0x327},
    {0x15F, 's', 0x327},      {0x160, 'S', 0x30C},      {0x161, 's', 0x30C},
    {0x162, 'T', 0x327},      {0x163, 't', 0x327},      {0x164, 'T', 0x30C},
    {0x165, 't', 0x30C},      {0x16E, 'U', 0x30A},      {0x16F, 'u', 0x30A},
    {0x170, 'U', 0x30B},      {0x171, 'u', 0x30B},      {0x178, 'Y', 0x308},
    {0x179, 'Z', 0x301},      {0x17A, 'z', 0x301},      {0x17B, 'Z', 0x307},
    {0x17C, 'z', 0x307},      {0x17D, 'Z', 0x30C},      {0x17E, 'z', 0x30C},
    {0x401, 0x415, 0x308},    {0x403, 0x413, 0x301},    {0x407, 0x406, 0x308},
    {0x40C, 0x41A, 0x301},    {0x40E, 0x423, 0x306},    {0x419, 0x418, 0x306},
    {0x439, 0x438, 0x306},    {0x451, 0x435, 0x308},    {0x453, 0x433, 0x301},
    {0x457, 0x456, 0x308},    {0x45C, 0x43A, 0x301},    {0x45E, 0x443, 0x306},
    {0x2260, '=', 0x338},     {0x304C, 0x304B, 0x3099}, {0x304E, 0x304D, 0x3099},
    {0x3050, 0x304F, 0x3099}, {0x3052, 0x3051, 0x3099}, {0x3054, 0x3053, 0x3099},
    {0x3056, 0x3055, 0x3099}, {0x3058, 0x3057, 0x3099}, {0x305A, 0x3059, 0x3099},
    {0x305C, 0x305B, 0x3099}, {0x305E, 0x305D, 0x3099}, {0x3060, 0x305F, 0x3099},
    {0x3062, 0x3061, 0x3099}, {0x3065, 0x3064, 0x3099}, {0x3067, 0x3066, 0x3099},
    {0x3069, 0x3068, 0x3099}, {0x3070, 0x306F, 0x3099}, {0x3071, 0x306F, 0x309A},
    {0x3073, 0x3072, 0x3099}, {0x3074, 0x3072, 0x309A}, {0x3076, 0x3075, 0x3099},
    {0x3077, 0x3075, 0x309A}, {0x3079, 0x3078, 0x3099}, {0x307A, 0x3078, 0x309A},
    {0x307C, 0x307B, 0x3099}, {0x307D, 0x307B, 0x309A}, {0x309E, 0x309D, 0x3099},
    {0x30AC, 0x30AB, 0x3099}, {0x30AE, 0x30AD, 0x3099}, {0x30B0, 0x30AF, 0x3099},
    {0x30B2, 0x30B1, 0x3099}, {0x30B4, 0x30B3, 0x3099}, {0x30B6, 0x30B5, 0x3099},
    {0x30B8, 0x30B7, 0x3099}, {0x30BA, 0x30B9, 0x3099}, {0x30BC, 0x30BB, 0x3099},
    {0x30BE, 0x30BD, 0x3099}, {0x30C0, 0x30BF, 0x3099}, {0x30C2, 0x30C1, 0x3099},
    {0x30C5, 0x30C4, 0x3099}, {0x30C7, 0x30C6, 0x3099}, {0x30C9, 0x30C8, 0x3099},
    {0x30D0, 0x30CF, 0x3099}, {0x30D1, 0x30CF, 0x309A}, {0x30D3, 0x30D2, 0x3099},
    {0x30D4, 0x30D2, 0x309A}, {0x30D6, 0x30D5, 0x3099}, {0x30D7, 0x30D5, 0x309A},
    {0x30D9, 0x30D8, 0x3099}, {0x30DA, 0x30D8, 0x309A}, {0x30DC, 0x30DB, 0x3099},
    {0x30DD, 0x30DB, 0x309A}, {0x30F4, 0x30A6, 0x3099}, {0x30FE, 0x30FD, 0x3099},
};

bool IsNonSpacing(char16_t c) {
  return (c >= 0x300 && c <= 0x36F) || (c >= 0x20D0 && c <= 0x20FF) || c == 0x3099 || c == 0x309A;
}
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

const Composition* Decomposition(char16_t c) {
  const auto* end = std::end(kCompositions);
  const auto* it =
      std::lower_bound(std::begin(kCompositions), end, c,
                       [](const Composition& e, char16_t v) { return e.composed < v; });
  return it != end && it->composed == c ? it : nullptr;
}

char16_t Compose(char16_t base, char16_t mark) {
  for (const Composition& e : kCompositions)
    if (e.base == base && e.mark == mark) return e.composed;
  return 0;
}

constexpr std::uint16_t kNoCode = 0xFFFF;

// One code page's tables, as Windows' code page files hold them.
struct Page {
  std::array<char16_t, 256> single{};  // byte -> character (unused for lead bytes)
  std::array<bool, 256> lead{};        // lead bytes of a double-byte page
  std::vector<char16_t> pair;          // (lead << 8 | trail) -> character, 0 where none
  std::vector<std::uint16_t> code;     // character -> byte or (lead << 8 | trail), or kNoCode
  char16_t unicodeDefault = u'?';      // what undefined bytes read as
};

// One character from glibc's iconv, or nothing where glibc has none for the bytes.
std::optional<char16_t> Decode(iconv_t cd, const unsigned char* bytes, std::size_t n) {
  char in[2] = {};
  std::memcpy(in, bytes, n);
  unsigned char out[8];
  char* inPtr = in;
  char* outPtr = reinterpret_cast<char*>(out);
  std::size_t inLeft = n, outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
  if (!ok || inLeft != 0 || sizeof out - outLeft != 2) return std::nullopt;
  return static_cast<char16_t>(out[0] | out[1] << 8);
}

// Windows' characters for the single bytes glibc leaves undefined.
char16_t UndefinedByte(UINT cp, unsigned b) {
  if (cp == 932 && b == 0xA0) return 0xF8F0;
  if (cp == 932 && b >= 0xFD) return static_cast<char16_t>(0xF8F1 + (b - 0xFD));
  return static_cast<char16_t>(b);  // the C1 control of the same value (and 932's 0x80)
}

// The order in which WideCharToMultiByte prefers 932's duplicate codes for one character.
int Rank932(unsigned lead) {
  if (lead == 0x87) return 1;                  // NEC row 13
  if (lead >= 0xFA) return 2;                  // IBM extensions
  if (lead == 0xED || lead == 0xEE) return 3;  // NEC-selected IBM extensions
  return 0;
}

std::optional<Page> BuildPage(UINT cp) {
  const std::string name = "CP" + std::to_string(cp);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const bool dbcs = cp == 932;
  Page page;
  std::vector<std::uint16_t> order;  // codes, in order of preference for the way back
  for (unsigned b = 0; b < 256; ++b) {
    page.lead[b] = dbcs && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
    if (page.lead[b]) continue;
    const unsigned char byte = static_cast<unsigned char>(b);
    page.single[b] = Decode(cd, &byte, 1).value_or(UndefinedByte(cp, b));
    order.push_back(static_cast<std::uint16_t>(b));
  }
  if (dbcs) {
    page.unicodeDefault = 0x30FB;
    page.pair.assign(0x10000, 0);
    for (int rank = 0; rank < 4; ++rank)
      for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!page.lead[lead] || Rank932(lead) != rank) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
          const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                          static_cast<unsigned char>(trail)};
          const auto c = Decode(cd, bytes, 2);
          if (!c) continue;
          page.pair[lead << 8 | trail] = *c;
          order.push_back(static_cast<std::uint16_t>(lead << 8 | trail));
        }
      }
  }
  iconv_close(cd);
  page.code.assign(0x10000, kNoCode);
  for (std::uint16_t code : order) {
    const char16_t c = code < 0x100 ? page.single[code] : page.pair[code];
    if (page.code[c] == kNoCode) page.code[c] = code;
  }
  return page;
}

const Page* FindPage(UINT cp) {
  static const std::map<UINT, Page> pages = [] {
    std::map<UINT, Page> built;
    for (UINT id : {1250u, 1251u, 1252u, 932u})
      if (auto page = BuildPage(id)) built.emplace(id, std::move(*page));
    return built;
  }();
  const auto it = pages.find(cp);
  return it == pages.end() ? nullptr : &it->second;
}

// Windows' look-alike for a character the page lacks (partial: see the header).
std::uint16_t BestFit(UINT cp, char16_t c) {
  if (cp == 932) return c == 0xA5 ? 0x5C : c == 0x203E ? 0x7E : kNoCode;
  if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<std::uint16_t>(c - 0xFEE0);
  if (cp == 1252 && (c == 0x141 || c == 0x142)) return c == 0x141 ? 'L' : 'l';
  const Composition* d = (cp == 1250 || cp == 1252) && c < 0x180 ? Decomposition(c) : nullptr;
  return d && d->base < 0x80 ? d->base : kNoCode;
}

// Which flags a code page takes (the documentation of the two conversions).
enum class Rule { Utf, NoFlags, Table };

Rule RuleOf(UINT cp) {
  if (cp == win::CP_UTF8 || cp == 54936) return Rule::Utf;
  if (cp == 42 || cp == win::CP_UTF7 || (cp >= 50220 && cp <= 50229) ||
      (cp >= 57002 && cp <= 57011))
    return Rule::NoFlags;
  return Rule::Table;
}

struct Outcome {
  int result;
  DWORD error;
};
Outcome Fail(win::LONG error) { return {0, static_cast<DWORD>(error)}; }

// The converted output, and how much of it is whole characters that fit in `cap` units.
template <typename Unit>
struct Sink {
  std::basic_string<Unit> out;
  std::size_t cap;
  std::size_t fits = 0;
  void Add(std::basic_string_view<Unit> units) {
    out += units;
    if (out.size() <= cap) fits = out.size();
  }
  Outcome Deliver(Unit* dst) const {
    if (cap == 0) return {static_cast<int>(out.size()), 0};
    std::copy_n(out.data(), fits, dst);
    if (out.size() > cap) return Fail(win::ERROR_INSUFFICIENT_BUFFER);
    return {static_cast<int>(out.size()), 0};
  }
};

Outcome Utf16ToUtf8(DWORD flags, const char16_t* src, std::size_t n, char* dst, int cb) {
  Sink<char> sink{{}, static_cast<std::size_t>(cb)};
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = src[i];
    if (IsHighSurrogate(src[i]) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[++i] - 0xDC00);
    } else if (IsHighSurrogate(src[i]) || IsLowSurrogate(src[i])) {
      if (flags & win::WC_ERR_INVALID_CHARS) return Fail(win::ERROR_NO_UNICODE_TRANSLATION);
      c = 0xFFFD;
    }
    char b[4];
    std::size_t len = 0;
    if (c < 0x80) {
      b[len++] = static_cast<char>(c);
    } else {
      const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
      b[len++] = static_cast<char>(((0xFF00 >> (extra + 1)) & 0xFF) | (c >> (6 * extra)));
      for (int k = extra - 1; k >= 0; --k)
        b[len++] = static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    sink.Add({b, len});
  }
  return sink.Deliver(dst);
}

Outcome Utf8ToUtf16(DWORD flags, const unsigned char* src, std::size_t n, char16_t* dst, int cch) {
  Sink<char16_t> sink{{}, static_cast<std::size_t>(cch)};
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = src[i];
    int extra = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the first continuation byte
    if (b >= 0xC2 && b <= 0xDF)
      extra = 1;
    else if (b >= 0xE0 && b <= 0xEF)
      extra = 2, lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
    else if (b >= 0xF0 && b <= 0xF4)
      extra = 3, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    std::size_t k = 1;
    for (; k <= static_cast<std::size_t>(extra) && i + k < n; ++k) {
      if (src[i + k] < (k == 1 ? lo : 0x80) || src[i + k] > (k == 1 ? hi : 0xBF)) break;
      c = c << 6 | (src[i + k] & 0x3F);
    }
    if ((b >= 0x80 && extra == 0) || k <= static_cast<std::size_t>(extra)) {
      if (flags & win::MB_ERR_INVALID_CHARS) return Fail(win::ERROR_NO_UNICODE_TRANSLATION);
      c = 0xFFFD;  // one replacement for the maximal invalid part
    }
    i += k;
    if (c < 0x10000) {
      const char16_t unit = static_cast<char16_t>(c);
      sink.Add({&unit, 1});
    } else {
      const char16_t units[2] = {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                 static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
      sink.Add({units, 2});
    }
  }
  return sink.Deliver(dst);
}

constexpr DWORD kCompositeFlags = win::WC_SEPCHARS | win::WC_DISCARDNS | win::WC_DEFAULTCHAR;
constexpr DWORD kWcTableFlags =
    kCompositeFlags | win::WC_COMPOSITECHECK | win::WC_NO_BEST_FIT_CHARS;
constexpr DWORD kMbTableFlags =
    win::MB_PRECOMPOSED | win::MB_COMPOSITE | win::MB_USEGLYPHCHARS | win::MB_ERR_INVALID_CHARS;

Outcome ToBytes(UINT acp, UINT cp, DWORD flags, const char16_t* src, int cch, char* dst, int cb,
                const char* defaultChar, win::BOOL* usedDefaultChar) {
  if (!src || cch == 0 || cch < -1 || cb < 0 || (cb > 0 && !dst) ||
      (cb > 0 && static_cast<const void*>(src) == static_cast<const void*>(dst)))
    return Fail(win::ERROR_INVALID_PARAMETER);
  if (cp == win::CP_ACP) cp = acp;
  const std::size_t n =
      cch == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<std::size_t>(cch);
  const Rule rule = RuleOf(cp);
  if ((rule == Rule::Utf && (flags & ~win::WC_ERR_INVALID_CHARS)) ||
      (rule == Rule::NoFlags && flags))
    return Fail(win::ERROR_INVALID_FLAGS);
  if (cp == win::CP_UTF8) {
    if (defaultChar || usedDefaultChar) return Fail(win::ERROR_INVALID_PARAMETER);
    return Utf16ToUtf8(flags, src, n, dst, cb);
  }
  const Page* page = rule == Rule::Table ? FindPage(cp) : nullptr;
  if (!page) return Fail(win::ERROR_INVALID_PARAMETER);
  const DWORD composite = flags & kCompositeFlags;
  if ((flags & ~kWcTableFlags) || (composite & (composite - 1)) ||
      (composite && !(flags & win::WC_COMPOSITECHECK)))
    return Fail(win::ERROR_INVALID_FLAGS);

  std::string fallback = "?";  // the default character
  if (defaultChar) {
    const auto first = static_cast<unsigned char>(defaultChar[0]);
    fallback.assign(defaultChar, page->lead[first] && defaultChar[1] != '\0' ? 2 : 1);
  }
  Sink<char> sink{{}, static_cast<std::size_t>(cb)};
  bool usedDefault = false;
  auto useDefault = [&] {
    usedDefault = true;
    sink.Add(fallback);
  };
  auto put = [&](char16_t c) {
    std::uint16_t code = page->code[c];
    if (code == kNoCode && !(flags & win::WC_NO_BEST_FIT_CHARS)) code = BestFit(cp, c);
    if (code == kNoCode) return useDefault();
    const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    sink.Add(code > 0xFF ? std::string_view(bytes, 2) : std::string_view(bytes + 1, 1));
  };
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = src[i];
    const bool markFollows = i + 1 < n && IsNonSpacing(src[i + 1]);
    if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
      ++i;
      useDefault();  // one character outside the BMP, one default character
    } else if ((flags & win::WC_COMPOSITECHECK) && markFollows && Compose(c, src[i + 1])) {
      put(Compose(c, src[++i]));
    } else if ((flags & win::WC_DEFAULTCHAR) && markFollows) {
      ++i;
      useDefault();
    } else {
      put(c);
      while ((flags & win::WC_DISCARDNS) && i + 1 < n && IsNonSpacing(src[i + 1])) ++i;
    }
  }
  const Outcome outcome = sink.Deliver(dst);
  if (outcome.result && usedDefaultChar) *usedDefaultChar = usedDefault ? win::TRUE : win::FALSE;
  return outcome;
}

Outcome ToWide(UINT acp, UINT cp, DWORD flags, const char* source, int cb, char16_t* dst, int cch) {
  if (!source || cb == 0 || cb < -1 || cch < 0 || (cch > 0 && !dst) ||
      (cch > 0 && static_cast<const void*>(source) == static_cast<const void*>(dst)))
    return Fail(win::ERROR_INVALID_PARAMETER);
  if (cp == win::CP_ACP) cp = acp;
  const auto* src = reinterpret_cast<const unsigned char*>(source);
  const std::size_t n = cb == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(cb);
  const Rule rule = RuleOf(cp);
  if ((rule == Rule::Utf && (flags & ~win::MB_ERR_INVALID_CHARS)) ||
      (rule == Rule::NoFlags && flags))
    return Fail(win::ERROR_INVALID_FLAGS);
  if (cp == win::CP_UTF8) return Utf8ToUtf16(flags, src, n, dst, cch);
  const Page* page = rule == Rule::Table ? FindPage(cp) : nullptr;
  if (!page) return Fail(win::ERROR_INVALID_PARAMETER);
  if ((flags & ~kMbTableFlags) || ((flags & win::MB_PRECOMPOSED) && (flags & win::MB_COMPOSITE)))
    return Fail(win::ERROR_INVALID_FLAGS);

  Sink<char16_t> sink{{}, static_cast<std::size_t>(cch)};
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = page->single[src[i]];
    if (page->lead[src[i]]) {
      const bool hasTrail = i + 1 < n && src[i + 1] != 0;
      c = hasTrail ? page->pair[src[i] << 8 | src[i + 1]] : 0;
      i += hasTrail ? 1 : 0;
      if (c == 0 && (flags & win::MB_ERR_INVALID_CHARS))
        return Fail(win::ERROR_NO_UNICODE_TRANSLATION);
      if (c == 0) c = page->unicodeDefault;
    }
    const Composition* d = (flags & win::MB_COMPOSITE) ? Decomposition(c) : nullptr;
    const char16_t units[2] = {d ? d->base : c, d ? d->mark : u'\0'};
    sink.Add({units, d ? 2u : 1u});
  }
  return sink.Deliver(dst);
}

}  // namespace

int SimCodePage::WideCharToMultiByte(win::UINT CodePage, win::DWORD dwFlags,
                                     const win::WCHAR* lpWideCharStr, int cchWideChar,
                                     char* lpMultiByteStr, int cbMultiByte,
                                     const char* lpDefaultChar, win::BOOL* lpUsedDefaultChar) {
  const Outcome outcome = ToBytes(acp_, CodePage, dwFlags, lpWideCharStr, cchWideChar,
                                  lpMultiByteStr, cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
  if (outcome.error) lastError_ = outcome.error;
  return outcome.result;
}

int SimCodePage::MultiByteToWideChar(win::UINT CodePage, win::DWORD dwFlags,
                                     const char* lpMultiByteStr, int cbMultiByte,
                                     win::WCHAR* lpWideCharStr, int cchWideChar) {
  const Outcome outcome =
      ToWide(acp_, CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
  if (outcome.error) lastError_ = outcome.error;
  return outcome.result;
}

bool SimCodePage::Supported(win::UINT codePage) {
  return codePage == win::CP_UTF8 || FindPage(codePage) != nullptr;
}

AnsiString SimCodePage::ToAnsi(TextView text) const {
  if (text.empty()) return {};
  const int n = static_cast<int>(text.size());
  const int needed =
      ToBytes(acp_, win::CP_ACP, 0, text.data(), n, nullptr, 0, nullptr, nullptr).result;
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  if (needed > 0)
    ToBytes(acp_, win::CP_ACP, 0, text.data(), n, bytes.data(), needed, nullptr, nullptr);
  return AnsiString(std::move(bytes));
}

Text SimCodePage::FromAnsi(const AnsiString& ansi) const {
  const std::string& bytes = ansi.bytes();
  if (bytes.empty()) return {};
  const int n = static_cast<int>(bytes.size());
  const int needed = ToWide(acp_, win::CP_ACP, 0, bytes.data(), n, nullptr, 0).result;
  Text text(static_cast<std::size_t>(needed), u'\0');
  if (needed > 0) ToWide(acp_, win::CP_ACP, 0, bytes.data(), n, text.data(), needed);
  return text;
}

}  // namespace qv::sim
