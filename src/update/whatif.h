// What if (/whatif): the seam over the real machine that reads the machine as it is and records
// every change instead of making it. Later reads in the same run see what was recorded (a value
// written reads back, a key created opens, a file deleted is gone), so Main goes through the run
// as it would; nothing on the machine changes: no value, no key, no file, no folder, no program
// started, no dialog shown (each is answered with its default button, so the prompt counts as
// confirmed), no event written. Only reading is left to Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace qv {

// Everything a what-if run would have done, in order. The registry changes are kept as values
// (the report groups them by key and view); the rest is kept as the report's lines.
struct WhatIfRecord {
  // A registry value written (or deleted: no data), with what the key held before; or a key made
  // or deleted (`key`: no value).
  struct Value {
    int view = 0;  // 32 or 64 on 64-bit Windows, 0 on 32-bit Windows
    Text key;      // as the program named it: "HKEY_LOCAL_MACHINE\Software\..."
    bool keyOnly = false;
    bool deleted = false;
    std::string name;  // in the ANSI code page; empty: the default value
    win::DWORD type = 0;
    std::string data;  // as the program passed it
    bool existed = false;  // the value was there before, as `before`
    win::DWORD beforeType = 0;
    std::string before;
    Text id;  // the key and the name in lower case, and the view: what tells values apart
  };
  std::vector<Value> values;
  // Lines ("...\n") of the dialogs (not shown), the child processes (not started), the file
  // changes, the error reporting exclusions and the events, with how many of each.
  Text dialogs, children, files, exclusions, events;
  int dialogCount = 0, childCount = 0, fileCount = 0;
};

// Bytes in the ANSI code page as Unicode, NULs kept.
Text AnsiText(win::ICodePage& codePage, const std::string& bytes);

class WhatIfPlatform {
 public:
  WhatIfPlatform(win::Platform& real, int processBits, int windowsBits);
  ~WhatIfPlatform();
  WhatIfPlatform(const WhatIfPlatform&) = delete;
  WhatIfPlatform& operator=(const WhatIfPlatform&) = delete;

  win::Platform& platform() { return *platform_; }
  const WhatIfRecord& record() const { return record_; }

 private:
  struct Areas;
  WhatIfRecord record_;
  std::unique_ptr<Areas> areas_;
  std::unique_ptr<win::Platform> platform_;
};

}  // namespace qv
