#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

// {00021401-0000-0000-C000-000000000046}, {000214EE-...}, {0000010B-...}: defined here so that
// no GUID library is needed.
constexpr ::GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr ::GUID kIidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr ::GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

::HWND ToWin(HWND h) { return reinterpret_cast<::HWND>(HandleValue(h)); }

// Our interface `Ours` over the real COM object `Real`: holds one reference to the real object
// and releases it with the last reference to the adapter.
template <typename Ours, typename Real>
class Adapter : public Ours {
 public:
  explicit Adapter(Real* real) : real_(real) {}
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      real_->Release();
      delete this;
    }
    return left;
  }

 protected:
  virtual ~Adapter() = default;
  Real* real_;

 private:
  ULONG refs_ = 1;
};

class PersistFileAdapter final : public Adapter<IPersistFile, ::IPersistFile> {
 public:
  using Adapter::Adapter;
  HRESULT Save(const WCHAR* pszFileName, BOOL fRemember) override {
    return real_->Save(reinterpret_cast<const wchar_t*>(pszFileName), fRemember);
  }
};

class ShellLinkAdapter final : public Adapter<IShellLinkA, ::IShellLinkA> {
 public:
  using Adapter::Adapter;
  HRESULT QueryInterfacePersistFile(IPersistFile** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    void* real = nullptr;
    const HRESULT hr = real_->QueryInterface(kIidPersistFile, &real);
    if (FAILED(hr)) return hr;
    *ppv = new PersistFileAdapter(static_cast<::IPersistFile*>(real));
    return hr;
  }
  HRESULT SetPath(const char* pszFile) override { return real_->SetPath(pszFile); }
  HRESULT SetWorkingDirectory(const char* pszDir) override {
    return real_->SetWorkingDirectory(pszDir);
  }
  HRESULT SetArguments(const char* pszArgs) override { return real_->SetArguments(pszArgs); }
  HRESULT SetDescription(const char* pszName) override { return real_->SetDescription(pszName); }
  HRESULT SetIconLocation(const char* pszIconPath, int iIcon) override {
    return real_->SetIconLocation(pszIconPath, iIcon);
  }
  HRESULT SetShowCmd(int iShowCmd) override { return real_->SetShowCmd(iShowCmd); }
  HRESULT Resolve(HWND hwnd, DWORD fFlags) override { return real_->Resolve(ToWin(hwnd), fFlags); }
};

using WerAddExcludedApplicationFunction = ::HRESULT(WINAPI*)(::PCWSTR, ::BOOL);

}  // namespace

HRESULT Win32Shell::CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  return ::CoInitializeEx(pvReserved, dwCoInit);
}

void Win32Shell::CoUninitialize() { ::CoUninitialize(); }

HRESULT Win32Shell::CoCreateShellLink(IShellLinkA** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  void* real = nullptr;
  const HRESULT hr =
      ::CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkA, &real);
  if (FAILED(hr)) return hr;
  *ppv = new ShellLinkAdapter(static_cast<::IShellLinkA*>(real));
  return hr;
}

HRESULT Win32Shell::SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags,
                                     char* pszPath) {
  // shell32 has it since Windows 2000 and is a known DLL: no search for a file of that name.
  return ::SHGetFolderPathA(ToWin(hwnd), csidl, reinterpret_cast<::HANDLE>(HandleValue(hToken)),
                            dwFlags, pszPath);
}

HRESULT Win32Shell::WerAddExcludedApplication(const WCHAR* pwzExeName, BOOL bAllUsers) {
  // wer.dll exists from Windows Vista on.
  static const auto function = reinterpret_cast<WerAddExcludedApplicationFunction>(
      BindFunction(LoadSystemLibrary(L"wer.dll"), "WerAddExcludedApplication"));
  if (!function) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return function(reinterpret_cast<const wchar_t*>(pwzExeName), bAllUsers);
}

}  // namespace qv::win
