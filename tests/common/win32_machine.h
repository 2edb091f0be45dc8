// What the Windows test programs read from the machine they run on, not from the code under
// test: whether it is Wine, and the word size of Windows itself. Windows builds only.
#pragma once

#include <windows.h>

namespace qv::contract::machine {

inline bool IsWine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// The machine's own processor architecture, which a program under WOW64 learns only from
// GetNativeSystemInfo (missing before Windows XP, where there is no 64-bit Windows).
inline int WindowsBits() {
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

}  // namespace qv::contract::machine
