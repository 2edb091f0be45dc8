// Where each member and element of a JSON text starts, so that a problem found after parsing
// can be reported at its line. nlohmann's parser keeps no positions; this scans the (already
// valid) text once and records them by JSON pointer ("/files/2/version"), and the keys that an
// object holds more than once (which the parser would silently take the last of).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace qv3sim {

struct TextPosition {
  int line = 1;    // 1-based
  int column = 1;  // 1-based, in bytes
};

// Line and column of a byte offset of `text`.
TextPosition PositionOfOffset(const std::string& text, std::size_t offset);

// A key given twice in one object: its pointer and the offsets of both keys.
struct DuplicateKey {
  std::string pointer;
  std::size_t first = 0, second = 0;
};

class JsonLocator {
 public:
  explicit JsonLocator(const std::string& text);
  // The position of a member's key (object members) or of an element's value (array
  // elements). An unknown pointer falls back to its nearest recorded parent.
  TextPosition Find(const std::string& pointer) const;
  // The keys given more than once, in the order of their second appearance.
  const std::vector<DuplicateKey>& Duplicates() const { return duplicates_; }

  // "/a/b" + "c" -> "/a/b/c", with ~ and / escaped as JSON pointers escape them.
  static std::string Child(const std::string& pointer, const std::string& key);
  static std::string Child(const std::string& pointer, std::size_t index);

 private:
  void Value(const std::string& pointer, int depth);
  std::string String();
  unsigned Hex4(std::size_t at) const;
  void SkipBlanks();

  const std::string& text_;
  std::size_t i_ = 0;
  std::map<std::string, std::size_t> offsets_;
  std::vector<DuplicateKey> duplicates_;
};

}  // namespace qv3sim
