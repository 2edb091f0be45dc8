#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

::HCRYPTPROV ToWin(HCRYPTPROV h) { return static_cast<::HCRYPTPROV>(HandleValue(h)); }

}  // namespace

BOOL Win32Security::ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const WCHAR* StringSecurityDescriptor, DWORD StringSDRevision,
    PSECURITY_DESCRIPTOR* SecurityDescriptor, ULONG* SecurityDescriptorSize) {
  QV_BIND(advapi32, ConvertStringSecurityDescriptorToSecurityDescriptorW);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return ConvertStringSecurityDescriptorToSecurityDescriptorW_bound(
      reinterpret_cast<const wchar_t*>(StringSecurityDescriptor), StringSDRevision,
      SecurityDescriptor, reinterpret_cast<::ULONG*>(SecurityDescriptorSize));
}

void* Win32Security::LocalFree(void* hMem) { return ::LocalFree(hMem); }

BOOL Win32Security::CryptAcquireContextW(HCRYPTPROV* phProv, const WCHAR* szContainer,
                                         const WCHAR* szProvider, DWORD dwProvType,
                                         DWORD dwFlags) {
  QV_BIND(advapi32, CryptAcquireContextW);
  if (!CryptAcquireContextW_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  ::HCRYPTPROV provider = 0;
  const BOOL ok = CryptAcquireContextW_bound(
      &provider, reinterpret_cast<const wchar_t*>(szContainer),
      reinterpret_cast<const wchar_t*>(szProvider), dwProvType, dwFlags);
  if (phProv) *phProv = MakeHandle<HCRYPTPROV>(ok ? provider : 0);
  return ok;
}

BOOL Win32Security::CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  QV_BIND(advapi32, CryptGenRandom);
  if (!CryptGenRandom_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return CryptGenRandom_bound(ToWin(hProv), dwLen, pbBuffer);
}

BOOL Win32Security::CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  QV_BIND(advapi32, CryptReleaseContext);
  if (!CryptReleaseContext_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return CryptReleaseContext_bound(ToWin(hProv), dwFlags);
}

}  // namespace qv::win
