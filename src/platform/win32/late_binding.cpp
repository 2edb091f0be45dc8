#include "platform/seam.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/late_binding.h"

namespace qv::win {

::HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const ::UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  // A fixed buffer: std::wstring would add its own code to an executable that has no other use
  // for it.
  wchar_t path[2 * MAX_PATH];
  const std::size_t nameLength = ::wcslen(name);
  if (length + 1 + nameLength >= sizeof path / sizeof path[0]) return nullptr;
  ::wmemcpy(path, folder, length);
  path[length] = L'\\';
  ::wmemcpy(path + length + 1, name, nameLength + 1);
  // A full path: the loader searches no other folder for the DLL itself, and with
  // LOAD_WITH_ALTERED_SEARCH_PATH it looks for the DLL's own dependencies beside it first.
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* BindFunction(::HMODULE module, const char* function) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module, function));
}

}  // namespace qv::win
