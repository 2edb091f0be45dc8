// The simulated machine's kernel32 side: version, own process and module, child processes.
#include <algorithm>
#include <cstring>

#include "platform/sim/sim_areas.h"

namespace qv::sim {

namespace {

std::string Show(const char* s) { return s ? s : "(null)"; }

win::DWORD PlannedError(std::int64_t code, win::DWORD usual) {
  return code != 0 ? static_cast<win::DWORD>(code) : usual;
}

constexpr std::uintptr_t kCurrentProcess = ~std::uintptr_t{0};  // (HANDLE)-1

// The build number Windows reports with each version.
win::DWORD BuildOf(win::DWORD major, win::DWORD minor) {
  if (major == 5) return minor == 0 ? 2195 : minor == 1 ? 2600 : 3790;
  if (major == 6) {
    switch (minor) {
      case 0: return 6002;
      case 1: return 7601;
      case 2: return 9200;
      default: return 9600;
    }
  }
  if (major >= 10) return 19045;
  return 1381;
}

}  // namespace

// --- ISystem -----------------------------------------------------------------------------------

win::BOOL SimAreas::GetVersionExA(win::OSVERSIONINFOA* info) {
  if (auto f = m.kernel_.Enter("GetVersionExA"))
    return Fail(PlannedError(*f, win::ERROR_INVALID_PARAMETER));
  if (!info) return Fail(win::ERROR_INVALID_PARAMETER);
  // OSVERSIONINFOA is 148 bytes, OSVERSIONINFOEXA 156; any other size is refused.
  if (info->dwOSVersionInfoSize != 148 && info->dwOSVersionInfoSize != 156)
    return Fail(win::ERROR_INSUFFICIENT_BUFFER);
  if (m.config_.versionQueryFails) return Fail(win::ERROR_INVALID_PARAMETER);
  info->dwMajorVersion = m.config_.major;
  info->dwMinorVersion = m.config_.minor;
  info->dwBuildNumber = BuildOf(m.config_.major, m.config_.minor);
  info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  if (info->dwOSVersionInfoSize == 156) {
    // OSVERSIONINFOEXA: service pack numbers, suite mask, product type (workstation).
    auto* ex = reinterpret_cast<unsigned char*>(info) + sizeof(win::OSVERSIONINFOA);
    std::memset(ex, 0, 8);
    ex[6] = 1;  // VER_NT_WORKSTATION
  }
  return win::TRUE;
}

win::HANDLE SimAreas::GetCurrentProcess() {
  // Cannot fail: the pseudo handle is a constant, not an entry of the handle table.
  m.kernel_.Enter("GetCurrentProcess");
  return win::MakeHandle<win::HANDLE>(kCurrentProcess);
}

win::BOOL SimAreas::IsWow64Process(win::HANDLE hProcess, win::BOOL* Wow64Process) {
  // Without the function (Windows 2000, XP before SP2) the program cannot call it at all; the
  // seam reports that as a failed call.
  if (!m.isWow64Available_) {
    m.kernel_.Enter("IsWow64Process", "unavailable");
    return Fail(kErrorProcNotFound);
  }
  if (auto f = m.kernel_.Enter("IsWow64Process"))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  const std::uintptr_t h = win::HandleValue(hProcess);
  if (h != kCurrentProcess && !m.kernel_.IsOpen(h, HandleKind::Process))
    return Fail(win::ERROR_INVALID_HANDLE);
  if (!Wow64Process) return Fail(win::ERROR_INVALID_PARAMETER);
  // Child processes are taken to have the updater's word size.
  *Wow64Process = (m.config_.processBits == 32 && m.config_.windowsBits == 64) ? win::TRUE
                                                                              : win::FALSE;
  return win::TRUE;
}

win::DWORD SimAreas::GetModuleFileNameW(win::HINSTANCE hModule, win::WCHAR* lpFilename,
                                        win::DWORD nSize) {
  if (auto f = m.kernel_.Enter("GetModuleFileNameW")) {
    Fail(PlannedError(*f, win::ERROR_INVALID_PARAMETER));
    return 0;
  }
  if (!win::IsNull(hModule) && hModule != module) {
    Fail(kErrorModNotFound);
    return 0;
  }
  const Text path = Utf8ToText(m.config_.exePath);
  if (!lpFilename || nSize == 0) {
    Fail(win::ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < nSize) {
    std::copy_n(path.c_str(), path.size() + 1, lpFilename);
    return static_cast<win::DWORD>(path.size());
  }
  // Too small: Windows XP fills all nSize characters without a terminator; later versions
  // cut one character earlier and terminate. Both give nSize.
  const bool terminate = m.config_.major >= 6;
  const win::DWORD copied = terminate ? nSize - 1 : nSize;
  std::copy_n(path.data(), copied, lpFilename);
  if (terminate) lpFilename[copied] = u'\0';
  lastError = win::ERROR_INSUFFICIENT_BUFFER;
  return nSize;
}

win::UINT SimAreas::GetSystemDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) {
  if (auto f = m.kernel_.Enter("GetSystemDirectoryW")) {
    Fail(PlannedError(*f, win::ERROR_INVALID_PARAMETER));
    return 0;
  }
  // A 32-bit process on 64-bit Windows gets the same path; its file accesses are redirected.
  return CopyOutW(m.config_.systemDirectory, lpBuffer, uSize);
}

win::UINT SimAreas::GetWindowsDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) {
  if (auto f = m.kernel_.Enter("GetWindowsDirectoryW")) {
    Fail(PlannedError(*f, win::ERROR_INVALID_PARAMETER));
    return 0;
  }
  const std::string& folder = m.config_.userWindowsDirectory.empty()
                                  ? m.config_.windowsDirectory
                                  : m.config_.userWindowsDirectory;
  return CopyOutW(folder, lpBuffer, uSize);
}

