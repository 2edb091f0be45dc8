#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

// werapi.h of MinGW-w64 does not compile on its own; the one function the program binds from
// wer.dll, as Windows declares it (only its type is used: no import).
extern "C" HRESULT WINAPI WerAddExcludedApplication(PCWSTR pwzExeName, BOOL bAllUsers);

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

// {00021401-0000-0000-C000-000000000046}, {000214EE-...}, {0000010B-...}: defined here so that
// no GUID library is needed.
constexpr ::GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr ::GUID kIidShellLinkW = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr ::GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

::HWND ToWin(HWND h) { return reinterpret_cast<::HWND>(HandleValue(h)); }
const wchar_t* Wide(const WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }

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

class ShellLinkAdapter final : public Adapter<IShellLinkW, ::IShellLinkW> {
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
  HRESULT SetPath(const WCHAR* pszFile) override { return real_->SetPath(Wide(pszFile)); }
  HRESULT SetWorkingDirectory(const WCHAR* pszDir) override {
    return real_->SetWorkingDirectory(Wide(pszDir));
  }
  HRESULT SetArguments(const WCHAR* pszArgs) override {
    return real_->SetArguments(Wide(pszArgs));
  }
  HRESULT SetDescription(const WCHAR* pszName) override {
    return real_->SetDescription(Wide(pszName));
  }
  HRESULT SetIconLocation(const WCHAR* pszIconPath, int iIcon) override {
    return real_->SetIconLocation(Wide(pszIconPath), iIcon);
  }
  HRESULT SetShowCmd(int iShowCmd) override { return real_->SetShowCmd(iShowCmd); }
  HRESULT Resolve(HWND hwnd, DWORD fFlags) override { return real_->Resolve(ToWin(hwnd), fFlags); }
};

}  // namespace

HRESULT Win32Shell::CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  QV_BIND(ole32, CoInitializeEx);
  if (!CoInitializeEx_bound) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return CoInitializeEx_bound(pvReserved, dwCoInit);
}

void Win32Shell::CoUninitialize() {
  QV_BIND(ole32, CoUninitialize);
  if (CoUninitialize_bound) CoUninitialize_bound();
}

HRESULT Win32Shell::CoCreateShellLink(IShellLinkW** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  QV_BIND(ole32, CoCreateInstance);
  if (!CoCreateInstance_bound) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  void* real = nullptr;
  const HRESULT hr = CoCreateInstance_bound(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                            kIidShellLinkW, &real);
  if (FAILED(hr)) return hr;
  *ppv = new ShellLinkAdapter(static_cast<::IShellLinkW*>(real));
  return hr;
}

HRESULT Win32Shell::SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags,
                                     WCHAR* pszPath) {
  // shell32 has it since Windows 2000.
  QV_BIND(shell32, SHGetFolderPathW);
  if (!SHGetFolderPathW_bound) {
    if (pszPath) pszPath[0] = 0;
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  return SHGetFolderPathW_bound(ToWin(hwnd), csidl,
                                reinterpret_cast<::HANDLE>(HandleValue(hToken)), dwFlags,
                                reinterpret_cast<wchar_t*>(pszPath));
}

HRESULT Win32Shell::WerAddExcludedApplication(const WCHAR* pwzExeName, BOOL bAllUsers) {
  // wer.dll exists from Windows Vista on.
  QV_BIND(wer, WerAddExcludedApplication);
  if (!WerAddExcludedApplication_bound) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return WerAddExcludedApplication_bound(reinterpret_cast<const wchar_t*>(pwzExeName), bAllUsers);
}

}  // namespace qv::win
