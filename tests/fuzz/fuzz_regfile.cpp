// qv3sim's regedit file reader on arbitrary bytes: either a registry file or a RegParseError at a
// line; nothing else may leave it. A file it reads is written back and read again unchanged, also
// through the bytes regedit would save (UTF-16 with byte-order mark, CR LF).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "regfile.h"

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& text) {
  std::fprintf(stderr, "regedit reader: %s\n--- input ---\n%s\n", what.c_str(), text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string text;
  qv3sim::RegFile file;
  try {
    text = qv3sim::DecodeRegFileBytes(bytes);
    file = qv3sim::ParseRegFile(text);
  } catch (const qv3sim::RegParseError& e) {
    if (e.line() < 0 || e.column() < 0) Fail("negative line or column", bytes);
    return 0;
  }

  const std::string written = qv3sim::WriteRegFile(file);
  try {
    const qv3sim::RegFile again = qv3sim::ParseRegFile(written);
    if (again != file) Fail("the file changed on its way through its own text:\n" + written, text);
  } catch (const qv3sim::RegParseError& e) {
    Fail("its own text is refused at line " + std::to_string(e.line()) + ": " + e.what() +
             "\n" + written,
         text);
  }
  // As regedit would save it (UTF-16, CR LF) and read back: the same file.
  try {
    if (qv3sim::ParseRegFile(qv3sim::DecodeRegFileBytes(qv3sim::ToRegeditBytes(written))) != file)
      Fail("the file changed on its way through regedit's bytes:\n" + written, text);
  } catch (const qv3sim::RegParseError& e) {
    Fail("regedit's bytes of its own text are refused at line " + std::to_string(e.line()) +
             ": " + e.what(),
         text);
  }

  // Applying the sections gives one section per key.
  const qv3sim::RegFile flat = qv3sim::Flatten(file);
  for (const qv3sim::RegFileKey& key : flat.keys)
    if (key.deleted) Fail("a deletion survived flattening: " + key.path, text);
  return 0;
}