void SimAreas::GetSystemTime(win::SYSTEMTIME* lpSystemTime) {
  m.kernel_.Enter("GetSystemTime");
  if (lpSystemTime) *lpSystemTime = m.config_.now;
}

win::DWORD SimAreas::GetTickCount() {
  m.kernel_.Enter("GetTickCount");
  return m.config_.tickCount;
}

win::LANGID SimAreas::GetUserDefaultUILanguage() {
  m.kernel_.Enter("GetUserDefaultUILanguage");
  return m.config_.uiLanguage;
}

win::UINT SimAreas::GetSystemWindowsDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) {
  if (auto f = m.kernel_.Enter("GetSystemWindowsDirectoryW")) {
    Fail(PlannedError(*f, win::ERROR_INVALID_PARAMETER));
    return 0;
  }
  return CopyOutW(m.config_.windowsDirectory, lpBuffer, uSize);
}

win::HINSTANCE SimAreas::GetModuleHandleA(const char* lpModuleName) {
  if (auto f = m.kernel_.Enter("GetModuleHandleA", Show(lpModuleName))) {
    Fail(PlannedError(*f, kErrorModNotFound));
    return win::HINSTANCE{};
  }
  if (!lpModuleName) return module;
  // By name: the updater's own file name, with or without its extension.
  const std::string own = FoldCase(FileNameOf(m.config_.exePath));
  std::string asked = FoldCase(lpModuleName);
  if (asked.find('.') == std::string::npos) asked += ".dll";
  if (asked == own || (FoldCase(FileNameOf(lpModuleName)) == own)) return module;
  Fail(kErrorModNotFound);
  return win::HINSTANCE{};
}

// --- IProcesses --------------------------------------------------------------------------------

std::string SimAreas::SearchExecutable(const std::string& name,
                                       const std::string& currentDirectory) const {
  std::string file = name;
  if (FileNameOf(file).find('.') == std::string::npos) file += ".exe";
  if (file.find_first_of("\\/:") != std::string::npos) {
    const std::string p = Redirect(NormalizePath(file, currentDirectory));
    return IsFile(p) ? Lookup(p)->path : std::string();
  }
  // A bare name: the updater's own folder, the current directory, the system folder, the
  // 16-bit system folder, the Windows folder, then the folders of PATH.
  std::vector<std::string> folders = {
      ParentOf(NormalizePath(m.config_.exePath, currentDirectory)), currentDirectory,
      m.config_.systemDirectory, "C:\\Windows\\System", "C:\\Windows"};
  char path[4096];
  const win::DWORD n = m.registry_->ExpandEnvironmentStringsA("%PATH%", path, sizeof path);
  if (n > 0 && n <= sizeof path && std::string(path) != "%PATH%") {
    std::string list = path;
    std::size_t i = 0;
    while (i <= list.size()) {
      std::size_t j = list.find(';', i);
      if (j == std::string::npos) j = list.size();
      if (j > i) folders.push_back(list.substr(i, j - i));
      i = j + 1;
    }
  }
  for (const std::string& folder : folders) {
    const std::string p = Redirect(NormalizePath(folder + "\\" + file, currentDirectory));
    if (IsFile(p)) return Lookup(p)->path;
  }
  return {};
}

