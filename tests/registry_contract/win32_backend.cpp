// The real registry of the Windows machine (or wine prefix) the suite runs on.
#include "backend.h"

#include "platform/win32/registry.h"

#include <windows.h>

namespace qv::contract {

namespace {
long Uncounted() { return -1; }
bool IsWine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}
}  // namespace

Backend& GetBackend() {
  static win::Win32Registry registry;
  static win::Win32CodePage codePage;
  static Backend backend{codePage, registry, static_cast<int>(sizeof(void*) * 8), "win32",
                         &Uncounted, IsWine()};
  return backend;
}

}  // namespace qv::contract
