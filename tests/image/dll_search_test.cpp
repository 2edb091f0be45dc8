// Under Windows (wine64): after HardenDllSearch a library left beside the program is no longer
// found by name, while system libraries and the shell link object still work.
//
// Usage: dll_search_test open|harden
//   open    without hardening, the planted library beside the program loads (the test's own
//           control: it shows that the planted library is where a plain search would find it)
//   harden  after HardenDllSearch the planted library is not loaded, version.dll and the shell
//           link object (CoCreateInstance, IPersistFile::Save) still are
#include "app/dll_search.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Expect(bool condition, const char* what) {
  std::printf("%s: %s\n", condition ? "ok" : "FAIL", what);
  if (!condition) ++failures;
}

bool PlantedLoads() {
  HMODULE planted = LoadLibraryW(L"qvplanted.dll");
  if (planted) FreeLibrary(planted);
  return planted != nullptr;
}

bool ShellLinkSaves() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  bool saved = false;
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    std::wstring file = std::wstring(folder) + L"qv-dll-search-test.lnk";
    link->SetPath(L"C:\\windows\\notepad.exe");
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
      saved = SUCCEEDED(persist->Save(file.c_str(), TRUE)) &&
              GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
      DeleteFileW(file.c_str());
      persist->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (std::strcmp(argv[1], "open") == 0) {
    Expect(PlantedLoads(), "without hardening the library beside the program loads");
  } else if (std::strcmp(argv[1], "harden") == 0) {
    Expect(qv::app::HardenDllSearch(), "the search is restricted to the system folder");
    Expect(!PlantedLoads(), "the library beside the program is not loaded");
    HMODULE version = LoadLibraryW(L"version.dll");
    Expect(version != nullptr, "version.dll loads from the system folder");
    if (version) FreeLibrary(version);
    Expect(ShellLinkSaves(), "the shell link object is created and saves a shortcut");
  } else {
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
