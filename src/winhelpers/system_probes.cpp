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
  // 260 blanks; the string keeps a NUL after them, so the scan below always ends. The wide
  // form gives the folder as named, also where the ANSI code page lacks its characters.
  Text buffer(win::MAX_PATH, u' ');
  const win::HRESULT hr =
      platform.shell.SHGetFolderPathW(win::HWND{}, iFolderId | win::CSIDL_FLAG_CREATE,
                                      win::HANDLE{}, win::SHGFP_TYPE_CURRENT, buffer.data());
  if (hr == win::E_INVALIDARG) {
    const Text text = u"An invalid folder ID was specified";
    platform.dialogs.MessageBoxW(win::HWND{}, text.c_str(), kProgramTitle, win::MB_OK);
    return Text();
  }
  if (hr == win::S_OK) {
    return buffer.substr(0, buffer.find(u'\0'));
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
  win::DWORD handle = 0;
  const win::DWORD size = platform.files.GetFileVersionInfoSizeW(sFileName.c_str(), &handle);
  if (size == 0) return false;

  std::vector<std::uint8_t> data(size);
  if (!platform.files.GetFileVersionInfoW(sFileName.c_str(), handle, size, data.data()))
    return false;

  void* block = nullptr;
  win::UINT length = 0;
  if (!platform.files.VerQueryValueW(data.data(), u"\\", &block, &length) || block == nullptr)
    return false;

  // The root block is the 52-byte record; never copy more than the caller's record holds.
  const std::size_t count = std::min<std::size_t>(length, sizeof(win::VS_FIXEDFILEINFO));
  std::memcpy(&info, block, count);
  return true;
}

bool IsOrdinaryFile(win::Platform& platform, const Text& sPath) {
  const win::DWORD attributes = platform.files.GetFileAttributesW(sPath.c_str());
  if (attributes == win::INVALID_FILE_ATTRIBUTES) return false;
  constexpr win::DWORD kNotOrdinary =
      win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM;
  return (attributes & kNotOrdinary) == 0;
}

}  // namespace qv
