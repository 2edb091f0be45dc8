// GetWindowsLevel, GetSpecialFolder, GetFileVersionInfoBlock, IsOrdinaryFile.
#include <algorithm>
#include <cstring>
#include <vector>

#include "winhelpers/winhelpers.h"

namespace qv {

std::int32_t GetWindowsLevel(win::ISystem& system, WindowsLevel& cache) {
  if (cache.iWindowsLevel > 0) return cache.iWindowsLevel;

  win::OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(win::OSVERSIONINFOA);
  // Not tested: a failed query leaves the record zero, which reads as version 0.0.
  system.GetVersionExA(&info);

  if (info.dwMajorVersion == 5) {
    // 5.0 (Windows 2000) stores 0, which does not count as cached.
    cache.iWindowsLevel = info.dwMinorVersion != 0 ? 1 : 0;
    return cache.iWindowsLevel;
  }
  if (info.dwMajorVersion >= 6) {
    cache.iWindowsLevel = 2;
    return 2;
  }
  return 0;
}

Text GetSpecialFolder(win::Platform& platform, std::int32_t iFolderId) {
  // 260 blanks; std::string keeps a NUL after them, so the scan below always ends.
  std::string buffer(win::MAX_PATH, ' ');
  const win::HRESULT hr =
      platform.shell.SHGetFolderPathA(win::HWND{}, iFolderId | win::CSIDL_FLAG_CREATE,
                                      win::HANDLE{}, win::SHGFP_TYPE_CURRENT, buffer.data());
  if (hr == win::E_INVALIDARG) {
    const Text text = u"An invalid folder ID was specified";
    platform.dialogs.MessageBoxW(win::HWND{}, text.c_str(), kProgramTitle, win::MB_OK);
    return Text();
  }
  if (hr == win::S_OK) {
    const std::size_t end = std::strlen(buffer.c_str());
    return platform.codePage.FromAnsi(AnsiString(buffer.substr(0, end)));
  }
  if (hr == win::S_FALSE) {
    const Text text = u"The system folder with ID#" + IntToText(iFolderId) +
                      u" does not exist or could not be retrieved.";
    platform.dialogs.MessageBoxW(win::HWND{}, text.c_str(), kProgramTitle, win::MB_OK);
    return Text();
  }
  return Text();
}

bool GetFileVersionInfoBlock(win::Platform& platform, Text sFileName, win::VS_FIXEDFILEINFO& info) {
  const AnsiString file = platform.codePage.ToAnsi(sFileName);
  win::DWORD handle = 0;
  const win::DWORD size = platform.files.GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (size == 0) return false;

  std::vector<std::uint8_t> data(size);
  if (!platform.files.GetFileVersionInfoA(file.c_str(), handle, size, data.data())) return false;

  void* block = nullptr;
  win::UINT length = 0;
  if (!platform.files.VerQueryValueA(data.data(), "\\", &block, &length) || block == nullptr)
    return false;

  // The root block is the 52-byte record; never copy more than the caller's record holds.
  const std::size_t count = std::min<std::size_t>(length, sizeof(win::VS_FIXEDFILEINFO));
  std::memcpy(&info, block, count);
  return true;
}

bool IsOrdinaryFile(win::Platform& platform, const Text& sPath) {
  const AnsiString path = platform.codePage.ToAnsi(sPath);
  const win::DWORD attributes = platform.files.GetFileAttributesA(path.c_str());
  if (attributes == win::INVALID_FILE_ATTRIBUTES) return false;
  constexpr win::DWORD kNotOrdinary =
      win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM;
  return (attributes & kNotOrdinary) == 0;
}

}  // namespace qv
