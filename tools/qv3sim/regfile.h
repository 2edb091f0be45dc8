// Registry files in the format of regedit ("Windows Registry Editor Version 5.00"): reading them
// into the simulated machine's terms and writing them back.
//
// The model holds what the simulated registry holds: key paths, value names and string data as
// bytes in the machine's ANSI code page (1252), REG_SZ / REG_EXPAND_SZ / REG_MULTI_SZ data with
// their NUL terminators. The file itself is Unicode text; hex(2) and hex(7) data are UTF-16LE
// there, as regedit exports them, and are converted on the way in and out.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/sim_registry.h"

namespace qv3sim {

inline constexpr const char* kRegHeader = "Windows Registry Editor Version 5.00";

struct RegFileValue {
  std::string name;      // ANSI bytes; empty with isDefault for the key's default value (@)
  bool isDefault = false;
  bool deleted = false;  // "name"=-
  qv::sim::RegValue value;
  int line = 0;          // where it was read (1-based), 0 when made in code
  bool operator==(const RegFileValue& o) const {
    return name == o.name && isDefault == o.isDefault && deleted == o.deleted && value == o.value;
  }
};

// One [key] or [-key] section, in file order; a key may have several sections.
struct RegFileKey {
  std::string path;      // ANSI bytes, as written between the brackets
  bool deleted = false;  // [-path]
  std::vector<RegFileValue> values;
  int line = 0;
  bool operator==(const RegFileKey& o) const {
    return path == o.path && deleted == o.deleted && values == o.values;
  }
};

struct RegFile {
  std::vector<RegFileKey> keys;
  bool operator==(const RegFile& o) const { return keys == o.keys; }
  bool operator!=(const RegFile& o) const { return !(*this == o); }
};

// A problem in a registry file, at a 1-based line (and column, 0 when unknown).
class RegParseError : public std::runtime_error {
 public:
  RegParseError(int line, int column, const std::string& message)
      : std::runtime_error(message), line_(line), column_(column) {}
  int line() const { return line_; }
  int column() const { return column_; }

 private:
  int line_;
  int column_;
};

// The bytes of a .reg file as UTF-8 text: a UTF-16LE file (with its byte-order mark, as regedit
// writes them) is decoded, a UTF-8 byte-order mark is dropped. Throws RegParseError for a
// UTF-16 file of odd length.
std::string DecodeRegFileBytes(const std::string& bytes);

// Parses UTF-8 text (LF or CR LF line ends). Throws RegParseError.
RegFile ParseRegFile(const std::string& text);

// The file as regedit writes it: header, empty line, then each section followed by an empty
// line; long hex data wrapped with "\" as regedit wraps it. UTF-8 with LF line ends.
std::string WriteRegFile(const RegFile& file);

// One value line ("name"=data) without a line end, wrapped like regedit.
std::string FormatRegValue(const RegFileValue& value);

// UTF-8 text with LF line ends -> UTF-16LE with byte-order mark and CR LF, as regedit exports.
std::string ToRegeditBytes(const std::string& utf8);

// Applies the sections in order to a key/value list (deletions remove keys, their subkeys and
// values): the registry contents the file describes, one section per key, values in the order
// they were first set.
RegFile Flatten(const RegFile& file);

// ANSI (1252) <-> UTF-8, through the simulated machine's code page.
std::string AnsiToUtf8(const std::string& ansi);

// The ANSI code page of the described machine, in which the reader and writer above give and
// take registry names and string data: 1252 unless a scope on this thread says otherwise.
unsigned AnsiCodePage();
class AnsiCodePageScope {
 public:
  explicit AnsiCodePageScope(unsigned codePage);
  ~AnsiCodePageScope();
  AnsiCodePageScope(const AnsiCodePageScope&) = delete;
  AnsiCodePageScope& operator=(const AnsiCodePageScope&) = delete;

 private:
  unsigned previous_;
};
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace qv3sim