std::string SimAreas::ResolveImage(const std::optional<std::string>& applicationName,
                                   const std::optional<std::string>& commandLine,
                                   const std::string& currentDirectory) const {
  if (applicationName) {
    // Taken as given: no search and no extension added.
    const std::string p = Redirect(NormalizePath(*applicationName, currentDirectory));
    return IsFile(p) ? Lookup(p)->path : std::string();
  }
  const std::string line = commandLine.value_or(std::string());
  if (!line.empty() && line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    const std::string name =
        line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    return name.empty() ? std::string() : SearchExecutable(name, currentDirectory);
  }
  // Unquoted: every prefix that ends before a blank is tried in turn, then the whole line, and
  // the first that names an existing file is the program ("C:\Program.exe" before
  // "C:\Program Files\...").
  std::size_t pos = 0;
  for (;;) {
    const std::size_t blank = line.find_first_of(" \t", pos);
    const std::string candidate = line.substr(0, blank);
    if (!candidate.empty()) {
      std::string found = SearchExecutable(candidate, currentDirectory);
      if (!found.empty()) return found;
    }
    if (blank == std::string::npos) return {};
    pos = blank + 1;
  }
}

win::BOOL SimAreas::CreateProcessW(const win::WCHAR* lpApplicationName, win::WCHAR* lpCommandLine,
                                   const win::SECURITY_ATTRIBUTES* lpProcessAttributes,
                                   const win::SECURITY_ATTRIBUTES* lpThreadAttributes,
                                   win::BOOL bInheritHandles, win::DWORD dwCreationFlags,
                                   void* lpEnvironment, const win::WCHAR* lpCurrentDirectory,
                                   win::STARTUPINFOW* lpStartupInfo,
                                   win::PROCESS_INFORMATION* lpProcessInformation) {
  const auto planned = m.kernel_.Enter(
      "CreateProcessW", lpCommandLine ? U8(lpCommandLine) : ShowW(lpApplicationName));
  ProcessRecord rec;
  if (lpApplicationName) rec.applicationName = U8(lpApplicationName);
  if (lpCommandLine) rec.commandLine = U8(lpCommandLine);
  rec.inheritHandles = bInheritHandles != win::FALSE;
  rec.creationFlags = dwCreationFlags;
  rec.environmentGiven = lpEnvironment != nullptr;
  if (lpCurrentDirectory) rec.currentDirectory = U8(lpCurrentDirectory);
  if (lpStartupInfo) {
    rec.startupInfo = *lpStartupInfo;
    if (lpStartupInfo->lpDesktop) rec.desktop = U8(lpStartupInfo->lpDesktop);
    if (lpStartupInfo->lpTitle) rec.title = U8(lpStartupInfo->lpTitle);
  }
  rec.processAttributesGiven = lpProcessAttributes != nullptr;
  rec.threadAttributesGiven = lpThreadAttributes != nullptr;
  if (lpProcessInformation) *lpProcessInformation = win::PROCESS_INFORMATION{};

  auto fail = [&](win::DWORD error) {
    m.processes_.push_back(rec);
    return Fail(error);
  };
  if (planned) return fail(PlannedError(*planned, win::ERROR_ACCESS_DENIED));
  if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
    return fail(win::ERROR_INVALID_PARAMETER);
  rec.imagePath = ResolveImage(rec.applicationName, rec.commandLine, cwd);
  if (rec.imagePath.empty()) return fail(win::ERROR_FILE_NOT_FOUND);
  if (rec.currentDirectory && !IsFolder(ProgramPath(*rec.currentDirectory)))
    return fail(kErrorDirectory);
  if (failingImages.count(FoldCase(rec.imagePath))) return fail(kErrorBadExeFormat);

  rec.started = true;
  if (auto exit = exits.find(FoldCase(rec.imagePath)); exit != exits.end())
    rec.exitCode = exit->second.first;
  rec.processId = nextProcessId;
  rec.threadId = nextProcessId + 4;
  nextProcessId += 8;
  const std::uintptr_t hp = m.kernel_.OpenHandle(HandleKind::Process, "process " + rec.imagePath);
  const std::uintptr_t ht = m.kernel_.OpenHandle(HandleKind::Thread, "thread of " + rec.imagePath);
  lpProcessInformation->hProcess = win::MakeHandle<win::HANDLE>(hp);
  lpProcessInformation->hThread = win::MakeHandle<win::HANDLE>(ht);
  lpProcessInformation->dwProcessId = rec.processId;
  lpProcessInformation->dwThreadId = rec.threadId;
  m.processes_.push_back(rec);
  processOfHandle[hp] = m.processes_.size() - 1;
  // The started program does its work at once; by the time the updater waits, it has ended.
  const std::string key = FoldCase(rec.imagePath);
  for (std::size_t i = 0; i < effects.size(); ++i)
    if (effects[i].first == key) {
      ProcessEffect effect = effects[i].second;
      effect(m, rec);
    }
  return win::TRUE;
}

