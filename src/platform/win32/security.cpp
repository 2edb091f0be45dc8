#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

// The records handed to Windows as they are.
static_assert(sizeof(::GUID) == sizeof(GUID), "GUID layout");
static_assert(sizeof(::CRYPT_DATA_BLOB) == sizeof(CRYPT_DATA_BLOB) &&
                  sizeof(::CRYPT_BIT_BLOB) == sizeof(CRYPT_BIT_BLOB) &&
                  offsetof(::CRYPT_BIT_BLOB, cUnusedBits) == offsetof(CRYPT_BIT_BLOB, cUnusedBits),
              "blob layouts");
static_assert(sizeof(::CERT_PUBLIC_KEY_INFO) == sizeof(CERT_PUBLIC_KEY_INFO) &&
                  offsetof(::CERT_PUBLIC_KEY_INFO, PublicKey) ==
                      offsetof(CERT_PUBLIC_KEY_INFO, PublicKey),
              "CERT_PUBLIC_KEY_INFO layout");
static_assert(sizeof(::CERT_INFO) == sizeof(CERT_INFO) &&
                  offsetof(::CERT_INFO, NotAfter) == offsetof(CERT_INFO, NotAfter) &&
                  offsetof(::CERT_INFO, SubjectPublicKeyInfo) ==
                      offsetof(CERT_INFO, SubjectPublicKeyInfo) &&
                  offsetof(::CERT_INFO, rgExtension) == offsetof(CERT_INFO, rgExtension),
              "CERT_INFO layout");
static_assert(sizeof(::CERT_CONTEXT) == sizeof(CERT_CONTEXT) &&
                  offsetof(::CERT_CONTEXT, pCertInfo) == offsetof(CERT_CONTEXT, pCertInfo),
              "CERT_CONTEXT layout");
static_assert(offsetof(::CRYPT_PROVIDER_CERT, pCert) == offsetof(CRYPT_PROVIDER_CERT, pCert) &&
                  offsetof(::CRYPT_PROVIDER_CERT, dwConfidence) ==
                      offsetof(CRYPT_PROVIDER_CERT, dwConfidence),
              "CRYPT_PROVIDER_CERT layout");
static_assert(offsetof(::CRYPT_PROVIDER_SGNR, sftVerifyAsOf) ==
                      offsetof(CRYPT_PROVIDER_SGNR, sftVerifyAsOf) &&
                  offsetof(::CRYPT_PROVIDER_SGNR, csCertChain) ==
                      offsetof(CRYPT_PROVIDER_SGNR, csCertChain),
              "CRYPT_PROVIDER_SGNR layout");
static_assert(sizeof(::WINTRUST_FILE_INFO) == sizeof(WINTRUST_FILE_INFO), "WINTRUST_FILE_INFO");
static_assert(offsetof(::WINTRUST_DATA, pFile) == offsetof(WINTRUST_DATA, pFile) &&
                  offsetof(::WINTRUST_DATA, hWVTStateData) ==
                      offsetof(WINTRUST_DATA, hWVTStateData) &&
                  offsetof(::WINTRUST_DATA, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext),
              "WINTRUST_DATA layout (the members Windows 2000 knows)");

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

LONG Win32Security::WinVerifyTrust(HWND hwnd, const GUID* pgActionID, WINTRUST_DATA* pWVTData) {
  QV_BIND(wintrust, WinVerifyTrust);
  // Without wintrust no signature can be checked: the trust provider is unknown.
  if (!WinVerifyTrust_bound) return TRUST_E_PROVIDER_UNKNOWN;
  return WinVerifyTrust_bound(reinterpret_cast<::HWND>(HandleValue(hwnd)),
                              const_cast<::GUID*>(reinterpret_cast<const ::GUID*>(pgActionID)),
                              pWVTData);
}

CRYPT_PROVIDER_DATA* Win32Security::WTHelperProvDataFromStateData(HANDLE hStateData) {
  QV_BIND(wintrust, WTHelperProvDataFromStateData);
  if (!WTHelperProvDataFromStateData_bound) return nullptr;
  return reinterpret_cast<CRYPT_PROVIDER_DATA*>(WTHelperProvDataFromStateData_bound(
      reinterpret_cast<::HANDLE>(HandleValue(hStateData))));
}

CRYPT_PROVIDER_SGNR* Win32Security::WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                                   DWORD idxSigner,
                                                                   BOOL fCounterSigner,
                                                                   DWORD idxCounterSigner) {
  QV_BIND(wintrust, WTHelperGetProvSignerFromChain);
  if (!WTHelperGetProvSignerFromChain_bound) return nullptr;
  return reinterpret_cast<CRYPT_PROVIDER_SGNR*>(WTHelperGetProvSignerFromChain_bound(
      reinterpret_cast<::CRYPT_PROVIDER_DATA*>(pProvData), idxSigner, fCounterSigner,
      idxCounterSigner));
}

CRYPT_PROVIDER_CERT* Win32Security::WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr,
                                                                 DWORD idxCert) {
  QV_BIND(wintrust, WTHelperGetProvCertFromChain);
  if (!WTHelperGetProvCertFromChain_bound) return nullptr;
  return reinterpret_cast<CRYPT_PROVIDER_CERT*>(WTHelperGetProvCertFromChain_bound(
      reinterpret_cast<::CRYPT_PROVIDER_SGNR*>(pSgnr), idxCert));
}

BOOL Win32Security::CryptHashPublicKeyInfo(HCRYPTPROV hCryptProv, ALG_ID Algid, DWORD dwFlags,
                                           DWORD dwCertEncodingType,
                                           const CERT_PUBLIC_KEY_INFO* pInfo, BYTE* pbComputedHash,
                                           DWORD* pcbComputedHash) {
  QV_BIND(crypt32, CryptHashPublicKeyInfo);
  if (!CryptHashPublicKeyInfo_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return CryptHashPublicKeyInfo_bound(
      ToWin(hCryptProv), Algid, dwFlags, dwCertEncodingType,
      const_cast<::CERT_PUBLIC_KEY_INFO*>(reinterpret_cast<const ::CERT_PUBLIC_KEY_INFO*>(pInfo)),
      pbComputedHash, reinterpret_cast<::DWORD*>(pcbComputedHash));
}

LONG Win32Security::CertVerifyTimeValidity(const FILETIME* pTimeToVerify,
                                           const CERT_INFO* pCertInfo) {
  QV_BIND(crypt32, CertVerifyTimeValidity);
  // Without crypt32 no certificate can be called valid.
  if (!CertVerifyTimeValidity_bound) return 1;
  return CertVerifyTimeValidity_bound(
      const_cast<::FILETIME*>(reinterpret_cast<const ::FILETIME*>(pTimeToVerify)),
      const_cast<::CERT_INFO*>(reinterpret_cast<const ::CERT_INFO*>(pCertInfo)));
}

}  // namespace qv::win
