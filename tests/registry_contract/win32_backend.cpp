// The real registry of the Windows machine (or wine prefix) the suite runs on.
#include "backend.h"

#include "platform/win32/registry.h"

#include <windows.h>

#include "win32_machine.h"

namespace qv::contract {

namespace {
long Uncounted() { return -1; }
}  // namespace

Backend& GetBackend() {
  static win::Win32Registry registry;
  static win::Win32CodePage codePage;
  static Backend backend{codePage, registry, static_cast<int>(sizeof(void*) * 8),
                         machine::WindowsBits(), "win32", &Uncounted, machine::IsWine()};
  return backend;
}

}  // namespace qv::contract