win::DWORD SimAreas::WaitForSingleObject(win::HANDLE hHandle, win::DWORD dwMilliseconds) {
  const std::uintptr_t h = win::HandleValue(hHandle);
  if (auto f = m.kernel_.Enter("WaitForSingleObject", std::to_string(h))) {
    Fail(PlannedError(*f, win::ERROR_INVALID_HANDLE));
    return win::WAIT_FAILED;
  }
  if (h == kCurrentProcess) {
    // The updater waiting for its own end would never return.
    if (dwMilliseconds != win::INFINITE) return win::WAIT_TIMEOUT;
    Fail(win::ERROR_INVALID_HANDLE);
    return win::WAIT_FAILED;
  }
  if (m.kernel_.IsOpen(h, HandleKind::Process)) {
    if (auto it = processOfHandle.find(h); it != processOfHandle.end()) {
      ProcessRecord& record = m.processes_[it->second];
      // The time the program took passes while the caller waits (once).
      if (!record.waitedFor) {
        auto exit = exits.find(FoldCase(record.imagePath));
        m.config_.tickCount += exit != exits.end() ? exit->second.second : 1000;
      }
      record.waitedFor = true;
    }
    return win::WAIT_OBJECT_0;
  }
  if (m.kernel_.IsOpen(h, HandleKind::Thread)) return win::WAIT_OBJECT_0;
  Fail(win::ERROR_INVALID_HANDLE);
  return win::WAIT_FAILED;
}

win::BOOL SimAreas::GetExitCodeProcess(win::HANDLE hProcess, win::DWORD* lpExitCode) {
  const std::uintptr_t h = win::HandleValue(hProcess);
  if (auto f = m.kernel_.Enter("GetExitCodeProcess", std::to_string(h)))
    return Fail(PlannedError(*f, win::ERROR_INVALID_HANDLE));
  if (!lpExitCode) return Fail(win::ERROR_INVALID_PARAMETER);
  auto it = processOfHandle.find(h);
  if (it == processOfHandle.end() || !m.kernel_.IsOpen(h, HandleKind::Process))
    return Fail(win::ERROR_INVALID_HANDLE);
  // A started program has done its work at once, but counts as ended only once waited for.
  const ProcessRecord& record = m.processes_[it->second];
  *lpExitCode = record.waitedFor ? record.exitCode : win::STILL_ACTIVE;
  return win::TRUE;
}

win::BOOL SimAreas::CloseHandle(win::HANDLE hObject) {
  const std::uintptr_t h = win::HandleValue(hObject);
  if (auto f = m.kernel_.Enter("CloseHandle", std::to_string(h)))
    return Fail(PlannedError(*f, win::ERROR_INVALID_HANDLE));
  if (h == kCurrentProcess) return win::TRUE;  // closing the pseudo handle does nothing
  if (m.kernel_.Close(h, HandleKind::Process)) {
    processOfHandle.erase(h);
    return win::TRUE;
  }
  if (m.kernel_.Close(h, HandleKind::Thread)) return win::TRUE;
  if (m.kernel_.Close(h, HandleKind::File)) {
    openFiles.erase(h);
    return win::TRUE;
  }
  return Fail(win::ERROR_INVALID_HANDLE);
}

}  // namespace qv::sim
