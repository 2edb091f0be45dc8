// The simulated machine's ole32, shell32 and wer side: COM, the shell link object, special
// folders, error-reporting exclusions.
#include <cstring>

#include "platform/sim/sim_areas.h"

namespace qv::sim {

namespace {

win::HRESULT PlannedHr(std::int64_t code, win::HRESULT usual) {
  return code != 0 ? static_cast<win::HRESULT>(code) : usual;
}

}  // namespace

// One shell link object (CLSID_ShellLink) with its IShellLinkW and IPersistFile faces; it lives
// until its last reference is released and holds a COM-object entry in the handle table
// meanwhile, so a reference the program forgets shows as an open handle.
struct SimAreas::ShellLinkObject final : public win::IShellLinkW, public win::IPersistFile {
  SimAreas& a;
  std::uintptr_t handle;
  win::ULONG refs = 1;
  ShortcutData data;

  ShellLinkObject(SimAreas& areas, std::uintptr_t h) : a(areas), handle(h) {}

  // Reference counting cannot fail and is not part of the call log.
  win::ULONG AddRef() override { return ++refs; }
  win::ULONG Release() override {
    const win::ULONG left = --refs;
    if (left == 0) {
      a.m.kernel_.Close(handle, HandleKind::ComObject);
      a.shellLinks.erase(this);
      delete this;
    }
    return left;
  }

  win::HRESULT QueryInterfacePersistFile(win::IPersistFile** ppv) override {
    if (auto f = a.m.kernel_.Enter("IShellLinkW::QueryInterface", "IPersistFile")) {
      if (ppv) *ppv = nullptr;
      return PlannedHr(*f, win::E_NOINTERFACE);
    }
    if (!ppv) return kEPointer;
    AddRef();
    *ppv = this;
    return win::S_OK;
  }

  win::HRESULT SetText(const char* function, const win::WCHAR* value, std::string& field) {
    if (auto f = a.m.kernel_.Enter(function, ShowW(value))) return PlannedHr(*f, win::E_FAIL);
    if (!value) return win::E_INVALIDARG;
    field = U8(value);
    return win::S_OK;
  }
  win::HRESULT SetPath(const win::WCHAR* pszFile) override {
    return SetText("IShellLinkW::SetPath", pszFile, data.target);
  }
  win::HRESULT SetWorkingDirectory(const win::WCHAR* pszDir) override {
    return SetText("IShellLinkW::SetWorkingDirectory", pszDir, data.workingDirectory);
  }
  win::HRESULT SetArguments(const win::WCHAR* pszArgs) override {
    return SetText("IShellLinkW::SetArguments", pszArgs, data.arguments);
  }
  win::HRESULT SetDescription(const win::WCHAR* pszName) override {
    return SetText("IShellLinkW::SetDescription", pszName, data.description);
  }
  win::HRESULT SetIconLocation(const win::WCHAR* pszIconPath, int iIcon) override {
    const win::HRESULT hr = SetText("IShellLinkW::SetIconLocation", pszIconPath, data.iconPath);
    if (hr == win::S_OK) data.iconIndex = iIcon;
    return hr;
  }
  win::HRESULT SetShowCmd(int iShowCmd) override {
    if (auto f = a.m.kernel_.Enter("IShellLinkW::SetShowCmd", std::to_string(iShowCmd)))
      return PlannedHr(*f, win::E_FAIL);
    data.showCommand = iShowCmd;
    return win::S_OK;
  }
  win::HRESULT Resolve(win::HWND /*hwnd*/, win::DWORD fFlags) override {
    if (auto f = a.m.kernel_.Enter("IShellLinkW::Resolve", std::to_string(fFlags)))
      return PlannedHr(*f, win::E_FAIL);
    data.resolved = true;
    // A target that cannot be found is no failure: the shell offers its search dialog (unless
    // SLR_NO_UI) and the call then reports S_FALSE.
    if (data.target.empty() || !a.Lookup(a.ProgramPath(data.target))) return win::S_FALSE;
    return win::S_OK;
  }

