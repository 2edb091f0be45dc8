#include "json_locator.h"

#include "platform/text.h"

namespace qv3sim {

TextPosition PositionOfOffset(const std::string& text, std::size_t offset) {
  TextPosition pos;
  if (offset > text.size()) offset = text.size();
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++pos.line;
      pos.column = 1;
    } else {
      ++pos.column;
    }
  }
  return pos;
}

JsonLocator::JsonLocator(const std::string& text) : text_(text) {
  offsets_[""] = 0;
  SkipBlanks();
  // The text was parsed before; a scan that runs off the end simply stops recording.
  if (i_ < text_.size()) Value("", 0);
}

std::string JsonLocator::Child(const std::string& pointer, const std::string& key) {
  std::string escaped;
  for (char c : key) {
    if (c == '~') escaped += "~0";
    else if (c == '/') escaped += "~1";
    else escaped.push_back(c);
  }
  return pointer + "/" + escaped;
}

std::string JsonLocator::Child(const std::string& pointer, std::size_t index) {
  return pointer + "/" + std::to_string(index);
}

TextPosition JsonLocator::Find(const std::string& pointer) const {
  std::string p = pointer;
  while (true) {
    auto it = offsets_.find(p);
    if (it != offsets_.end()) return PositionOfOffset(text_, it->second);
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return TextPosition{};
    p.erase(slash);
  }
}

void JsonLocator::SkipBlanks() {
  while (i_ < text_.size() &&
         (text_[i_] == ' ' || text_[i_] == '\t' || text_[i_] == '\r' || text_[i_] == '\n'))
    ++i_;
}

unsigned JsonLocator::Hex4(std::size_t at) const {
  unsigned value = 0;
  for (std::size_t k = at; k < at + 4; ++k) {
    const char c = k < text_.size() ? text_[k] : '0';
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

std::string JsonLocator::String() {
  std::string out;
  ++i_;  // opening quote
  while (i_ < text_.size() && text_[i_] != '"') {
    if (text_[i_] == '\\' && i_ + 1 < text_.size()) {
      const char e = text_[i_ + 1];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          // As the parser decodes it (a surrogate pair taken together), so that the key names
          // the member it holds.
          qv::Text units(1, static_cast<char16_t>(Hex4(i_ + 2)));
          i_ += 4;
          if (units[0] >= 0xD800 && units[0] < 0xDC00 && i_ + 8 <= text_.size() &&
              text_.compare(i_ + 2, 2, "\\u") == 0) {
            units.push_back(static_cast<char16_t>(Hex4(i_ + 4)));
            i_ += 6;
          }
          out += qv::TextToUtf8(units);
          break;
        }
        default: out.push_back(e); break;
      }
      i_ += 2;
      continue;
    }
    out.push_back(text_[i_++]);
  }
  ++i_;  // closing quote
  return out;
}

void JsonLocator::Value(const std::string& pointer, int depth) {
  SkipBlanks();
  // Deeper nesting than any description has: stop recording rather than recurse without end.
  if (i_ >= text_.size() || depth > 64) return;
  if (!offsets_.count(pointer)) offsets_[pointer] = i_;
  const char c = text_[i_];
  if (c == '{') {
    ++i_;
    std::map<std::string, std::size_t> keys;  // this object's keys and where each first stands
    while (true) {
      SkipBlanks();
      if (i_ >= text_.size()) return;
      if (text_[i_] == '}') { ++i_; return; }
      if (text_[i_] == ',') { ++i_; continue; }
      if (text_[i_] != '"') return;
      const std::size_t keyOffset = i_;
      const std::string key = String();
      const std::string child = Child(pointer, key);
      const auto [seen, isNew] = keys.emplace(key, keyOffset);
      if (isNew) offsets_[child] = keyOffset;
      else duplicates_.push_back({child, seen->second, keyOffset});
      SkipBlanks();
      if (i_ >= text_.size() || text_[i_] != ':') return;
      ++i_;
      const std::size_t before = i_;
      Value(child, depth + 1);
      if (i_ == before) return;
    }
  } else if (c == '[') {
    ++i_;
    std::size_t index = 0;
    while (true) {
      SkipBlanks();
      if (i_ >= text_.size()) return;
      if (text_[i_] == ']') { ++i_; return; }
      if (text_[i_] == ',') { ++i_; continue; }
      const std::size_t before = i_;
      Value(Child(pointer, index++), depth + 1);
      if (i_ == before) return;  // nothing this scan understands: stop here
    }
  } else if (c == '"') {
    String();
  } else {
    while (i_ < text_.size() && text_[i_] != ',' && text_[i_] != ']' && text_[i_] != '}' &&
           text_[i_] != ' ' && text_[i_] != '\t' && text_[i_] != '\r' && text_[i_] != '\n')
      ++i_;
  }
}

}  // namespace qv3sim
