// Binding of functions at first use. Only for translation units in win32/ that include
// <windows.h> after the project's headers.
#pragma once

namespace qv::win {

// A DLL of the system folder, loaded by its full path (GetSystemDirectoryW + "\" + name) with its
// own dependencies searched beside it; null when it cannot be loaded. Loaded once, kept loaded.
::HMODULE LoadSystemLibrary(const wchar_t* name);

// The address of `function` in `module`, null when the module or the function is missing.
void* BindFunction(::HMODULE module, const char* function);

}  // namespace qv::win
