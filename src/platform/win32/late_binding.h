// Binding at first call. The executable imports only kernel32 and the C runtime (msvcrt) at load
// time; both are known DLLs that Windows maps from the system folder before any code of the
// program runs. Every other Windows function is bound here by library and function name at its
// first call, after the entry point has restricted the DLL search and preloaded the system
// libraries by full path. Only for translation units in win32/ that include <windows.h> after
// the project's headers.
#pragma once

namespace qv::win {

// The libraries the program binds functions from.
enum class SystemDll {
  advapi32,  // the registry
  user32,    // windows, message boxes
  comctl32,  // InitCommonControls, TaskDialogIndirect (version 6 through the manifest)
  ole32,     // COM: the shell link object
  shell32,   // SHGetFolderPathW
  version,   // the file version block
  wer,       // WerAddExcludedApplication (Windows Vista on)
  count
};

// The module of `dll`, loaded on first use and kept loaded; null when it cannot be loaded.
// comctl32 is loaded by name only when the process's activation context redirects that name to
// the side-by-side store (version 6); otherwise, and for every other library, by full path in
// the system folder.
::HMODULE Library(SystemDll dll);

// A DLL of the system folder, loaded by its full path (GetSystemDirectoryW + "\" + name); null
// when it cannot be loaded. Its own dependencies are looked up in the system folder, never in the
// folder the program was started from.
::HMODULE LoadSystemLibrary(const wchar_t* name);

// The address of `function` in `module`, null when the module or the function is missing.
void* BindFunction(::HMODULE module, const char* function);

// The function `name` of `dll` as the typed pointer `Function`, null when it cannot be bound.
template <typename Function>
Function Bind(SystemDll dll, const char* name) {
  // GetProcAddress gives an untyped address; going through void(*)() keeps the cast to the real
  // signature explicit (and free of -Wcast-function-type).
  void* address = BindFunction(Library(dll), name);
  return address ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address)) : nullptr;
}

// Tells the bindings whether the entry point could restrict the default DLL search to the
// system folder (SetDefaultDllDirectories); it decides how libraries are loaded by full path.
void SetSearchRestricted(bool restricted);

// The system libraries that Windows itself loads by name while the program runs (for the
// dialogs, the theme, the shell link object, COM, the version and error-reporting DLLs), each
// loaded now by full path in dependency order, so that a later load by name finds it already in
// the process and never looks in the program's folder. Returns how many of them were loaded;
// the names that do not exist on this Windows are passed over.
int PreloadSystemLibraries();

// The names PreloadSystemLibraries loads, in its order, ending with null.
const wchar_t* const* PreloadedLibraryNames();

}  // namespace qv::win

// One typed binding per function, named after it: a static pointer of exactly the type of the
// Windows header's declaration, bound on first use. `decltype` does not reference the function,
// so it adds no import; a call with the wrong arguments does not compile.
#define QV_BIND(dll, function)                                         \
  static const auto function##_bound = ::qv::win::Bind<decltype(&::function)>( \
      ::qv::win::SystemDll::dll, #function)
