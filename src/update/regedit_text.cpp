#include "update/regedit_text.h"

#include <cstdio>

namespace qv {

namespace {

std::string Escape(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::size_t CodePoints(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// regedit's wrapping: the line breaks after the comma that takes it to 77 characters or more;
// continuation lines start with two blanks.
std::string HexData(const std::string& prefix, const std::vector<std::uint8_t>& bytes) {
  std::string out = prefix;
  std::size_t lineLen = CodePoints(prefix);
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    out += buf;
    if (i + 1 == bytes.size()) break;
    out.push_back(',');
    lineLen += 3;
    if (lineLen >= 77) {
      out += "\\\n  ";
      lineLen = 2;
    }
  }
  return out;
}

}  // namespace

bool IsRegistryStringType(win::DWORD type) {
  return type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == win::REG_MULTI_SZ;
}

std::string RegeditValue(const Text& name, bool isDefault, bool deleted, win::DWORD type,
                         const Text& text, const std::vector<std::uint8_t>& bytes) {
  const std::string prefix = isDefault ? "@=" : "\"" + Escape(TextToUtf8(name)) + "\"=";
  if (deleted) return prefix + "-";
  if (type == win::REG_SZ && !text.empty() && text.back() == u'\0' &&
      text.find_first_of(Text(u"\0\r\n", 3)) == text.size() - 1)
    return prefix + "\"" + Escape(TextToUtf8(text.substr(0, text.size() - 1))) + "\"";
  if (type == win::REG_DWORD && bytes.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x",
                  static_cast<unsigned>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                        (static_cast<std::uint32_t>(bytes[3]) << 24)));
    return prefix + buf;
  }
  std::vector<std::uint8_t> data = bytes;
  if (IsRegistryStringType(type)) {
    data.clear();
    for (char16_t c : text) {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  char tag[16];
  if (type == win::REG_BINARY) std::snprintf(tag, sizeof tag, "hex:");
  else std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(type));
  return HexData(prefix + tag, data);
}

}  // namespace qv
