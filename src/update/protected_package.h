// The patch package as the installer gets it. The updater runs with administrator rights from a
// folder its user can write, and the Windows Installer checks no signature for an administrator:
// whatever lies there as qvupdate.msp when the installer opens it would be applied, custom
// actions and all. So, before anything of the update happens, the package is copied into a new
// folder that only Administrators and SYSTEM can change, opened there once (no one may write or
// delete it while the run holds it), its SHA-256 computed through that handle and, in a release,
// compared with the hash of the package the release was made for. The installer gets that copy;
// the handle is closed and the copy and its folder removed when the installer has ended, and on
// every other way out of the run.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/handles.h"
#include "platform/seam.h"
#include "update/sha256.h"

namespace qv {

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
  OtherPackage,       // its SHA-256 is not that of the package the release was made for
};

class ProtectedPackage {
 public:
  explicit ProtectedPackage(win::Platform& platform)
      : platform_(platform), file_(platform.processes) {}
  ProtectedPackage(const ProtectedPackage&) = delete;
  ProtectedPackage& operator=(const ProtectedPackage&) = delete;
  ~ProtectedPackage() { Remove(); }

  // Copies `package` into a new protected folder in the Windows folder's Temp, opens the copy
  // and computes its SHA-256; with `releaseHash` the copy must have that hash. The run must use
  // only Path() from here on, and only when the result is None.
  PackageProblem Prepare(const Text& package, const std::optional<Sha256Digest>& releaseHash);
  // The checked copy (empty before Prepare and after Remove).
  const Text& Path() const { return copy_; }
  // The SHA-256 of the copy, once it was read.
  const std::optional<Sha256Digest>& Digest() const { return digest_; }
  // The error code Windows gave for the problem.
  std::int64_t Detail() const { return detail_; }
  // Closes the copy, deletes it and removes the folder; what cannot be removed now is marked
  // for removal at the next restart. Nothing more happens when they are gone.
  void Remove();

 private:
  PackageProblem MakeFolder();
  PackageProblem Copy(const Text& package);
  PackageProblem OpenAndHash();
  void Discard(const Text& path, bool folder);
  PackageProblem Fail(PackageProblem problem, std::int64_t detail) {
    detail_ = detail;
    return problem;
  }

  win::Platform& platform_;
  Text folder_;  // the protected folder, once it exists
  Text copy_;    // the copy's name in it, from the moment the copy is started
  win::UniqueHandle file_;  // the copy, open for reading with read sharing only
  std::optional<Sha256Digest> digest_;
  std::int64_t detail_ = 0;
};

}  // namespace qv
