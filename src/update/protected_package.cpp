#include "update/protected_package.h"

#include <vector>

namespace qv {

namespace {

// The machine's Windows folder; empty when it cannot be read. Not GetWindowsDirectoryW: on a
// Terminal Server that names a folder of the user's own for a program not marked
// Terminal-Server-aware, below a folder the user controls.
Text WindowsFolder(win::ISystem& system) {
  Text buffer(win::MAX_PATH, u'\0');
  win::UINT length =
      system.GetSystemWindowsDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(length + 1, u'\0');
    length = system.GetSystemWindowsDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
    if (length >= buffer.size()) length = 0;
  }
  buffer.resize(length);
  return buffer;
}

bool IsNotFound(win::DWORD error) {
  return error == static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND) ||
         error == static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND);
}

}  // namespace

PackageProblem ProtectedPackage::Prepare(const Text& package,
                                         const std::optional<Sha256Digest>& releaseHash) {
  if (const PackageProblem problem = MakeFolder(); problem != PackageProblem::None) return problem;
  if (const PackageProblem problem = Copy(package); problem != PackageProblem::None) return problem;
  if (const PackageProblem problem = OpenAndHash(); problem != PackageProblem::None) return problem;
  if (releaseHash && *digest_ != *releaseHash) return Fail(PackageProblem::OtherPackage, 0);
  return PackageProblem::None;
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
  // Remembered before the copy starts: a copy that fails half-way is deleted all the same.
  copy_ = folder_ + u"\\qvupdate.msp";
  if (!platform_.files.CopyFileW(package.c_str(), copy_.c_str(), win::TRUE)) {
    const win::DWORD error = platform_.files.GetLastError();
    if (IsNotFound(error)) return Fail(PackageProblem::Missing, error);
    if (error == static_cast<win::DWORD>(win::ERROR_DISK_FULL) ||
        error == static_cast<win::DWORD>(win::ERROR_HANDLE_DISK_FULL) ||
        error == static_cast<win::DWORD>(win::ERROR_FILE_EXISTS))
      return Fail(PackageProblem::NoProtectedFolder, error);
    return Fail(PackageProblem::Unreadable, error);
  }
  // The copy takes the original's attributes; a read-only or hidden copy could not be deleted
  // at the end. Its security descriptor is the folder's.
  platform_.files.SetFileAttributesW(copy_.c_str(), win::FILE_ATTRIBUTE_NORMAL);
  return PackageProblem::None;
}

PackageProblem ProtectedPackage::OpenAndHash() {
  // Read access with read sharing only: from here until the installer has ended nobody can
  // write, replace, rename or delete the copy, and the installer (which opens it for reading,
  // denying writes) still can.
  file_.reset(platform_.files.CreateFileW(copy_.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ,
                                          nullptr, win::OPEN_EXISTING,
                                          win::FILE_FLAG_SEQUENTIAL_SCAN, win::HANDLE{}));
  if (!file_) return Fail(PackageProblem::Unreadable, platform_.files.GetLastError());
  Sha256 hash;
  std::vector<std::uint8_t> buffer(64 * 1024);
  for (;;) {
    win::DWORD read = 0;
    if (!platform_.files.ReadFile(file_.get(), buffer.data(), static_cast<win::DWORD>(buffer.size()),
                                  &read, nullptr))
      return Fail(PackageProblem::Unreadable, platform_.files.GetLastError());
    if (read == 0) break;
    hash.Update(buffer.data(), read);
  }
  digest_ = hash.Finish();
  return PackageProblem::None;
}

// Deletes a file or removes a folder of the run; what cannot go now goes at the next restart.
void ProtectedPackage::Discard(const Text& path, bool folder) {
  win::IFiles& files = platform_.files;
  auto remove = [&] {
    return folder ? files.RemoveDirectoryW(path.c_str()) : files.DeleteFileW(path.c_str());
  };
  if (remove()) return;
  win::DWORD error = files.GetLastError();
  if (!folder && error == static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED) &&
      files.SetFileAttributesW(path.c_str(), win::FILE_ATTRIBUTE_NORMAL)) {
    // Left read-only by a copy that failed half-way.
    if (remove()) return;
    error = files.GetLastError();
  }
  if (IsNotFound(error)) return;
  files.MoveFileExW(path.c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT);
}

void ProtectedPackage::Remove() {
  file_.reset();
  if (!copy_.empty()) {
    Discard(copy_, false);
    copy_.clear();
  }
  if (!folder_.empty()) {
    Discard(folder_, true);
    folder_.clear();
  }
}

}  // namespace qv
