#include "platform/seam.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

bool searchRestricted = false;

// The file names of SystemDll, in its order.
constexpr const wchar_t* kLibraryNames[] = {L"advapi32.dll", L"user32.dll",  L"comctl32.dll",
                                            L"ole32.dll",    L"shell32.dll", L"version.dll",
                                            L"wer.dll"};
static_assert(sizeof kLibraryNames / sizeof kLibraryNames[0] ==
                  static_cast<unsigned>(SystemDll::count),
              "one file name per library");

// What Windows loads by name during a run, besides kernel32, ntdll and msvcrt (mapped before the
// program's first instruction). Dependencies come before the libraries that load them, so that
// each full-path load finds its own imports already in the process. Collected from loader traces
// of complete runs under Wine (every Windows level, both builds) and from what Windows documents
// of the libraries the program uses. Names that a Windows version lacks are passed over there.
constexpr const wchar_t* kPreloadNames[] = {
    L"kernelbase.dll",  // kernel32's own half from Windows 7 on; imported by everything below
    L"ucrtbase.dll",    // the universal C runtime (Windows 10 on), imported by the system's DLLs
    L"sechost.dll",     // advapi32's service and security half (Windows 8 on)
    L"advapi32.dll",    // the registry; also imported by user32, ole32 and the shell
    L"rpcrt4.dll",      // imported by advapi32 and ole32 (COM's transport)
    // Before gdi32 and user32: user32 imports it and is itself loaded as a dependency of gdi32
    // under Wine, and a dependency's dependency is looked up by the ordinary search, which is
    // where a planted copy was taken.
    L"imm32.dll",       // the input methods, loaded by user32 for every thread with a window
    L"gdi32.dll",       // imported by user32
    L"msimg32.dll",     // alpha blending, imported by the common controls
    L"win32u.dll",      // user32's and gdi32's system-call half (Windows 10 on)
    L"user32.dll",      // windows, message boxes, the task dialog's window
    L"msctf.dll",       // the text services, loaded by imm32 and user32 for the first window
    L"combase.dll",     // COM's core (Windows 8 on), imported by ole32
    L"ole32.dll",       // CoInitializeEx, CoCreateInstance
    L"oleaut32.dll",    // imported by the shell and the common controls' accessibility code
    L"clbcatq.dll",     // the COM class catalogue, loaded by name by ole32 for CoCreateInstance
    L"shlwapi.dll",     // imported by shell32 and comctl32 6
    L"shcore.dll",      // imported by shell32 and shlwapi (Windows 8.1 on)
    L"uxtheme.dll",     // the visual styles: loaded by name (delayed import) by comctl32 6
    L"dwmapi.dll",      // the desktop window manager, loaded by name by uxtheme and comctl32
    L"comctl32.dll",    // the common controls: version 6 through the manifest (see Library)
    L"propsys.dll",     // the property system, imported by shell32 from Windows Vista on
    L"windows.storage.dll",  // the shell's storage half (Windows 10 on), loaded by shell32
    L"profapi.dll",     // the user profile, loaded by shell32 and userenv for the special folders
    L"userenv.dll",     // the user profile folders, for SHGetFolderPathW
    L"shell32.dll",     // SHGetFolderPathW and the shell link object (CLSID_ShellLink)
    L"version.dll",     // GetFileVersionInfoW: no known DLL on any Windows
    L"wer.dll",         // WerAddExcludedApplication (Windows Vista on): no known DLL
    // The random name of the patch package's protected folder (CryptGenRandom).
    L"cryptbase.dll",   // advapi32's random number half (Windows 7 on)
    L"bcrypt.dll",      // the cryptographic primitives (Windows Vista on), for the providers
    L"cryptsp.dll",     // advapi32's CryptoAPI half (Windows 7 on)
    L"rsaenh.dll",      // the default cryptographic provider, loaded by name by advapi32
    nullptr,
};

::HMODULE LoadByFullPath(const wchar_t* name) {
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
  // A full path: the loader searches no folder for the DLL itself. Its dependencies: with the
  // search restricted, the DLL's own folder and the system folder; without (Windows before 8
  // lacking the update), the altered search order, which starts in the DLL's folder and does
  // not include the program's folder.
  const ::DWORD flags = searchRestricted
                            ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                            : LOAD_WITH_ALTERED_SEARCH_PATH;
  // A missing DLL must not make Windows 2000 or XP show a box about it.
  const ::UINT errorMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ::HMODULE module = ::LoadLibraryExW(path, nullptr, flags);
  ::SetErrorMode(errorMode);
  return module;
}

// True when the activation context of the process (the manifest's dependency on the common
// controls 6) redirects loads of `name` to the side-by-side store: such a load by name never
// searches a folder.
bool RedirectedBySideBySide(const wchar_t* name) {
  using FindFunction = decltype(&::FindActCtxSectionStringW);
  // Windows XP on; kernel32 is always loaded.
  const ::HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  void* address = BindFunction(kernel32, "FindActCtxSectionStringW");
  if (!address) return false;
  const auto find = reinterpret_cast<FindFunction>(reinterpret_cast<void (*)()>(address));
  ::ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  return find(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data) != FALSE;
}

}  // namespace

void SetSearchRestricted(bool restricted) { searchRestricted = restricted; }

::HMODULE LoadSystemLibrary(const wchar_t* name) { return LoadByFullPath(name); }

::HMODULE Library(SystemDll dll) {
  static ::HMODULE modules[static_cast<unsigned>(SystemDll::count)];
  static bool tried[static_cast<unsigned>(SystemDll::count)];
  const unsigned index = static_cast<unsigned>(dll);
  if (index >= static_cast<unsigned>(SystemDll::count)) return nullptr;
  if (!tried[index]) {
    tried[index] = true;
    const wchar_t* name = kLibraryNames[index];
    // By full path the common controls would be the system folder's version 5, which has no
    // task dialog; by name, redirected by the manifest, they are version 6.
    modules[index] = dll == SystemDll::comctl32 && RedirectedBySideBySide(name)
                         ? ::LoadLibraryW(name)
                         : LoadByFullPath(name);
  }
  return modules[index];
}

void* BindFunction(::HMODULE module, const char* function) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module, function));
}

int PreloadSystemLibraries() {
  int loaded = 0;
  for (const wchar_t* const* name = kPreloadNames; *name; ++name) {
    ::HMODULE module = ::wcscmp(*name, L"comctl32.dll") == 0 ? Library(SystemDll::comctl32)
                                                              : LoadByFullPath(*name);
    // Kept loaded for the whole run: the process ends with the update.
    if (module) ++loaded;
  }
  return loaded;
}

const wchar_t* const* PreloadedLibraryNames() { return kPreloadNames; }

}  // namespace qv::win
