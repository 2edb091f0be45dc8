// The contract suite on real Windows (Wine): the real seam, files made with kernel32's wide
// functions, paths in UTF-8 converted to UTF-16 at this edge.
#include "backend.h"
#include "platform/text.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>
#include <sddl.h>

#include "win32_machine.h"

#include <string>
#include <vector>

namespace qv::contract {
namespace {

std::wstring Wide(const std::string& utf8) {
  const Text text = Utf8ToText(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* wide, std::size_t length) {
  return TextToUtf8(Text(wide, wide + length));
}

std::string OwnFolder() {
  wchar_t path[MAX_PATH];
  const ::DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::string s = Utf8(path, n);
  return s.substr(0, s.find_last_of('\\'));
}

// Removes a folder with everything in it, read-only and hidden files included.
void RemoveTree(const std::wstring& folder) {
  ::WIN32_FIND_DATAW data;
  const ::HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
      else ::DeleteFileW(path.c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

class Win32Backend final : public Backend {
 public:
  ~Win32Backend() override {
    for (const std::string& s : scratch_) RemoveTree(Wide(s));
  }
  win::Platform platform() override { return seam_.platform(); }
  bool simulated() const override { return false; }
  bool IsWine() const override { return machine::IsWine(); }
  // Read from the machine, not from the seam under test: the processor architecture of Windows
  // itself, also to a program under WOW64.
  int windowsBits() const override { return machine::WindowsBits(); }
  int processBits() const override { return static_cast<int>(sizeof(void*) * 8); }
  win::DWORD LastError() override { return ::GetLastError(); }
  std::string Scratch() override {
    wchar_t temp[MAX_PATH];
    const ::DWORD n = ::GetTempPathW(MAX_PATH, temp);
    std::string path = Utf8(temp, n) + "qvpc" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(++counter_);
    ::CreateDirectoryW(Wide(path).c_str(), nullptr);
    scratch_.push_back(path);
    return path;
  }
  void MakeFolder(const std::string& path) override {
    ::CreateDirectoryW(Wide(path).c_str(), nullptr);
  }
  void MakeFile(const std::string& path, win::DWORD attributes, const std::string& content) override {
    const std::wstring wide = Wide(path);
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    const ::HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    ::DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<::DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(h);
    ::SetFileAttributesW(wide.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    const ::HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
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
    ::CopyFileW(Wide(ChildProgram()).c_str(), Wide(path).c_str(), FALSE);
  }
  std::string FolderSecurity(const std::string& path) override {
    const std::wstring wide = Wide(path);
    ::DWORD size = 0;
    ::GetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<::BYTE> descriptor(size ? size : 1);
    if (!::GetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
      return "(GetFileSecurityW failed: " + std::to_string(::GetLastError()) + ")";
    ::LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
      return "(no SDDL)";
    std::string sddl = Utf8(text, ::wcslen(text));
    ::LocalFree(text);
    return sddl;
  }

 private:
  win::Win32Platform seam_;
  std::vector<std::string> scratch_;
  int counter_ = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace qv::contract
