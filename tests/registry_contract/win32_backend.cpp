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
// The machine's own processor architecture, which a program under WOW64 learns only from
// GetNativeSystemInfo (missing before Windows XP, where there is no 64-bit Windows).
int WindowsBits() {
  using NativeInfo = void(WINAPI*)(::LPSYSTEM_INFO);
  const auto function = reinterpret_cast<NativeInfo>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo")));
  if (function == nullptr) return 32;
  ::SYSTEM_INFO info{};
  function(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
      return 64;
    default:
      return 32;
  }
}
}  // namespace

Backend& GetBackend() {
  static win::Win32Registry registry;
  static win::Win32CodePage codePage;
  static Backend backend{codePage, registry, static_cast<int>(sizeof(void*) * 8), WindowsBits(),
                         "win32", &Uncounted, IsWine()};
  return backend;
}

}  // namespace qv::contract
