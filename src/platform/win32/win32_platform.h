// The real seam of the shipped program: every area bound to Windows, handed to Main as one
// bundle.
#pragma once

#include "platform/seam.h"
#include "platform/win32/registry.h"
#include "platform/win32/win32_areas.h"

namespace qv::win {

class Win32Platform {
 public:
  Platform platform() {
    return Platform{codePage_, registry_, system_, processes_, windows_,
                    dialogs_,   shell_,    files_,  security_, eventLog_};
  }

 private:
  Win32CodePage codePage_;
  Win32Registry registry_;
  Win32System system_;
  Win32Processes processes_;
  Win32Windows windows_;
  Win32Dialogs dialogs_;
  Win32Shell shell_;
  Win32Files files_;
  Win32Security security_;
  Win32EventLog eventLog_;
};

}  // namespace qv::win
