#include "update/run_log.h"

namespace qv {

bool CreateFolders(win::IFiles& files, const Text& folder) {
  if (folder.empty()) return false;
  const win::DWORD attributes = files.GetFileAttributesW(folder.c_str());
  if (attributes != win::INVALID_FILE_ATTRIBUTES) return (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
  // "C:" or "\\server\share" above it: there is nothing more to create.
  const std::size_t slash = folder.find_last_of(u'\\');
  if (slash != Text::npos && slash > 2 && !CreateFolders(files, folder.substr(0, slash))) return false;
  return files.CreateDirectoryW(folder.c_str(), nullptr) ||
         files.GetLastError() == static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS);
}

FileRunLog::FileRunLog(win::Platform& platform, const Text& path)
    : files_(platform.files), file_(platform.processes) {
  const std::size_t slash = path.find_last_of(u'\\');
  if (slash != Text::npos && slash > 2) CreateFolders(files_, path.substr(0, slash));
  file_.reset(files_.CreateFileW(path.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                                 win::CREATE_ALWAYS, 0, win::HANDLE{}));
  if (!file_) {
    openError_ = files_.GetLastError();
    return;
  }
  Write("\xEF\xBB\xBF");
}

bool FileRunLog::Write(const std::string& bytes) {
  win::DWORD written = 0;
  return files_.WriteFile(file_.get(), bytes.data(), static_cast<win::DWORD>(bytes.size()), &written,
                          nullptr) &&
         written == bytes.size();
}

void FileRunLog::Line(const Text& text) {
  if (!file_) return;
  std::string bytes;
  if (lost_ > 0)
    bytes = "(" + std::to_string(lost_) + " line(s) of this log could not be written)\r\n";
  bytes += TextToUtf8(text) + "\r\n";
  if (Write(bytes)) {
    lost_ = 0;
  } else {
    ++lost_;
  }
}

}  // namespace qv
