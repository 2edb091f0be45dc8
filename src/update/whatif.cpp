#include "update/whatif.h"

#include <cstring>

namespace qv {

namespace {

constexpr std::uintptr_t kFirstOwnHandle = 0x7F000000u;  // above any handle Windows gives out

Text RootName(win::HKEY key) {
  if (key == win::HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == win::HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == win::HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  if (key == win::HKEY_USERS) return u"HKEY_USERS";
  return Text();
}

Text Wide(const win::WCHAR* text) { return text ? Text(text) : Text(); }

// A message box's buttons by its style; a task dialog's own, then its common ones in Windows'
// order, by their English names.
std::vector<Text> Buttons(win::UINT style) {
  switch (style & 0xF) {
    case 1: return {u"OK", u"Cancel"};
    case 4: return {u"Yes", u"No"};
    default: return {u"OK"};
  }
}

}  // namespace

struct WhatIfPlatform::Areas final : win::IRegistry,
                                     win::IProcesses,
                                     win::IWindows,
                                     win::IDialogs,
                                     win::IShell,
                                     win::IFiles,
                                     win::IEventLog {
  Areas(win::Platform& r, WhatIfRecord& rec, int pb, int wb)
      : real(r), record(rec), processBits(pb), windowsBits(wb) {}

  win::Platform& real;
  WhatIfRecord& record;
  int processBits, windowsBits;
  std::uintptr_t nextHandle = kFirstOwnHandle;
  std::optional<win::DWORD> ownError;  // set when this layer decided a failure

  std::uintptr_t NewHandle() { return nextHandle += 4; }
  win::BOOL Fail(win::DWORD error) {
    ownError = error;
    return win::FALSE;
  }

  // --- registry: reads from the machine, writes recorded and read back ----------------------------
  struct Key {
    Text path;          // "HKEY_LOCAL_MACHINE\Software\..."
    int view = 0;
    win::HKEY real{};   // the machine's key, where it exists
  };
  std::map<std::uintptr_t, Key> keys;
  std::set<Text> createdKeys, deletedKeys;  // by Id
  // Values written or deleted, by Id of the key, then by name: type and data (none: deleted).
  std::map<Text, std::map<std::string, std::optional<std::pair<win::DWORD, std::string>>>> values;


  Text Id(const Key& k) const { return ToLower(k.path) + u"|" + IntToText(k.view); }
  Text Decode(const char* text) {
    if (!text || !*text) return Text();
    const int n = static_cast<int>(std::strlen(text));
    Text out(static_cast<std::size_t>(n), u'\0');
    const int w = real.codePage.MultiByteToWideChar(win::CP_ACP, 0, text, n, out.data(), n);
    out.resize(w > 0 ? static_cast<std::size_t>(w) : 0);
    return out;
  }
  // The key `sub` below `parent` as the call names it, with its view.
  Key Below(win::HKEY parent, const char* sub, win::REGSAM sam) {
    Key k;
    auto it = keys.find(win::HandleValue(parent));
    if (it != keys.end()) k = it->second;
    else k.path = RootName(parent);
    k.real = win::HKEY{};
    if (sub && *sub) k.path += u"\\" + Decode(sub);
    if (windowsBits == 64) {
      if (sam & win::KEY_WOW64_64KEY) k.view = 64;
      else if (sam & win::KEY_WOW64_32KEY) k.view = 32;
      else if (k.view == 0) k.view = processBits;
    }
    return k;
  }
  bool Deleted(const Key& k) const {
    const Text id = ToLower(k.path);
    for (const Text& d : deletedKeys) {
      const Text path = d.substr(0, d.rfind(u'|'));
      if ((id == path || id.rfind(path + u"\\", 0) == 0) && d.substr(d.rfind(u'|')) == Id(k).substr(Id(k).rfind(u'|')))
        return true;
    }
    return false;
  }
  win::LONG Open(win::HKEY parent, const char* sub, win::REGSAM sam, win::HKEY* result, bool create,
                 win::DWORD* disposition) {
    if (!result) return win::ERROR_INVALID_PARAMETER;
    *result = win::HKEY{};
    Key k = Below(parent, sub, sam);
    auto p = keys.find(win::HandleValue(parent));
    const bool parentReal = p == keys.end() ? !RootName(parent).empty() : !win::IsNull(p->second.real);
    const win::HKEY realParent = p == keys.end() ? parent : p->second.real;
    win::LONG status = win::ERROR_FILE_NOT_FOUND;
    if (!Deleted(k) && parentReal)
      status = real.registry.RegOpenKeyExA(realParent, sub, 0,
                                           win::KEY_READ | (sam & win::KEY_WOW64_RES), &k.real);
    const bool existed = status == win::ERROR_SUCCESS || createdKeys.count(Id(k)) > 0;
    if (!existed) {
      if (!create) return status == win::ERROR_SUCCESS ? win::ERROR_FILE_NOT_FOUND : status;
      createdKeys.insert(Id(k));
      deletedKeys.erase(Id(k));
      record.keys.push_back({k.view, k.path, false});
    }
    if (disposition) *disposition = existed ? 2 : 1;  // REG_OPENED_EXISTING_KEY, REG_CREATED_NEW_KEY
    const std::uintptr_t h = win::IsNull(k.real) ? NewHandle() : win::HandleValue(k.real);
    keys[h] = k;
    *result = win::MakeHandle<win::HKEY>(h);
    return win::ERROR_SUCCESS;
  }
  win::LONG RegOpenKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD, win::REGSAM samDesired,
                          win::HKEY* phkResult) override {
    return Open(hKey, lpSubKey, samDesired, phkResult, false, nullptr);
  }
  win::LONG RegCreateKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD, const char*,
                            win::DWORD, win::REGSAM samDesired, const win::SECURITY_ATTRIBUTES*,
                            win::HKEY* phkResult, win::DWORD* lpdwDisposition) override {
    return Open(hKey, lpSubKey, samDesired, phkResult, true, lpdwDisposition);
  }
  win::LONG RegCloseKey(win::HKEY hKey) override {
    auto it = keys.find(win::HandleValue(hKey));
    if (it == keys.end()) return win::ERROR_INVALID_HANDLE;
    if (!win::IsNull(it->second.real)) real.registry.RegCloseKey(it->second.real);
    keys.erase(it);
    return win::ERROR_SUCCESS;
  }
  win::LONG DeleteKey(win::HKEY parent, const char* sub, win::REGSAM sam) {
    const Key k = Below(parent, sub, sam);
    win::HKEY probe{};
    if (Open(parent, sub, sam, &probe, false, nullptr) != win::ERROR_SUCCESS) return win::ERROR_FILE_NOT_FOUND;
    RegCloseKey(probe);
    deletedKeys.insert(Id(k));
    createdKeys.erase(Id(k));
    record.keys.push_back({k.view, k.path, true});
    return win::ERROR_SUCCESS;
  }
  win::LONG RegDeleteKeyA(win::HKEY hKey, const char* lpSubKey) override {
    return DeleteKey(hKey, lpSubKey, 0);
  }
  win::LONG RegDeleteKeyExA(win::HKEY hKey, const char* lpSubKey, win::REGSAM samDesired,
                            win::DWORD) override {
    return DeleteKey(hKey, lpSubKey, samDesired);
  }
  using Stored = std::map<std::string, std::optional<std::pair<win::DWORD, std::string>>>;
  // The recorded value of that name (Windows compares names without regard to case).
  Stored::iterator FindValue(Stored& stored, const std::string& name) {
    const Text folded = ToLower(Decode(name.c_str()));
    for (auto it = stored.begin(); it != stored.end(); ++it)
      if (ToLower(Decode(it->first.c_str())) == folded) return it;
    return stored.end();
  }
  // What the key holds under `name`: the recorded value, else the machine's.
  std::optional<std::pair<win::DWORD, std::string>> Current(const Key& k, const std::string& name) {
    auto v = values.find(Id(k));
    if (v != values.end()) {
      auto it = FindValue(v->second, name);
      if (it != v->second.end()) return it->second;
    }
    if (win::IsNull(k.real)) return std::nullopt;
    win::DWORD type = 0, size = 0;
    if (real.registry.RegQueryValueExA(k.real, name.c_str(), nullptr, &type, nullptr, &size) !=
        win::ERROR_SUCCESS)
      return std::nullopt;
    std::string data(size, '\0');
    if (real.registry.RegQueryValueExA(k.real, name.c_str(), nullptr, &type,
                                       reinterpret_cast<win::BYTE*>(data.data()), &size) != win::ERROR_SUCCESS)
      return std::nullopt;
    data.resize(size);
    return std::make_pair(type, data);
  }
  Key* Handle(win::HKEY h) {
    auto it = keys.find(win::HandleValue(h));
    return it == keys.end() ? nullptr : &it->second;
  }
  win::LONG RegSetValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD, win::DWORD dwType,
                           const win::BYTE* lpData, win::DWORD cbData) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    const std::string name = lpValueName ? lpValueName : "";
    const std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    record.values.push_back({k->view, k->path, name, dwType, data, false, Current(*k, name)});
    auto& stored = values[Id(*k)];
    if (auto it = FindValue(stored, name); it != stored.end()) stored.erase(it);
    stored[name] = std::make_pair(dwType, data);
    return win::ERROR_SUCCESS;
  }
  win::LONG RegDeleteValueA(win::HKEY hKey, const char* lpValueName) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    const std::string name = lpValueName ? lpValueName : "";
    const auto current = Current(*k, name);
    if (!current) return win::ERROR_FILE_NOT_FOUND;
    record.values.push_back({k->view, k->path, name, current->first, std::string(), true, current});
    auto& stored = values[Id(*k)];
    if (auto it = FindValue(stored, name); it != stored.end()) stored.erase(it);
    stored[name] = std::nullopt;
    return win::ERROR_SUCCESS;
  }
  win::LONG RegQueryValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD* lpReserved,
                             win::DWORD* lpType, win::BYTE* lpData, win::DWORD* lpcbData) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    auto v = values.find(Id(*k));
    const auto found = v == values.end() ? Stored::iterator() : FindValue(v->second, lpValueName ? lpValueName : "");
    if (v == values.end() || found == v->second.end()) {
      if (win::IsNull(k->real)) return win::ERROR_FILE_NOT_FOUND;
      return real.registry.RegQueryValueExA(k->real, lpValueName, lpReserved, lpType, lpData, lpcbData);
    }
    const auto& stored = found->second;
    if (!stored) return win::ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = stored->first;
    const auto size = static_cast<win::DWORD>(stored->second.size());
    if (!lpcbData) return lpData ? win::ERROR_INVALID_PARAMETER : win::ERROR_SUCCESS;
    if (lpData && *lpcbData < size) {
      *lpcbData = size;
      return win::ERROR_MORE_DATA;
    }
    if (lpData) std::memcpy(lpData, stored->second.data(), size);
    *lpcbData = size;
    return win::ERROR_SUCCESS;
  }
  win::LONG RegQueryInfoKeyA(win::HKEY hKey, char* lpClass, win::DWORD* lpcchClass,
                             win::DWORD* lpReserved, win::DWORD* lpcSubKeys,
                             win::DWORD* lpcbMaxSubKeyLen, win::DWORD* lpcbMaxClassLen,
                             win::DWORD* lpcValues, win::DWORD* lpcbMaxValueNameLen,
                             win::DWORD* lpcbMaxValueLen, win::DWORD* lpcbSecurityDescriptor,
                             win::FILETIME* lpftLastWriteTime) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) {
      for (win::DWORD* n : {lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                            lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor})
        if (n) *n = 0;
      if (lpcchClass) *lpcchClass = 0;
      return win::ERROR_SUCCESS;
    }
    return real.registry.RegQueryInfoKeyA(k->real, lpClass, lpcchClass, lpReserved, lpcSubKeys,
                                          lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                                          lpcbMaxValueNameLen, lpcbMaxValueLen,
                                          lpcbSecurityDescriptor, lpftLastWriteTime);
  }
  win::LONG RegEnumValueA(win::HKEY hKey, win::DWORD dwIndex, char* lpValueName,
                          win::DWORD* lpcchValueName, win::DWORD* lpReserved, win::DWORD* lpType,
                          win::BYTE* lpData, win::DWORD* lpcbData) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) return win::ERROR_NO_MORE_ITEMS;
    return real.registry.RegEnumValueA(k->real, dwIndex, lpValueName, lpcchValueName, lpReserved,
                                       lpType, lpData, lpcbData);
  }
  win::LONG RegEnumKeyA(win::HKEY hKey, win::DWORD dwIndex, char* lpName, win::DWORD cchName) override {
    Key* k = Handle(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) return win::ERROR_NO_MORE_ITEMS;
    return real.registry.RegEnumKeyA(k->real, dwIndex, lpName, cchName);
  }
  win::DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, win::DWORD nSize) override {
    return real.registry.ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
  }

  // --- processes: recorded, never started -------------------------------------------------------
  std::set<std::uintptr_t> processes;  // the handles given for programs not started
  win::BOOL CreateProcessW(const win::WCHAR* lpApplicationName, win::WCHAR* lpCommandLine,
                           const win::SECURITY_ATTRIBUTES*, const win::SECURITY_ATTRIBUTES*,
                           win::BOOL, win::DWORD, void*, const win::WCHAR* lpCurrentDirectory,
                           win::STARTUPINFOW*, win::PROCESS_INFORMATION* info) override {
    record.children.push_back({Wide(lpApplicationName), Wide(lpCommandLine), Wide(lpCurrentDirectory)});
    if (!info) return Fail(win::ERROR_INVALID_PARAMETER);
    const std::uintptr_t process = NewHandle(), thread = NewHandle();
    processes.insert(process);
    processes.insert(thread);
    *info = {win::MakeHandle<win::HANDLE>(process), win::MakeHandle<win::HANDLE>(thread), 0, 0};
    ownError.reset();
    return win::TRUE;
  }
  win::DWORD WaitForSingleObject(win::HANDLE hHandle, win::DWORD dwMilliseconds) override {
    if (processes.count(win::HandleValue(hHandle))) return win::WAIT_OBJECT_0;
    return real.processes.WaitForSingleObject(hHandle, dwMilliseconds);
  }
  win::BOOL GetExitCodeProcess(win::HANDLE hProcess, win::DWORD* lpExitCode) override {
    if (!processes.count(win::HandleValue(hProcess)))
      return real.processes.GetExitCodeProcess(hProcess, lpExitCode);
    if (lpExitCode) *lpExitCode = 0;
    return win::TRUE;
  }
  win::BOOL CloseHandle(win::HANDLE hObject) override {
    const std::uintptr_t h = win::HandleValue(hObject);
    if (processes.erase(h) || files.erase(h)) return win::TRUE;
    return real.processes.CloseHandle(hObject);
  }

  // --- windows: read as they are; the foreground is left alone ---------------------------------
  win::HWND FindWindowExA(win::HWND a, win::HWND b, const char* c, const char* d) override {
    return real.windows.FindWindowExA(a, b, c, d);
  }
  win::HWND GetForegroundWindow() override { return real.windows.GetForegroundWindow(); }
  win::DWORD GetWindowThreadProcessId(win::HWND hWnd, win::DWORD* p) override {
    return real.windows.GetWindowThreadProcessId(hWnd, p);
  }
  win::BOOL AttachThreadInput(win::DWORD, win::DWORD, win::BOOL) override { return win::TRUE; }
  win::BOOL SetForegroundWindow(win::HWND) override { return win::TRUE; }
  win::HWND CreateFormWindow(win::HINSTANCE h, const win::WCHAR* caption, int icon) override {
    return real.windows.CreateFormWindow(h, caption, icon);
  }
  win::BOOL DestroyWindow(win::HWND hWnd) override { return real.windows.DestroyWindow(hWnd); }
  win::HICON LoadIconW(win::HINSTANCE h, const win::WCHAR* name) override {
    return real.windows.LoadIconW(h, name);
  }
  win::BOOL DestroyIcon(win::HICON hIcon) override { return real.windows.DestroyIcon(hIcon); }

  // --- dialogs: recorded, not shown, taken as their default button ------------------------------
  void InitCommonControls() override {}
  int MessageBoxW(win::HWND, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                  win::UINT uType) override {
    WhatIfRecord::Dialog d;
    d.title = Wide(lpCaption);
    d.text = Wide(lpText);
    d.buttons = Buttons(uType);
    d.answer = win::IDOK;
    record.dialogs.push_back(d);
    return win::IDOK;
  }
  win::HRESULT TaskDialogIndirect(const win::TASKDIALOGCONFIG* c, int* pnButton, int* pnRadio,
                                  win::BOOL* pfVerification) override {
    if (!c) return win::E_INVALIDARG;
    WhatIfRecord::Dialog d;
    d.taskDialog = true;
    auto text = [](const win::WCHAR* t) { return t && !win::IS_INTRESOURCE(t) ? Text(t) : Text(); };
    d.title = text(c->pszWindowTitle);
    d.instruction = text(c->pszMainInstruction);
    d.text = text(c->pszContent);
    d.footer = text(c->pszFooter);
    for (win::UINT i = 0; c->pButtons && i < c->cButtons; ++i) d.buttons.push_back(text(c->pButtons[i].pszButtonText));
    static constexpr std::pair<win::DWORD, const char16_t*> kCommon[] = {
        {win::TDCBF_OK_BUTTON, u"OK"},       {win::TDCBF_YES_BUTTON, u"Yes"},
        {win::TDCBF_NO_BUTTON, u"No"},       {win::TDCBF_CANCEL_BUTTON, u"Cancel"},
        {win::TDCBF_RETRY_BUTTON, u"Retry"}, {win::TDCBF_CLOSE_BUTTON, u"Close"}};
    for (const auto& [flag, name] : kCommon)
      if (c->dwCommonButtons & flag) d.buttons.push_back(name);
    // Enter: the default button, the first own one, else the first common one.
    int answer = c->nDefaultButton;
    if (!answer) answer = c->cButtons && c->pButtons ? c->pButtons[0].nButtonID
                          : (c->dwCommonButtons & win::TDCBF_CLOSE_BUTTON) ? win::IDCLOSE
                                                                            : win::IDOK;
    d.answer = answer;
    record.dialogs.push_back(d);
    if (pnButton) *pnButton = answer;
    if (pnRadio) *pnRadio = 0;
    if (pfVerification) *pfVerification = win::FALSE;
    return win::S_OK;
  }

  // --- the shell: the shortcut recorded, special folders read, exclusions recorded --------------
  struct Link final : win::IShellLinkW, win::IPersistFile {
    Areas& a;
    win::ULONG refs = 1;
    Text target, folder, arguments, description, icon;
    int iconIndex = 0, show = 0;
    explicit Link(Areas& areas) : a(areas) {}
    win::ULONG AddRef() override { return ++refs; }
    win::ULONG Release() override {
      const win::ULONG left = --refs;
      if (!left) delete this;
      return left;
    }
    win::HRESULT QueryInterfacePersistFile(win::IPersistFile** ppv) override {
      if (!ppv) return win::E_INVALIDARG;
      AddRef();
      *ppv = this;
      return win::S_OK;
    }
    win::HRESULT SetPath(const win::WCHAR* p) override { target = Wide(p); return win::S_OK; }
    win::HRESULT SetWorkingDirectory(const win::WCHAR* p) override { folder = Wide(p); return win::S_OK; }
    win::HRESULT SetArguments(const win::WCHAR* p) override { arguments = Wide(p); return win::S_OK; }
    win::HRESULT SetDescription(const win::WCHAR* p) override { description = Wide(p); return win::S_OK; }
    win::HRESULT SetIconLocation(const win::WCHAR* p, int i) override {
      icon = Wide(p);
      iconIndex = i;
      return win::S_OK;
    }
    win::HRESULT SetShowCmd(int s) override { show = s; return win::S_OK; }
    win::HRESULT Resolve(win::HWND, win::DWORD) override {
      return a.Exists(target) ? win::S_OK : win::S_FALSE;
    }
    win::HRESULT Save(const win::WCHAR* p, win::BOOL) override {
      const Text path = Wide(p);
      a.record.files.push_back((a.Exists(path) ? u"replaced " : u"created ") + path);
      a.record.shortcuts.push_back(path + u": target " + target + u"; arguments " + arguments +
                                   u"; working folder " + folder + u"; description " + description +
                                   u"; icon " + icon + u"," + IntToText(iconIndex) + u"; show command " +
                                   IntToText(show));
      a.overlay[ToLower(path)] = {true, false, Text()};
      return win::S_OK;
    }
  };
  win::HRESULT CoInitializeEx(void* r, win::DWORD mode) override { return real.shell.CoInitializeEx(r, mode); }
  void CoUninitialize() override { real.shell.CoUninitialize(); }
  win::HRESULT CoCreateShellLink(win::IShellLinkW** ppv) override {
    if (!ppv) return win::E_INVALIDARG;
    *ppv = new Link(*this);
    return win::S_OK;
  }
  win::HRESULT SHGetFolderPathW(win::HWND hwnd, int csidl, win::HANDLE token, win::DWORD flags,
                                win::WCHAR* path) override {
    // A folder that is missing is not made.
    return real.shell.SHGetFolderPathW(hwnd, csidl & ~win::CSIDL_FLAG_CREATE, token, flags, path);
  }
  win::HRESULT WerAddExcludedApplication(const win::WCHAR* name, win::BOOL allUsers) override {
    record.exclusions.push_back(Wide(name) + (allUsers ? u" (all users)" : u" (this user)"));
    return win::S_OK;
  }

  // --- files: read from the machine, changes recorded and read back ------------------------------
  struct Entry {
    bool exists = false;
    bool folder = false;
    Text source;  // a copy: the file it was copied from, which its reads go to
  };
  std::map<Text, Entry> overlay;  // by lower-case path
  std::set<std::uintptr_t> files;  // handles of files the run would have written

  const Entry* Find(const Text& path) const {
    auto it = overlay.find(ToLower(path));
    return it == overlay.end() ? nullptr : &it->second;
  }
  bool Exists(const Text& path) {
    if (const Entry* e = Find(path)) return e->exists;
    return real.files.GetFileAttributesW(path.c_str()) != win::INVALID_FILE_ATTRIBUTES;
  }
  bool IsFolder(const Text& path) {
    if (const Entry* e = Find(path)) return e->exists && e->folder;
    const win::DWORD a = real.files.GetFileAttributesW(path.c_str());
    return a != win::INVALID_FILE_ATTRIBUTES && (a & win::FILE_ATTRIBUTE_DIRECTORY);
  }
  static Text Parent(const Text& path) {
    const std::size_t slash = path.find_last_of(u'\\');
    return slash == Text::npos ? Text() : path.substr(0, slash);
  }
  win::DWORD GetFileAttributesW(const win::WCHAR* p) override {
    if (const Entry* e = Find(Wide(p))) {
      if (!e->exists) {
        Fail(win::ERROR_FILE_NOT_FOUND);
        return win::INVALID_FILE_ATTRIBUTES;
      }
      return e->folder ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_NORMAL;
    }
    ownError.reset();
    return real.files.GetFileAttributesW(p);
  }
  win::BOOL DeleteFileW(const win::WCHAR* p) override {
    const Text path = Wide(p);
    if (!Exists(path) || IsFolder(path)) return Fail(win::ERROR_FILE_NOT_FOUND);
    record.files.push_back(u"deleted " + path);
    overlay[ToLower(path)] = {false, false, Text()};
    return win::TRUE;
  }
  win::BOOL MoveFileExW(const win::WCHAR* from, const win::WCHAR* to, win::DWORD flags) override {
    const Text a = Wide(from), b = Wide(to);
    if (flags & win::MOVEFILE_DELAY_UNTIL_REBOOT) {
      record.files.push_back(u"marked " + a + u" for removal at the next restart");
      return win::TRUE;
    }
    if (!Exists(a)) return Fail(win::ERROR_FILE_NOT_FOUND);
    if (Exists(b) && !(flags & win::MOVEFILE_REPLACE_EXISTING)) return Fail(win::ERROR_ALREADY_EXISTS);
    record.files.push_back(u"moved " + a + u" -> " + b);
    const Entry* e = Find(a);
    overlay[ToLower(b)] = {true, false, e ? e->source : a};
    overlay[ToLower(a)] = {false, false, Text()};
    return win::TRUE;
  }
  win::DWORD GetFileVersionInfoSizeW(const win::WCHAR* p, win::DWORD* h) override {
    return real.files.GetFileVersionInfoSizeW(p, h);
  }
  win::BOOL GetFileVersionInfoW(const win::WCHAR* p, win::DWORD h, win::DWORD n, void* d) override {
    return real.files.GetFileVersionInfoW(p, h, n, d);
  }
  win::BOOL VerQueryValueW(const void* b, const win::WCHAR* s, void** out, win::UINT* n) override {
    return real.files.VerQueryValueW(b, s, out, n);
  }
  win::BOOL CreateDirectoryW(const win::WCHAR* p, const win::SECURITY_ATTRIBUTES*) override {
    const Text path = Wide(p);
    if (Exists(path)) return Fail(win::ERROR_ALREADY_EXISTS);
    if (!IsFolder(Parent(path))) return Fail(win::ERROR_PATH_NOT_FOUND);
    record.files.push_back(u"created folder " + path);
    overlay[ToLower(path)] = {true, true, Text()};
    return win::TRUE;
  }
  win::BOOL CopyFileW(const win::WCHAR* from, const win::WCHAR* to, win::BOOL failIfExists) override {
    const Text a = Wide(from), b = Wide(to);
    if (!Exists(a)) return Fail(IsFolder(Parent(a)) ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND);
    if (IsFolder(a)) return Fail(win::ERROR_ACCESS_DENIED);
    if (!IsFolder(Parent(b))) return Fail(win::ERROR_PATH_NOT_FOUND);
    if (Exists(b) && failIfExists) return Fail(win::ERROR_FILE_EXISTS);
    const Entry* e = Find(a);
    record.files.push_back(u"copied " + a + u" -> " + b);
    overlay[ToLower(b)] = {true, false, e && !e->source.empty() ? e->source : a};
    return win::TRUE;
  }
  win::BOOL SetFileAttributesW(const win::WCHAR* p, win::DWORD) override {
    if (!Exists(Wide(p))) return Fail(win::ERROR_FILE_NOT_FOUND);
    return win::TRUE;
  }
  win::BOOL RemoveDirectoryW(const win::WCHAR* p) override {
    const Text path = Wide(p);
    if (!IsFolder(path)) return Fail(win::ERROR_FILE_NOT_FOUND);
    record.files.push_back(u"removed folder " + path);
    overlay[ToLower(path)] = {false, false, Text()};
    return win::TRUE;
  }
  win::HANDLE CreateFileW(const win::WCHAR* p, win::DWORD access, win::DWORD share,
                          const win::SECURITY_ATTRIBUTES* sa, win::DWORD disposition,
                          win::DWORD flags, win::HANDLE tmpl) override {
    const Text path = Wide(p);
    if (access & win::GENERIC_WRITE) {
      // Nothing is written: a file the run would make is named, its content dropped.
      record.files.push_back((Exists(path) ? u"replaced " : u"created ") + path);
      overlay[ToLower(path)] = {true, false, Text()};
      const std::uintptr_t h = NewHandle();
      files.insert(h);
      return win::MakeHandle<win::HANDLE>(h);
    }
    const Entry* e = Find(path);
    if (e && !e->exists) {
      Fail(win::ERROR_FILE_NOT_FOUND);
      return win::INVALID_HANDLE_VALUE;
    }
    // A copy is read from the file it was copied from.
    const Text source = e && !e->source.empty() ? e->source : path;
    ownError.reset();
    return real.files.CreateFileW(source.c_str(), access, share, sa, disposition, flags, tmpl);
  }
  win::BOOL ReadFile(win::HANDLE h, void* buffer, win::DWORD n, win::DWORD* read, void* o) override {
    ownError.reset();
    return real.files.ReadFile(h, buffer, n, read, o);
  }
  win::BOOL WriteFile(win::HANDLE h, const void* buffer, win::DWORD n, win::DWORD* written, void* o) override {
    if (files.count(win::HandleValue(h))) {
      if (written) *written = n;
      return win::TRUE;
    }
    return real.files.WriteFile(h, buffer, n, written, o);
  }
  win::DWORD GetLastError() override { return ownError ? *ownError : real.files.GetLastError(); }

  // --- the event log: the events recorded ---------------------------------------------------------
  win::HANDLE RegisterEventSourceW(const win::WCHAR*, const win::WCHAR*) override {
    return win::MakeHandle<win::HANDLE>(NewHandle());
  }
  win::BOOL ReportEventW(win::HANDLE, win::WORD type, win::WORD, win::DWORD, void*, win::WORD n,
                         win::DWORD, const win::WCHAR** strings, void*) override {
    for (win::WORD i = 0; strings && i < n; ++i)
      record.events.push_back((type == win::EVENTLOG_ERROR_TYPE     ? u"error: "
                               : type == win::EVENTLOG_WARNING_TYPE ? u"warning: "
                                                                    : u"information: ") +
                              Wide(strings[i]));
    return win::TRUE;
  }
  win::BOOL DeregisterEventSource(win::HANDLE) override { return win::TRUE; }
};

WhatIfPlatform::WhatIfPlatform(win::Platform& real, int processBits, int windowsBits)
    : areas_(std::make_unique<Areas>(real, record_, processBits, windowsBits)) {
  Areas& a = *areas_;
  platform_ = std::make_unique<win::Platform>(win::Platform{
      real.codePage, a, real.system, a, a, a, a, a, real.security, a});
}

WhatIfPlatform::~WhatIfPlatform() {
  // Keys the run left open are closed on the machine.
  for (auto& [h, k] : areas_->keys)
    if (!win::IsNull(k.real)) areas_->real.registry.RegCloseKey(k.real);
}

}  // namespace qv
