#include "update/protected_package.h"

#include "platform/handles.h"

namespace qv {

namespace {

// WinVerifyTrust's window for a check without any user interface.
const win::HWND kNoInteractiveUser = win::MakeHandle<win::HWND>(~std::uintptr_t{0});

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The Windows folder as Windows names it; empty when it cannot be read.
Text WindowsFolder(win::ISystem& system) {
  Text buffer(win::MAX_PATH, u'\0');
  win::UINT length = system.GetWindowsDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(length + 1, u'\0');
    length = system.GetWindowsDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
    if (length >= buffer.size()) length = 0;
  }
  buffer.resize(length);
  return buffer;
}

}  // namespace

std::optional<KeyId> ParseKeyId(std::string_view hex) {
  KeyId key{};
  if (hex.size() != key.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const int high = HexDigit(hex[2 * i]);
    const int low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return key;
}

PackageProblem ProtectedPackage::Prepare(const Text& package,
                                         const std::optional<KeyId>& publisherKey) {
  if (const PackageProblem problem = MakeFolder(); problem != PackageProblem::None) return problem;
  if (const PackageProblem problem = Copy(package); problem != PackageProblem::None) return problem;
  return publisherKey ? Check(*publisherKey) : PackageProblem::None;
}

PackageProblem ProtectedPackage::MakeFolder() {
  win::ISecurity& security = platform_.security;
  Text temp = WindowsFolder(platform_.system);
  if (temp.empty()) return Fail(PackageProblem::NoProtectedFolder, platform_.files.GetLastError());
  if (temp.back() != u'\\') temp += u'\\';
  temp += u"Temp\\";

  // The folder gets its DACL in the same call that makes it: there is no moment at which anyone
  // else could open it.
  win::UniqueLocalMemory descriptor(security);
  if (!security.ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kProtectedFolderSddl, win::SDDL_REVISION_1, descriptor.put(), nullptr))
    return Fail(PackageProblem::NoProtectedFolder, platform_.files.GetLastError());
  win::SECURITY_ATTRIBUTES attributes{sizeof(win::SECURITY_ATTRIBUTES), descriptor.get(),
                                      win::FALSE};

  win::UniqueCryptProvider provider(security);
  if (!security.CryptAcquireContextW(provider.put(), nullptr, nullptr, win::PROV_RSA_FULL,
                                     win::CRYPT_VERIFYCONTEXT))
    return Fail(PackageProblem::NoProtectedFolder, platform_.files.GetLastError());
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (int attempt = 0; attempt < kProtectedFolderTries; ++attempt) {
    win::BYTE random[8] = {};
    if (!security.CryptGenRandom(provider.get(), sizeof random, random))
      return Fail(PackageProblem::NoProtectedFolder, platform_.files.GetLastError());
    Text folder = temp + kProtectedFolderPrefix;
    for (win::BYTE b : random) {
      folder += kDigits[b >> 4];
      folder += kDigits[b & 0xF];
    }
    if (platform_.files.CreateDirectoryW(folder.c_str(), &attributes)) {
      folder_ = folder;
      return PackageProblem::None;
    }
    // A name that is taken, by whomever, is never used: it may be someone else's folder.
    const win::DWORD error = platform_.files.GetLastError();
    if (error != static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS))
      return Fail(PackageProblem::NoProtectedFolder, error);
  }
  return Fail(PackageProblem::NoProtectedFolder, win::ERROR_ALREADY_EXISTS);
}

PackageProblem ProtectedPackage::Copy(const Text& package) {
  const Text copy = folder_ + u"\\qvupdate.msp";
  if (!platform_.files.CopyFileW(package.c_str(), copy.c_str(), win::TRUE)) {
    // CopyFileW leaves no part of a failed copy behind.
    const win::DWORD error = platform_.files.GetLastError();
    if (error == static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND) ||
        error == static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND))
      return Fail(PackageProblem::Missing, error);
    if (error == static_cast<win::DWORD>(win::ERROR_DISK_FULL) ||
        error == static_cast<win::DWORD>(win::ERROR_HANDLE_DISK_FULL) ||
        error == static_cast<win::DWORD>(win::ERROR_FILE_EXISTS))
      return Fail(PackageProblem::NoProtectedFolder, error);
    return Fail(PackageProblem::Unreadable, error);
  }
  copy_ = copy;
  // The copy takes the original's attributes; a read-only or hidden copy could not be deleted
  // at the end. Its security descriptor is the folder's.
  platform_.files.SetFileAttributesW(copy_.c_str(), win::FILE_ATTRIBUTE_NORMAL);
  return PackageProblem::None;
}

