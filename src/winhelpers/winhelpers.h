// The Windows helpers of the update driver (module modQVUpdate): the Windows generation, shell
// special folders, file version records, the product's communicator window, foreground
// activation and the shell shortcut writer. They report failure by their result and never
// raise.
#pragma once

#include <cstdint>

#include "platform/seam.h"

namespace qv {

// The program's title, the caption of message boxes that are given none.
inline constexpr char16_t kProgramTitle[] = u"QV3Update";

// The cached Windows level of one run. Only a value greater than 0 counts as cached, so on
// Windows 2000 and older every call asks the system again.
struct WindowsLevel {
  std::int32_t iWindowsLevel = 0;
};

// 0 (Windows 2000 and older, or a failing version query), 1 (Windows XP, Server 2003),
// 2 (Windows Vista and later).
std::int32_t GetWindowsLevel(win::ISystem& system, WindowsLevel& cache);

// The path of the shell special folder `iFolderId` (a CSIDL number without flags), created when
// missing, without a trailing "\"; "" when it cannot be had (after a message box when the number
// is invalid or the folder does not exist).
Text GetSpecialFolder(win::Platform& platform, std::int32_t iFolderId);

// Copies the fixed version record of `sFileName` into `info`; true when it did. `info` keeps
// what it held when the file has no readable version data.
bool GetFileVersionInfoBlock(win::Platform& platform, Text sFileName, win::VS_FIXEDFILEINFO& info);

// The text box of the form captioned `sCaption` (a form of the product's main program), or a
// null handle when there is none.
win::HWND FindCommunicatorWindow(win::Platform& platform, const Text& sCaption);

// Makes `hWnd` the foreground window, coupling the input of the current foreground window's
// thread to it for the duration of the request when another thread owns the foreground.
void ForceForeground(win::IWindows& windows, win::HWND hWnd);

// Writes a shell shortcut through the shell link object. Traps every failure: gives false when
// it stopped before the shortcut was saved, true when the save succeeded. COM must be
// initialised on the calling thread.
bool CreateShortcut(win::Platform& platform, const Text& sShortcutFile, const Text& sTargetPath,
                    const Text& sWorkingDirectory, const Text& sArguments, const Text& sDescription,
                    const Text& sIconPath, std::int32_t iIconIndex, std::int32_t iShowCommand);

// True when an ordinary file (not a folder, not hidden, not a system file) exists at `sPath`.
bool IsOrdinaryFile(win::Platform& platform, const Text& sPath);

}  // namespace qv
