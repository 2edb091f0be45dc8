#include "tool_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "json_locator.h"
#include "machine_desc.h"

namespace qv3sim {

std::size_t FirstNonUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length =
        c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size() || (length == 2 && c < 0xC2)) return i;
    const unsigned char c1 = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0x80;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
        (c == 0xF4 && c1 > 0x8F) || c > 0xF4)
      return i;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    i += length;
  }
  return std::string::npos;
}

std::string Utf8FileText(const std::string& bytes, const std::string& file, const char* accepted,
                         const char* remedy) {
  auto byte = [&bytes](std::size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u;
  };
  const char* other = nullptr;
  if (byte(0) == 0xFF && byte(1) == 0xFE)
    other = byte(2) == 0 && byte(3) == 0 ? "UTF-32 (little-endian, with a byte-order mark)"
                                         : "UTF-16 (little-endian, with a byte-order mark)";
  else if (byte(0) == 0xFE && byte(1) == 0xFF)
    other = "UTF-16 (big-endian, with a byte-order mark)";
  else if (byte(0) == 0 && byte(1) == 0 && byte(2) == 0xFE && byte(3) == 0xFF)
    other = "UTF-32 (big-endian, with a byte-order mark)";
  else if (bytes.size() >= 2 && byte(0) != 0 && byte(1) == 0)
    other = "UTF-16 (little-endian, without a byte-order mark)";
  else if (bytes.size() >= 2 && byte(0) == 0 && byte(1) != 0)
    other = "UTF-16 (big-endian, without a byte-order mark)";
  if (other)
    throw DescriptionError(file, 0, 0, std::string("the file is ") + other + "; " + accepted +
                                           ": " + remedy);
  const std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  const std::size_t bad = FirstNonUtf8(text);
  if (bad != std::string::npos) {
    const TextPosition pos = PositionOfOffset(text, bad);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(text[bad]));
    throw DescriptionError(file, pos.line, pos.column,
                           std::string("the byte ") + hex + " is not UTF-8; " + accepted +
                               ": a file saved as Windows-1252 or Latin-1 must be saved again "
                               "as UTF-8");
  }
  return text;
}

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path, std::string& why) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) {
    why = "there is no such file";
    return std::nullopt;
  }
  if (std::filesystem::is_directory(status)) {
    why = "it is a folder, not a file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string OutputFileProblem(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return "no file name given";
  std::error_code ec;
  if (fs::is_directory(fs::status(path, ec))) return "it is a folder; name a file in it";
  fs::path folder = fs::absolute(fs::path(path), ec).parent_path();
  if (ec) folder = fs::path(path).parent_path();
  const auto status = fs::status(folder, ec);
  if (!fs::exists(status)) return "the folder " + folder.string() + " does not exist";
  if (!fs::is_directory(status)) return folder.string() + " is not a folder";
  if (::access(folder.c_str(), W_OK) != 0)
    return "the folder " + folder.string() + " cannot be written to: " + std::strerror(errno);
  return "";
}

const std::pair<std::string, std::string>* InputAt(
    const std::string& output, const std::vector<std::pair<std::string, std::string>>& inputs) {
  std::error_code ec;
  for (const auto& input : inputs)
    if (std::filesystem::equivalent(output, input.second, ec)) return &input;
  return nullptr;
}

}  // namespace qv3sim
