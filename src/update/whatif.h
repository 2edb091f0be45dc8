// What if (/whatif): the seam over the real machine that reads the machine as it is and records
// every change instead of making it. Later reads in the same run see what was recorded (a value
// written reads back, a key created opens, a file deleted is gone), so Main goes through the run
// as it would; nothing on the machine changes: no value, no key, no file, no folder, no program
// started, no dialog shown (each is answered with its default button, so the prompt counts as
// confirmed), no event written. Only reading is left to Windows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace qv {

// Everything a what-if run would have done, in order.
struct WhatIfRecord {
  struct Dialog {
    bool taskDialog = false;
    Text title, instruction, text, footer;
    std::vector<Text> buttons;  // as shown, Windows' own by their English names
    int answer = 0;             // the button it was taken as
  };
  struct Child {
    Text application, commandLine, folder;
  };
  // A registry value written (or deleted: no data), with what the key held before.
  struct Value {
    int view = 0;  // 32 or 64 on 64-bit Windows, 0 on 32-bit Windows
    Text key;      // as the program named it: "HKEY_LOCAL_MACHINE\Software\..."
    std::string name;  // in the ANSI code page; empty: the default value
    win::DWORD type = 0;
    std::string data;  // as the program passed it
    bool deleted = false;
    std::optional<std::pair<win::DWORD, std::string>> current;  // the value before; none: new
  };
  struct Key {
    int view = 0;
    Text path;
    bool deleted = false;
  };
  std::vector<Dialog> dialogs;
  std::vector<Child> children;
  std::vector<Value> values;
  std::vector<Key> keys;
  std::vector<Text> files;  // "created X", "deleted X", "created folder X", ... as the run would
  std::vector<Text> shortcuts;  // a saved shortcut's fields, one line each
  std::vector<Text> events;     // the Application events it would write
  std::vector<Text> exclusions;  // error-reporting exclusions it would add
};

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
