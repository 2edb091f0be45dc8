#include "platform/seam.h"

#include <windows.h>

#include <string>

#include "platform/win32/late_binding.h"

namespace qv::win {

::HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const ::UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
  // A full path: the loader searches no other folder for the DLL itself, and with
  // LOAD_WITH_ALTERED_SEARCH_PATH it looks for the DLL's own dependencies beside it first.
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* BindFunction(::HMODULE module, const char* function) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module, function));
}

}  // namespace qv::win