PackageProblem ProtectedPackage::Check(const KeyId& publisherKey) {
  win::ISecurity& security = platform_.security;
  win::WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = copy_.c_str();
  win::WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = win::WTD_UI_NONE;
  // No revocation lists, and nothing fetched from the network: the pinned key is the anchor.
  data.fdwRevocationChecks = win::WTD_REVOKE_NONE;
  data.dwProvFlags = win::WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwUnionChoice = win::WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = win::WTD_STATEACTION_VERIFY;
  const win::GUID action = win::WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const win::LONG result = security.WinVerifyTrust(kNoInteractiveUser, &action, &data);
  const win::TrustCheckState state(security, action, data);

  switch (result) {
    // The signature and the content agree. Whether a root the machine trusts is reached does
    // not matter: the publisher's key decides below, and a private root (or none) is fine.
    case win::ERROR_SUCCESS:
    case win::CERT_E_UNTRUSTEDROOT:
    case win::CERT_E_UNTRUSTEDTESTROOT:
    case win::CERT_E_CHAINING:
      break;
    case win::TRUST_E_NOSIGNATURE:
      return Fail(PackageProblem::NotSigned, result);
    case win::TRUST_E_BAD_DIGEST:
    case win::TRUST_E_SUBJECT_FORM_UNKNOWN:
      return Fail(PackageProblem::Damaged, result);
    default:
      // An expired certificate (CERT_E_EXPIRED), a revoked or distrusted one, a certificate whose
      // own signature is broken, a check that could not run at all.
      return Fail(PackageProblem::Untrusted, result);
  }

  win::CRYPT_PROVIDER_DATA* provider = security.WTHelperProvDataFromStateData(data.hWVTStateData);
  win::CRYPT_PROVIDER_SGNR* signer =
      provider ? security.WTHelperGetProvSignerFromChain(provider, 0, win::FALSE, 0) : nullptr;
  if (!signer) return Fail(PackageProblem::Untrusted, result != 0 ? result : win::TRUST_E_NOSIGNATURE);
  // From the signer's own certificate up to the one with the publisher's key, each must have
  // been valid when the package was signed (the time stamp's time, or now without one): the
  // policy above reports an untrusted root before an expired certificate.
  for (win::DWORD i = 0; i < signer->csCertChain; ++i) {
    const win::CRYPT_PROVIDER_CERT* cert = security.WTHelperGetProvCertFromChain(signer, i);
    if (!cert || !cert->pCert || !cert->pCert->pCertInfo) break;
    const win::CERT_INFO& info = *cert->pCert->pCertInfo;
    KeyId key{};
    win::DWORD size = static_cast<win::DWORD>(key.size());
    if (!security.CryptHashPublicKeyInfo(win::HCRYPTPROV{}, win::CALG_SHA1, 0,
                                         win::X509_ASN_ENCODING, &info.SubjectPublicKeyInfo,
                                         key.data(), &size) ||
        size != key.size())
      return Fail(PackageProblem::Untrusted, platform_.files.GetLastError());
    if (security.CertVerifyTimeValidity(&signer->sftVerifyAsOf, &info) != 0)
      return Fail(PackageProblem::Untrusted, win::CERT_E_EXPIRED);
    if (key == publisherKey) return PackageProblem::None;
  }
  return Fail(PackageProblem::OtherSigner, result);
}

void ProtectedPackage::Remove() {
  if (!copy_.empty()) {
    platform_.files.DeleteFileW(copy_.c_str());
    copy_.clear();
  }
  if (!folder_.empty()) {
    platform_.files.RemoveDirectoryW(folder_.c_str());
    folder_.clear();
  }
}

}  // namespace qv
