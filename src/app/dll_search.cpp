#include "app/dll_search.h"

#include <windows.h>

namespace qv::app {

namespace {

// GetProcAddress gives a generic function pointer; going through void(*)() keeps the cast to the
// real signature explicit (and free of -Wcast-function-type).
template <typename Function>
Function Bind(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  return proc ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc)) : nullptr;
}

}  // namespace

bool HardenDllSearch() {
  // kernel32 is mapped into every process before the program's own code runs.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return false;

  using SetDllDirectoryWFunction = BOOL(WINAPI*)(LPCWSTR);
  if (auto setDllDirectory = Bind<SetDllDirectoryWFunction>(kernel32, "SetDllDirectoryW")) {
    setDllDirectory(L"");
  }

  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  auto setDefaultDllDirectories =
      Bind<SetDefaultDllDirectoriesFunction>(kernel32, "SetDefaultDllDirectories");
  return setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kSearchSystem32) != FALSE;
}

}  // namespace qv::app
