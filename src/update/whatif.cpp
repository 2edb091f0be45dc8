#include "update/whatif.h"

#include <cstring>
#include <initializer_list>

namespace qv {

namespace {

constexpr std::uintptr_t kFirstOwnHandle = 0x7F000000u;  // above any handle Windows gives out

const char16_t* RootName(win::HKEY key) {
  if (key == win::HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == win::HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == win::HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  if (key == win::HKEY_USERS) return u"HKEY_USERS";
  return nullptr;
}

Text Wide(const win::WCHAR* text) { return text && !win::IS_INTRESOURCE(text) ? Text(text) : Text(); }

// Appends the parts in one go (no temporaries): the record's lines are built this way.
void Append(Text& out, std::initializer_list<const win::WCHAR*> parts) {
  for (const win::WCHAR* p : parts)
    if (p && !win::IS_INTRESOURCE(p)) out += p;
}

}  // namespace

Text AnsiText(win::ICodePage& codePage, const std::string& bytes) {
  Text out(bytes.size(), u'\0');
  const int n = bytes.empty() ? 0
                              : codePage.MultiByteToWideChar(win::CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                             out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

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
  std::vector<std::uintptr_t> own;  // handles of programs not started and files not written
  bool ownError = false;            // this layer decided the last failure
  win::DWORD error = 0;

  std::uintptr_t NewHandle() {
    own.push_back(nextHandle += 4);
    return nextHandle;
  }
  bool Own(std::uintptr_t h) const {
    for (std::uintptr_t o : own)
      if (o == h) return true;
    return false;
  }
  win::BOOL Fail(win::DWORD e) {
    ownError = true;
    error = e;
    return win::FALSE;
  }
  template <typename Result>
  Result Real(Result r) {
    ownError = false;
    return r;
  }

  // --- registry: read from the machine, writes recorded and read back ------------------------
  struct Key {
    Text path;  // "HKEY_LOCAL_MACHINE\Software\..."
    int view = 0;
    win::HKEY real{};  // the machine's key, where it exists
    Text id;           // the path in lower case and the view: what tells keys apart
  };
  std::vector<std::pair<std::uintptr_t, Key>> keys;
  std::vector<std::pair<Text, bool>> created;  // key id, deleted (else created)

  Text Decode(const char* text) { return AnsiText(real.codePage, text ? text : ""); }
  Key* Find(win::HKEY h) {
    for (auto& [value, k] : keys)
      if (value == win::HandleValue(h)) return &k;
    return nullptr;
  }
  // The latest record of a key: created (true), deleted (false), or none.
  std::optional<bool> Created(const Text& id) const {
    for (auto it = created.rbegin(); it != created.rend(); ++it)
      if (it->first == id) return !it->second;
    return std::nullopt;
  }
  void KeyChange(const Key& k, bool deleted) {
    WhatIfRecord::Value v;
    v.view = k.view;
    v.key = k.path;
    v.keyOnly = true;
    v.deleted = deleted;
    record.values.push_back(std::move(v));
  }
  win::LONG Open(win::HKEY parent, const char* sub, win::REGSAM sam, win::HKEY* result, bool create,
                 win::DWORD* disposition) {
    if (!result) return win::ERROR_INVALID_PARAMETER;
    *result = win::HKEY{};
    Key k;
    const Key* p = Find(parent);
    if (p) k = *p;
    else if (RootName(parent)) k.path = RootName(parent);
    k.real = win::HKEY{};
    if (sub && *sub) k.path += u"\\" + Decode(sub);
    if (windowsBits == 64) {
      if (sam & win::KEY_WOW64_64KEY) k.view = 64;
      else if (sam & win::KEY_WOW64_32KEY) k.view = 32;
      else if (k.view == 0) k.view = processBits;
    }
    k.id = ToLower(k.path);
    k.id += static_cast<char16_t>(u'0' + k.view);
    const std::optional<bool> state = Created(k.id);
    win::LONG status = win::ERROR_FILE_NOT_FOUND;
    if (state != false && (p ? !win::IsNull(p->real) : RootName(parent) != nullptr))
      status = real.registry.RegOpenKeyExA(p ? p->real : parent, sub, 0,
                                           win::KEY_READ | (sam & win::KEY_WOW64_RES), &k.real);
    const bool existed = status == win::ERROR_SUCCESS || state == true;
    if (!existed) {
      if (!create) return status;
      // Windows makes the missing keys on the way as well, each one recorded.
      if (const char* slash = sub ? std::strrchr(sub, '\\') : nullptr) {
        win::HKEY above{};
        if (Open(parent, std::string(sub, slash).c_str(), sam, &above, true, nullptr) == win::ERROR_SUCCESS)
          RegCloseKey(above);
      }
      created.emplace_back(k.id, false);
      KeyChange(k, false);
    }
    if (disposition) *disposition = existed ? 2 : 1;  // REG_OPENED_EXISTING_KEY, REG_CREATED_NEW_KEY
    const std::uintptr_t h = win::IsNull(k.real) ? NewHandle() : win::HandleValue(k.real);
    keys.emplace_back(h, k);
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
    for (auto it = keys.begin(); it != keys.end(); ++it)
      if (it->first == win::HandleValue(hKey)) {
        if (!win::IsNull(it->second.real)) real.registry.RegCloseKey(it->second.real);
        keys.erase(it);
        return win::ERROR_SUCCESS;
      }
    return win::ERROR_INVALID_HANDLE;
  }
  win::LONG DeleteKey(win::HKEY parent, const char* sub, win::REGSAM sam) {
    win::HKEY key{};
    if (Open(parent, sub, sam, &key, false, nullptr) != win::ERROR_SUCCESS) return win::ERROR_FILE_NOT_FOUND;
    const Key k = *Find(key);
    RegCloseKey(key);
    created.emplace_back(k.id, true);
    KeyChange(k, true);
    return win::ERROR_SUCCESS;
  }
  win::LONG RegDeleteKeyA(win::HKEY hKey, const char* lpSubKey) override { return DeleteKey(hKey, lpSubKey, 0); }
  win::LONG RegDeleteKeyExA(win::HKEY hKey, const char* lpSubKey, win::REGSAM samDesired,
                            win::DWORD) override {
    return DeleteKey(hKey, lpSubKey, samDesired);
  }
  // The latest value recorded under that name (Windows compares names without regard to case).
  const WhatIfRecord::Value* Recorded(const Key& k, const char* name) {
    const Text id = k.id + u"|" + ToLower(Decode(name));
    for (auto it = record.values.rbegin(); it != record.values.rend(); ++it)
      if (it->id == id) return &*it;
    return nullptr;
  }
  // What the key holds under `name` now, as the run would see it.
  bool Current(const Key& k, const char* name, win::DWORD& type, std::string& data) {
    if (const WhatIfRecord::Value* s = Recorded(k, name)) {
      type = s->type;
      data = s->data;
      return !s->deleted;
    }
    win::DWORD size = 0;
    if (win::IsNull(k.real) ||
        real.registry.RegQueryValueExA(k.real, name, nullptr, &type, nullptr, &size) != win::ERROR_SUCCESS)
      return false;
    data.assign(size, '\0');
    if (real.registry.RegQueryValueExA(k.real, name, nullptr, &type,
                                       reinterpret_cast<win::BYTE*>(data.data()), &size) != win::ERROR_SUCCESS)
      return false;
    data.resize(size);
    return true;
  }
  win::LONG Change(win::HKEY hKey, const char* name, bool deleted, win::DWORD type, const win::BYTE* data,
                   win::DWORD size) {
    const Key* k = Find(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    WhatIfRecord::Value v;
    v.view = k->view;
    v.key = k->path;
    v.name = name ? name : "";
    v.existed = Current(*k, v.name.c_str(), v.beforeType, v.before);
    if (deleted && !v.existed) return win::ERROR_FILE_NOT_FOUND;
    v.type = deleted ? v.beforeType : type;
    if (data) v.data.assign(reinterpret_cast<const char*>(data), size);
    v.deleted = deleted;
    v.id = k->id + u"|" + ToLower(Decode(v.name.c_str()));
    record.values.push_back(std::move(v));
    return win::ERROR_SUCCESS;
  }
  win::LONG RegSetValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD, win::DWORD dwType,
                           const win::BYTE* lpData, win::DWORD cbData) override {
    return Change(hKey, lpValueName, false, dwType, lpData, cbData);
  }
  win::LONG RegDeleteValueA(win::HKEY hKey, const char* lpValueName) override {
    return Change(hKey, lpValueName, true, 0, nullptr, 0);
  }
  win::LONG RegQueryValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD* lpReserved,
                             win::DWORD* lpType, win::BYTE* lpData, win::DWORD* lpcbData) override {
    const Key* k = Find(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    const WhatIfRecord::Value* s = Recorded(*k, lpValueName);
    if (!s) {
      if (win::IsNull(k->real)) return win::ERROR_FILE_NOT_FOUND;
      return real.registry.RegQueryValueExA(k->real, lpValueName, lpReserved, lpType, lpData, lpcbData);
    }
    if (s->deleted) return win::ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = s->type;
    const auto size = static_cast<win::DWORD>(s->data.size());
    if (!lpcbData) return lpData ? win::ERROR_INVALID_PARAMETER : win::ERROR_SUCCESS;
    const bool fits = !lpData || *lpcbData >= size;
    if (lpData && fits) std::memcpy(lpData, s->data.data(), size);
    *lpcbData = size;
    return fits ? win::ERROR_SUCCESS : win::ERROR_MORE_DATA;
  }
  // A key only the run made has nothing else in it.
  win::LONG RegQueryInfoKeyA(win::HKEY hKey, char* lpClass, win::DWORD* lpcchClass,
                             win::DWORD* lpReserved, win::DWORD* lpcSubKeys,
                             win::DWORD* lpcbMaxSubKeyLen, win::DWORD* lpcbMaxClassLen,
                             win::DWORD* lpcValues, win::DWORD* lpcbMaxValueNameLen,
                             win::DWORD* lpcbMaxValueLen, win::DWORD* lpcbSecurityDescriptor,
                             win::FILETIME* lpftLastWriteTime) override {
    const Key* k = Find(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) {
      for (win::DWORD* n : {lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                            lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor})
        if (n) *n = 0;
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
    const Key* k = Find(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) return win::ERROR_NO_MORE_ITEMS;
    return real.registry.RegEnumValueA(k->real, dwIndex, lpValueName, lpcchValueName, lpReserved,
                                       lpType, lpData, lpcbData);
  }
  win::LONG RegEnumKeyA(win::HKEY hKey, win::DWORD dwIndex, char* lpName, win::DWORD cchName) override {
    const Key* k = Find(hKey);
    if (!k) return win::ERROR_INVALID_HANDLE;
    if (win::IsNull(k->real)) return win::ERROR_NO_MORE_ITEMS;
    return real.registry.RegEnumKeyA(k->real, dwIndex, lpName, cchName);
  }
  win::DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, win::DWORD nSize) override {
    return real.registry.ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
  }

  // --- processes: recorded, never started -------------------------------------------------------
  win::BOOL CreateProcessW(const win::WCHAR* lpApplicationName, win::WCHAR* lpCommandLine,
                           const win::SECURITY_ATTRIBUTES*, const win::SECURITY_ATTRIBUTES*,
                           win::BOOL, win::DWORD, void*, const win::WCHAR* lpCurrentDirectory,
                           win::STARTUPINFOW*, win::PROCESS_INFORMATION* info) override {
    Append(record.children, {IntToText(++record.childCount).c_str(), u". ", lpCommandLine, u"\n   application name: ",
                             lpApplicationName, u"\n   folder:           ", lpCurrentDirectory, u"\n"});
    if (!info) return Fail(win::ERROR_INVALID_PARAMETER);
    info->hProcess = win::MakeHandle<win::HANDLE>(NewHandle());
    info->hThread = win::MakeHandle<win::HANDLE>(NewHandle());
    return Real(win::TRUE);
  }
  win::DWORD WaitForSingleObject(win::HANDLE hHandle, win::DWORD dwMilliseconds) override {
    if (Own(win::HandleValue(hHandle))) return win::WAIT_OBJECT_0;
    return real.processes.WaitForSingleObject(hHandle, dwMilliseconds);
  }
  win::BOOL GetExitCodeProcess(win::HANDLE hProcess, win::DWORD* lpExitCode) override {
    if (!Own(win::HandleValue(hProcess))) return real.processes.GetExitCodeProcess(hProcess, lpExitCode);
    if (lpExitCode) *lpExitCode = 0;
    return win::TRUE;
  }
  win::BOOL CloseHandle(win::HANDLE hObject) override {
    if (Own(win::HandleValue(hObject))) return win::TRUE;
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
  // "Dialog N: ..." with its texts (a line each, its own line breaks kept as "  | " lines).
  int Dialog(const char16_t* kind, const win::WCHAR* title, const win::WCHAR* instruction,
             const win::WCHAR* text, const win::WCHAR* footer, const Text& buttons, int answer) {
    Text& out = record.dialogs;
    Append(out, {u"Dialog ", IntToText(++record.dialogCount).c_str(), kind, title, u"\", not shown\n"});
    const std::pair<const char16_t*, const win::WCHAR*> lines[] = {
        {u"  main instruction: ", instruction}, {u"  text: ", text}, {u"  footer: ", footer}};
    for (const auto& [label, line] : lines)
      if (!Wide(line).empty())
        Append(out, {label, ReplaceAll(Wide(line), u"\r\n", u"\n  | ").c_str(), u"\n"});
    Append(out, {u"  buttons:", buttons.c_str(), u"; taken as button ", IntToText(answer).c_str(), u"\n"});
    return answer;
  }
  int MessageBoxW(win::HWND, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                  win::UINT uType) override {
    // Taken as OK, the first button of the updater's message boxes.
    return Dialog(u": message box \"", lpCaption, nullptr, lpText, nullptr,
                  (uType & 0xF) == win::MB_OKCANCEL ? u" [OK] [Cancel]" : u" [OK]", win::IDOK);
  }
  win::HRESULT TaskDialogIndirect(const win::TASKDIALOGCONFIG* c, int* pnButton, int* pnRadio,
                                  win::BOOL* pfVerification) override {
    if (!c) return win::E_INVALIDARG;
    Text buttons;
    for (win::UINT i = 0; c->pButtons && i < c->cButtons; ++i)
      buttons += u" [" + Wide(c->pButtons[i].pszButtonText) + u"]";
    // Windows' own buttons, by their English names.
    static const char16_t* const kCommon[] = {u" [OK]", u" [Yes]", u" [No]", u" [Cancel]", u" [Retry]", u" [Close]"};
    for (int b = 0; b < 6; ++b)
      if (c->dwCommonButtons & (1u << b)) buttons += kCommon[b];
    // Enter: the default button, the first own one, else Close or OK.
    const int answer = Dialog(u": task dialog \"", c->pszWindowTitle, c->pszMainInstruction, c->pszContent,
                              c->pszFooter, buttons,
                              c->nDefaultButton                                ? c->nDefaultButton
                              : c->cButtons && c->pButtons                     ? c->pButtons[0].nButtonID
                              : (c->dwCommonButtons & win::TDCBF_CLOSE_BUTTON) ? win::IDCLOSE
                                                                               : win::IDOK);
    if (pnButton) *pnButton = answer;
    if (pnRadio) *pnRadio = 0;
    if (pfVerification) *pfVerification = win::FALSE;
    return win::S_OK;
  }

  // --- the shell: the shortcut recorded, special folders read, exclusions recorded --------------
  struct Link final : win::IShellLinkW, win::IPersistFile {
    Areas& a;
    win::ULONG refs = 1;
    Text target, arguments, folder, description, icon;
    int iconIndex = 0, show = 0;
    explicit Link(Areas& areas) : a(areas) {}
    win::ULONG AddRef() override { return ++refs; }
    win::ULONG Release() override {
      const win::ULONG left = --refs;
      if (!left) delete this;
      return left;
    }
    win::HRESULT QueryInterfacePersistFile(win::IPersistFile** ppv) override {
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
    win::HRESULT Resolve(win::HWND, win::DWORD) override { return a.Exists(target) ? win::S_OK : win::S_FALSE; }
    win::HRESULT Save(const win::WCHAR* p, win::BOOL) override {
      const Text path = Wide(p);
      a.Change(a.Exists(path) ? u"replaced shortcut " : u"created shortcut ", path, Text(), true, false, Text());
      Append(a.record.files, {u"  target ", target.c_str(), u"\n  arguments ", arguments.c_str(),
                              u"\n  working folder ", folder.c_str(), u"\n  description ", description.c_str(),
                              u"\n  icon ", icon.c_str(), u",", IntToText(iconIndex).c_str(), u"\n  show command ",
                              IntToText(show).c_str(), u"\n"});
      return win::S_OK;
    }
  };
  win::HRESULT CoInitializeEx(void* r, win::DWORD mode) override { return real.shell.CoInitializeEx(r, mode); }
  void CoUninitialize() override { real.shell.CoUninitialize(); }
  win::HRESULT CoCreateShellLink(win::IShellLinkW** ppv) override {
    *ppv = new Link(*this);
    return win::S_OK;
  }
  win::HRESULT SHGetFolderPathW(win::HWND hwnd, int csidl, win::HANDLE token, win::DWORD flags,
                                win::WCHAR* path) override {
    // A folder that is missing is not made.
    return real.shell.SHGetFolderPathW(hwnd, csidl & ~win::CSIDL_FLAG_CREATE, token, flags, path);
  }
  win::HRESULT WerAddExcludedApplication(const win::WCHAR* name, win::BOOL allUsers) override {
    Append(record.exclusions, {name, allUsers ? u" (all users)\n" : u" (this user)\n"});
    return win::S_OK;
  }

  // --- files: read from the machine, changes recorded and read back ------------------------------
  struct Entry {
    Text path;  // lower case
    bool exists, folder;
    Text source;  // a copy's: the file it was copied from, which its reads go to
  };
  std::vector<Entry> overlay;

  const Entry* Recorded(const Text& path) const {
    const Text folded = ToLower(path);
    for (auto it = overlay.rbegin(); it != overlay.rend(); ++it)
      if (it->path == folded) return &*it;
    return nullptr;
  }
  win::DWORD Attributes(const Text& path) {
    if (const Entry* e = Recorded(path))
      return !e->exists ? win::INVALID_FILE_ATTRIBUTES
                        : e->folder ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_NORMAL;
    return real.files.GetFileAttributesW(path.c_str());
  }
  bool Exists(const Text& path) { return Attributes(path) != win::INVALID_FILE_ATTRIBUTES; }
  bool IsFolder(const Text& path) {
    const win::DWORD a = Attributes(path);
    return a != win::INVALID_FILE_ATTRIBUTES && (a & win::FILE_ATTRIBUTE_DIRECTORY);
  }
  bool ParentIsFolder(const Text& path) {
    const std::size_t slash = path.find_last_of(u'\\');
    return slash != Text::npos && IsFolder(path.substr(0, slash));
  }
  void Line(const char16_t* verb, const Text& path, const Text& other) {
    Append(record.files, {verb, path.c_str(), other.empty() ? u"" : u" -> ", other.c_str(), u"\n"});
    ++record.fileCount;
  }
  // Records a change and what `path` is afterwards.
  void Change(const char16_t* verb, const Text& path, const Text& other, bool exists, bool folder,
              const Text& source) {
    Line(verb, path, other);
    overlay.push_back({ToLower(exists && !other.empty() ? other : path), exists, folder, source});
  }
  // A copy's reads go to the file it was copied from.
  Text Source(const Text& path) {
    const Entry* e = Recorded(path);
    return e && !e->source.empty() ? e->source : path;
  }
  win::DWORD GetFileAttributesW(const win::WCHAR* p) override {
    const win::DWORD a = Attributes(Wide(p));
    if (a == win::INVALID_FILE_ATTRIBUTES && Recorded(Wide(p))) Fail(win::ERROR_FILE_NOT_FOUND);
    else Real(0);
    return a;
  }
  win::BOOL DeleteFileW(const win::WCHAR* p) override {
    const Text path = Wide(p);
    if (!Exists(path) || IsFolder(path)) return Fail(win::ERROR_FILE_NOT_FOUND);
    Change(u"deleted ", path, Text(), false, false, Text());
    return win::TRUE;
  }
  win::BOOL MoveFileExW(const win::WCHAR* from, const win::WCHAR* to, win::DWORD flags) override {
    const Text a = Wide(from), b = Wide(to);
    if (flags & win::MOVEFILE_DELAY_UNTIL_REBOOT) {
      Line(u"marked for removal at the next restart: ", a, Text());
      return win::TRUE;
    }
    if (!Exists(a)) return Fail(win::ERROR_FILE_NOT_FOUND);
    if (Exists(b) && !(flags & win::MOVEFILE_REPLACE_EXISTING)) return Fail(win::ERROR_ALREADY_EXISTS);
    const Text source = Source(a);
    overlay.push_back({ToLower(a), false, false, Text()});
    Change(u"moved ", a, b, true, false, source);
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
    if (!ParentIsFolder(path)) return Fail(win::ERROR_PATH_NOT_FOUND);
    Change(u"created folder ", path, Text(), true, true, Text());
    return win::TRUE;
  }
  win::BOOL CopyFileW(const win::WCHAR* from, const win::WCHAR* to, win::BOOL failIfExists) override {
    const Text a = Wide(from), b = Wide(to);
    if (!Exists(a)) return Fail(ParentIsFolder(a) ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND);
    if (IsFolder(a)) return Fail(win::ERROR_ACCESS_DENIED);
    if (!ParentIsFolder(b)) return Fail(win::ERROR_PATH_NOT_FOUND);
    if (Exists(b) && failIfExists) return Fail(win::ERROR_FILE_EXISTS);
    Change(u"copied ", a, b, true, false, Source(a));
    return win::TRUE;
  }
  win::BOOL SetFileAttributesW(const win::WCHAR* p, win::DWORD) override {
    return Exists(Wide(p)) ? win::TRUE : Fail(win::ERROR_FILE_NOT_FOUND);
  }
  win::BOOL RemoveDirectoryW(const win::WCHAR* p) override {
    const Text path = Wide(p);
    if (!IsFolder(path)) return Fail(win::ERROR_FILE_NOT_FOUND);
    Change(u"removed folder ", path, Text(), false, false, Text());
    return win::TRUE;
  }
  win::HANDLE CreateFileW(const win::WCHAR* p, win::DWORD access, win::DWORD share,
                          const win::SECURITY_ATTRIBUTES* sa, win::DWORD disposition,
                          win::DWORD flags, win::HANDLE tmpl) override {
    const Text path = Wide(p);
    if (access & win::GENERIC_WRITE) {
      // Nothing is written: a file the run would make is named, its content dropped.
      Change(Exists(path) ? u"replaced " : u"created ", path, Text(), true, false, Text());
      return win::MakeHandle<win::HANDLE>(NewHandle());
    }
    if (!Exists(path)) {
      Fail(win::ERROR_FILE_NOT_FOUND);
      return win::INVALID_HANDLE_VALUE;
    }
    return Real(real.files.CreateFileW(Source(path).c_str(), access, share, sa, disposition, flags, tmpl));
  }
  win::BOOL ReadFile(win::HANDLE h, void* buffer, win::DWORD n, win::DWORD* read, void* o) override {
    return Real(real.files.ReadFile(h, buffer, n, read, o));
  }
  win::BOOL WriteFile(win::HANDLE h, const void* buffer, win::DWORD n, win::DWORD* written, void* o) override {
    if (!Own(win::HandleValue(h))) return Real(real.files.WriteFile(h, buffer, n, written, o));
    if (written) *written = n;
    return win::TRUE;
  }
  win::DWORD GetLastError() override { return ownError ? error : real.files.GetLastError(); }

  // --- the event log: the events recorded ---------------------------------------------------------
  win::HANDLE RegisterEventSourceW(const win::WCHAR*, const win::WCHAR*) override {
    return win::MakeHandle<win::HANDLE>(NewHandle());
  }
  win::BOOL ReportEventW(win::HANDLE, win::WORD type, win::WORD, win::DWORD, void*, win::WORD n,
                         win::DWORD, const win::WCHAR** strings, void*) override {
    for (win::WORD i = 0; strings && i < n; ++i)
      Append(record.events, {type == win::EVENTLOG_ERROR_TYPE     ? u"error: "
                             : type == win::EVENTLOG_WARNING_TYPE ? u"warning: "
                                                                  : u"information: ",
                             strings[i], u"\n"});
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
