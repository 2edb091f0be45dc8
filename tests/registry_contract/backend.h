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
  const char* name;
  // Key handles still open, where the backend can count them (the simulation); -1 otherwise.
  long (*openKeyHandles)();
  // True under Wine, where a few documented rules of Windows do not hold; the tests name them.
  bool isWine = false;
};

Backend& GetBackend();

}  // namespace qv::contract
