// The registry the contract suite runs against: the simulation natively, the real Windows
// registry (under wine) in the Windows builds. The same tests pass on both, which is how we know
// the simulation tells the truth.
#pragma once

#include "platform/seam.h"

namespace qv::contract {

struct Backend {
  win::ICodePage& codePage;
  win::IRegistry& registry;
  int processBits;  // word size of the test program
  // Word size of Windows: on 64-bit Windows a 32-bit program's HKLM\Software and HKCR\CLSID are
  // redirected to Wow6432Node, and KEY_WOW64_32KEY / KEY_WOW64_64KEY choose the view; 32-bit
  // Windows ignores both flags and has one view.
  int windowsBits;
  const char* name;
  // Key handles still open, where the backend can count them (the simulation); -1 otherwise.
  long (*openKeyHandles)();
  // True under Wine, where a few documented rules of Windows do not hold; the tests name them.
  bool isWine = false;
};

Backend& GetBackend();

}  // namespace qv::contract
