// The patch package as the installer gets it. The updater runs with administrator rights from a
// folder its user can write, and the Windows Installer checks no signature for an administrator:
// whatever lies there as qvupdate.msp when the installer opens it would be applied, custom
// actions and all. So, before anything of the update happens, the package is copied into a new
// folder that only Administrators and SYSTEM can change, checked there (against the publisher's
// key, in a build that carries one) and given to the installer from there; the copy and its
// folder are removed when the installer has ended, and on every other way out of the run.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/seam.h"

namespace qv {

// The publisher's key identifier: the SHA-1 of the SubjectPublicKeyInfo of the certificate that
// signs the releases, as CryptHashPublicKeyInfo computes it.
using KeyId = std::array<std::uint8_t, 20>;

// 40 hexadecimal digits, either case; nothing for any other text.
std::optional<KeyId> ParseKeyId(std::string_view hex);

// The security descriptor of the protected folder: protected from inheritance, full control for
// Administrators and SYSTEM on the folder, and all rights on everything made in it.
inline constexpr char16_t kProtectedFolderSddl[] =
    u"D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)";
// The protected folder's name: this, then 16 random hexadecimal digits.
inline constexpr char16_t kProtectedFolderPrefix[] = u"QV3Update-";
// How many random names are tried when one is taken.
inline constexpr int kProtectedFolderTries = 5;

// Why a package cannot be used.
enum class PackageProblem {
  None,
  Missing,            // no qvupdate.msp beside the updater
  Unreadable,         // it is there, but cannot be read
  NoProtectedFolder,  // no protected folder could be made, or the copy not be written there
  NotSigned,          // no Authenticode signature
  OtherSigner,        // signed, but no certificate from the signer's up has the publisher's key
  Damaged,            // the content does not match its signature, or it is no package at all
  Untrusted,          // the signature is not valid: an expired certificate without a time
                      // stamp, a revoked or distrusted one, a broken chain
};

class ProtectedPackage {
 public:
  explicit ProtectedPackage(win::Platform& platform) : platform_(platform) {}
  ProtectedPackage(const ProtectedPackage&) = delete;
  ProtectedPackage& operator=(const ProtectedPackage&) = delete;
  ~ProtectedPackage() { Remove(); }

  // Copies `package` into a new protected folder in the Windows folder's Temp and checks the
  // copy: with `publisherKey`, its Authenticode signature must be intact and made by that key or
  // by a certificate whose chain holds it; without, the copy needs no signature. The run must
  // use only Path() from here on, and only when the result is None.
  PackageProblem Prepare(const Text& package, const std::optional<KeyId>& publisherKey);
  // The checked copy (empty before Prepare and after Remove).
  const Text& Path() const { return copy_; }
  // What Windows said about the problem: an error code or WinVerifyTrust's result.
  std::int64_t Detail() const { return detail_; }
  // Deletes the copy and removes the folder; nothing more happens when they are gone.
  void Remove();

 private:
  PackageProblem MakeFolder();
  PackageProblem Copy(const Text& package);
  PackageProblem Check(const KeyId& publisherKey);
  PackageProblem Fail(PackageProblem problem, std::int64_t detail) {
    detail_ = detail;
    return problem;
  }

  win::Platform& platform_;
  Text folder_;  // the protected folder, once it exists
  Text copy_;    // the copy in it, once it exists
  std::int64_t detail_ = 0;
};

}  // namespace qv
