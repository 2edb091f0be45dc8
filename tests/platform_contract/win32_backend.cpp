// The contract suite on real Windows (wine64): the real seam, files made with kernel32.
#include "backend.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qv::contract {
namespace {

std::string OwnFolder() {
  char path[MAX_PATH];
  const ::DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\'));
}

// Removes a folder with everything in it, read-only and hidden files included.
void RemoveTree(const std::string& folder) {
  ::WIN32_FIND_DATAA data;
  const ::HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
      else ::DeleteFileA(path.c_str());
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryA(folder.c_str());
}

class Win32Backend final : public Backend {
 public:
  ~Win32Backend() override {
    for (const std::string& s : scratch_) RemoveTree(s);
  }
  win::Platform platform() override { return seam_.platform(); }
  bool simulated() const override { return false; }
  bool IsWine() const override {
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  }
  win::DWORD LastError() override { return ::GetLastError(); }
  std::string Scratch() override {
    char temp[MAX_PATH];
    const ::DWORD n = ::GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp, n) + "qvpc" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(++counter_);
    ::CreateDirectoryA(path.c_str(), nullptr);
    scratch_.push_back(path);
    return path;
  }
  void MakeFolder(const std::string& path) override { ::CreateDirectoryA(path.c_str(), nullptr); }
  void MakeFile(const std::string& path, win::DWORD attributes, const std::string& content) override {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const ::HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    ::DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<::DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(h);
    ::SetFileAttributesA(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    const ::HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string content;
    char buffer[4096];
    ::DWORD read = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    ::CloseHandle(h);
    return content;
  }
  std::string ChildProgram() override { return OwnFolder() + "\\contract_child.exe"; }
  void CopyChildProgram(const std::string& path) override {
    ::CopyFileA(ChildProgram().c_str(), path.c_str(), FALSE);
  }

 private:
  win::Win32Platform seam_;
  std::vector<std::string> scratch_;
  int counter_ = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace qv::contract