  win::HRESULT Save(const win::WCHAR* pszFileName, win::BOOL /*fRemember*/) override {
    const std::string spelled = U8(pszFileName);
    if (auto f = a.m.kernel_.Enter("IPersistFile::Save", pszFileName ? spelled : "(null)"))
      return PlannedHr(*f, win::E_FAIL);
    if (!pszFileName || !*pszFileName) return win::E_INVALIDARG;
    const std::string path = a.ProgramPath(spelled);
    const std::string parent = ParentOf(path);
    if (parent.empty() || !a.IsFolder(parent))
      return win::HRESULT_FROM_WIN32(win::ERROR_PATH_NOT_FOUND);
    const Node* existing = a.Lookup(path);
    if (existing) {
      // The file is created anew (CREATE_ALWAYS): a folder, a read-only file, or a hidden or
      // system file (the new one would not keep those attributes) is refused.
      if (existing->folder) return win::E_ACCESSDENIED;
      if (existing->file.attributes &
          (win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM))
        return win::E_ACCESSDENIED;
    }
    Node n;
    n.path = existing ? existing->path : path;
    n.file.attributes = win::FILE_ATTRIBUTE_ARCHIVE;
    n.file.shortcut = data;
    a.fs[FoldCase(path)] = std::move(n);
    a.Log((existing ? "replaced " : "created ") + spelled);
    return win::S_OK;
  }
};

void SimAreas::ReleaseShellLinks() {
  for (ShellLinkObject* o : shellLinks) delete o;
  shellLinks.clear();
}

// --- IShell ------------------------------------------------------------------------------------

win::HRESULT SimAreas::CoInitializeEx(void* pvReserved, win::DWORD dwCoInit) {
  if (auto f = m.kernel_.Enter("CoInitializeEx", std::to_string(dwCoInit)))
    return PlannedHr(*f, win::E_OUTOFMEMORY);
  if (pvReserved) return win::E_INVALIDARG;
  const win::DWORD mode = dwCoInit & win::COINIT_APARTMENTTHREADED;
  if (m.comInitCount_ > 0 && mode != comMode) return kRpcEChangedMode;
  comMode = mode;
  return ++m.comInitCount_ == 1 ? win::S_OK : win::S_FALSE;
}

void SimAreas::CoUninitialize() {
  m.kernel_.Enter("CoUninitialize");
  if (m.comInitCount_ > 0) --m.comInitCount_;
}

win::HRESULT SimAreas::CoCreateShellLink(win::IShellLinkW** ppv) {
  if (ppv) *ppv = nullptr;
  if (auto f = m.kernel_.Enter("CoCreateInstance", "CLSID_ShellLink"))
    return PlannedHr(*f, win::E_FAIL);
  if (!ppv) return kEPointer;
  if (m.comInitCount_ == 0) return win::CO_E_NOTINITIALIZED;
  auto* o = new ShellLinkObject(*this, m.kernel_.OpenHandle(HandleKind::ComObject, "shell link"));
  shellLinks.insert(o);
  *ppv = o;
  return win::S_OK;
}

win::HRESULT SimAreas::SHGetFolderPathW(win::HWND /*hwnd*/, int csidl, win::HANDLE /*hToken*/,
                                        win::DWORD dwFlags, win::WCHAR* pszPath) {
  if (auto f = m.kernel_.Enter("SHGetFolderPathW", std::to_string(csidl))) {
    if (pszPath) *pszPath = u'\0';
    return PlannedHr(*f, win::E_FAIL);
  }
  if (!pszPath) return win::E_INVALIDARG;
  *pszPath = u'\0';
  const int folder = csidl & 0x00FF;  // without CSIDL_FLAG_MASK (0xFF00)
  if (dwFlags > 1) return win::E_INVALIDARG;  // SHGFP_TYPE_CURRENT or SHGFP_TYPE_DEFAULT
  if (auto r = specialFolderResults.find(folder); r != specialFolderResults.end()) {
    if (r->second != win::S_OK) return r->second;
  }
  auto it = specialFolders.find(folder);
  if (it == specialFolders.end()) return win::E_INVALIDARG;
  const std::string& path = it->second;
  if (!IsFolder(path)) {
    if (!(csidl & win::CSIDL_FLAG_CREATE)) return win::S_FALSE;  // valid, but not there
    if (IsFile(path)) return win::HRESULT_FROM_WIN32(win::ERROR_FILE_EXISTS);
    MakeFolders(path);
    Log("created folder " + path);
  }
  if (CopyOutW(path, pszPath, win::MAX_PATH) >= win::MAX_PATH) return win::E_FAIL;
  return win::S_OK;
}

win::HRESULT SimAreas::WerAddExcludedApplication(const win::WCHAR* pwzExeName,
                                                 win::BOOL bAllUsers) {
  const std::string name = pwzExeName ? TextToUtf8(Text(pwzExeName)) : "(null)";
  if (!m.werAvailable_) {
    // wer.dll is not on Windows XP: the function cannot be bound.
    m.kernel_.Enter("WerAddExcludedApplication", "unavailable");
    return win::HRESULT_FROM_WIN32(static_cast<win::LONG>(kErrorProcNotFound));
  }
  if (auto f = m.kernel_.Enter("WerAddExcludedApplication", name)) return PlannedHr(*f, win::E_FAIL);
  if (!pwzExeName || !*pwzExeName) return win::E_INVALIDARG;
  m.werExclusions_.emplace_back(Text(pwzExeName), bAllUsers);
  return win::S_OK;
}

}  // namespace qv::sim
