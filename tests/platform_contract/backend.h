// What the platform contract suite needs besides the seam: a way to lay out files and folders
// and read them back, and the small child program. One implementation over the simulated
// machine (sim_backend.cpp), one over real Windows (win32_backend.cpp, run under Wine).
//
// Paths are UTF-8, in any script; file contents are bytes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/seam.h"

namespace qv::contract {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual win::Platform platform() = 0;
  virtual bool simulated() const = 0;
  // Real Windows functions provided by Wine, where a few file rules of Windows are missing.
  virtual bool IsWine() const = 0;
  // Word sizes of the machine: of Windows itself and of the test program (a 32-bit program on
  // 64-bit Windows runs under WOW64).
  virtual int windowsBits() const = 0;
  virtual int processBits() const = 0;
  // GetLastError after a failed seam call.
  virtual win::DWORD LastError() = 0;
  // A new empty folder for the running test, removed with the backend; no trailing backslash.
  virtual std::string Scratch() = 0;
  virtual void MakeFolder(const std::string& path) = 0;
  // Creates (or overwrites) a file with this content, then gives it exactly these attributes.
  virtual void MakeFile(const std::string& path, win::DWORD attributes,
                        const std::string& content) = 0;
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // The child program, version 3.10.0.68, beside the test program: it writes its own full path
  // into the file named by the last word of its command line and ends.
  virtual std::string ChildProgram() = 0;
  // Puts a copy of the child program at `path` (its folder must exist).
  virtual void CopyChildProgram(const std::string& path) = 0;
  // The security descriptor of a folder in SDDL, its DACL only, as the machine holds it.
  virtual std::string FolderSecurity(const std::string& path) = 0;
};

std::unique_ptr<Backend> MakeBackend();

}  // namespace qv::contract
