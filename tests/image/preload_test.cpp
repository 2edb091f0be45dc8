// The preload of the system libraries, against stand-ins planted beside this program (never the
// shipped executable). For every library the preload names, two child processes load it by name
// the way Windows' own code does, with the loader told to prefer a file on disk for that name
// (Wine: "native,builtin") and the search restriction treated as missing (as on Windows 2000,
// XP, Vista and 7 without the update): without the preload the stand-in must be loaded (the
// check can see a planted DLL), with the preload the system folder's file.
//
// The stand-ins are copies of qvstandin.dll (standin_dll.c), planted under each name by the run.
//
// Usage: preload_test            runs every library, prints a table, exit 0 when all hold
//        preload_test without NAME | with NAME   (the child processes)
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/win32/late_binding.h"

namespace {

enum Outcome { kStandIn = 10, kSystem = 11, kNotLoaded = 12, kBeforeEntry = 13, kElsewhere = 14 };

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  return ::_wcsnicmp(text, prefix, ::wcslen(prefix)) == 0;
}

// The folder of this program, with a trailing backslash.
void OwnFolder(wchar_t* folder) {
  ::GetModuleFileNameW(nullptr, folder, MAX_PATH);
  wchar_t* slash = ::wcsrchr(folder, L'\\');
  if (slash) slash[1] = 0;
}

int Child(bool preload, const wchar_t* name) {
  if (::GetModuleHandleW(name)) return kBeforeEntry;
  if (preload) {
    qv::win::SetSearchRestricted(false);
    qv::win::PreloadSystemLibraries();
  }
  HMODULE module = ::LoadLibraryW(name);
  if (!module) return kNotLoaded;
  wchar_t path[MAX_PATH], own[MAX_PATH], system[MAX_PATH], windows[MAX_PATH];
  ::GetModuleFileNameW(module, path, MAX_PATH);
  OwnFolder(own);
  ::GetSystemDirectoryW(system, MAX_PATH);
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  ::wcscat(windows, L"\\winsxs\\");
  std::fwprintf(stderr, L"  %ls: %ls\n", preload ? L"with" : L"without", path);
  if (StartsWith(path, own)) return kStandIn;
  if (StartsWith(path, system) || StartsWith(path, windows)) return kSystem;
  return kElsewhere;
}

int RunChild(const wchar_t* mode, const wchar_t* name) {
  wchar_t exe[MAX_PATH], command[3 * MAX_PATH], overrides[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::swprintf(command, 3 * MAX_PATH, L"\"%ls\" %ls %ls", exe, mode, name);
  // Wine's way of preferring a DLL on disk for one name; Windows has no such switch and takes
  // a planted file for any name that is no known DLL.
  std::wcsncpy(overrides, name, MAX_PATH - 8);
  overrides[MAX_PATH - 8] = 0;
  if (wchar_t* dot = ::wcsrchr(overrides, L'.')) *dot = 0;
  ::wcscat(overrides, L"=n,b");
  ::SetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return -1;
  }
  ::WaitForSingleObject(process.hThread, INFINITE);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

const wchar_t* Describe(int outcome) {
  switch (outcome) {
    case kStandIn: return L"the stand-in";
    case kSystem: return L"the system file";
    case kNotLoaded: return L"nothing";
    case kBeforeEntry: return L"already loaded before the entry point";
    case kElsewhere: return L"a file elsewhere";
    default: return L"the child failed";
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3) return Child(::wcscmp(argv[1], L"with") == 0, argv[2]);

  int failures = 0, checked = 0;
  wchar_t own[MAX_PATH], system[MAX_PATH];
  OwnFolder(own);
  ::GetSystemDirectoryW(system, MAX_PATH);
  for (const wchar_t* const* name = qv::win::PreloadedLibraryNames(); *name; ++name) {
    wchar_t planted[2 * MAX_PATH], real[2 * MAX_PATH];
    std::swprintf(planted, 2 * MAX_PATH, L"%ls%ls", own, *name);
    std::swprintf(real, 2 * MAX_PATH, L"%ls\\%ls", system, *name);
    wchar_t standIn[2 * MAX_PATH];
    std::swprintf(standIn, 2 * MAX_PATH, L"%lsqvstandin.dll", own);
    if (!::CopyFileW(standIn, planted, FALSE)) {
      std::wprintf(L"FAIL %ls: the stand-in could not be planted beside the program\n", *name);
      ++failures;
      continue;
    }
    if (::GetFileAttributesW(real) == INVALID_FILE_ATTRIBUTES) {
      // Windows' own code loads only the libraries that its version has.
      std::wprintf(L"---- %ls: not in this system folder, nothing loads it here\n", *name);
      continue;
    }
    // Planted only for its own two runs: a stand-in of another name must not take part.
    const int without = RunChild(L"without", *name);
    const int with = RunChild(L"with", *name);
    ::DeleteFileW(planted);
    if (without == kBeforeEntry) {
      std::wprintf(L"---- %ls: %ls\n", *name, Describe(without));
      continue;
    }
    ++checked;
    const bool holds = without == kStandIn && with == kSystem;
    if (!holds) ++failures;
    std::wprintf(L"%ls %ls: without the preload %ls, with it %ls\n", holds ? L"ok  " : L"FAIL",
                 *name, Describe(without), Describe(with));
  }
  std::wprintf(L"%d libraries checked, %d failed\n", checked, failures);
  return failures == 0 && checked > 0 ? 0 : 1;
}
