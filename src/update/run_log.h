// The run's log (/log PATH): UTF-8 text with a byte order mark and CR LF line ends, written line
// by line as the run goes, so that whatever ends the run leaves the lines before it. A log that
// cannot be written never stops the update: a line that cannot be written is counted, and the
// next line that can be written says how many were lost; a log that cannot be created at all is
// named in the run's event (see session.h).
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "platform/seam.h"

namespace qv {

class RunLog {
 public:
  virtual ~RunLog() = default;
  virtual void Line(const Text& text) = 0;
};

// No log: every line goes nowhere.
class NoRunLog final : public RunLog {
 public:
  void Line(const Text&) override {}
};

class FileRunLog final : public RunLog {
 public:
  // Creates the file at `path` (replacing one that is there) and the folders above it that are
  // missing. `error` is 0, or what Windows said when the file could not be created.
  FileRunLog(win::Platform& platform, const Text& path);
  void Line(const Text& text) override;
  bool IsOpen() const { return static_cast<bool>(file_); }
  win::DWORD OpenError() const { return openError_; }

 private:
  bool Write(const std::string& bytes);

  win::IFiles& files_;
  win::UniqueHandle file_;
  win::DWORD openError_ = 0;
  std::uint32_t lost_ = 0;
};

// Creates `folder` and every folder above it that is missing; true when it exists afterwards.
bool CreateFolders(win::IFiles& files, const Text& folder);

}  // namespace qv
