// CreateShortcut: a shell shortcut through IShellLinkA and IPersistFile.
#include "platform/handles.h"
#include "winhelpers/winhelpers.h"

namespace qv {

bool CreateShortcut(win::Platform& platform, const Text& sShortcutFile, const Text& sTargetPath,
                    const Text& sWorkingDirectory, const Text& sArguments, const Text& sDescription,
                    const Text& sIconPath, std::int32_t iIconIndex, std::int32_t iShowCommand) {
  win::ICodePage& cp = platform.codePage;
  // Both references are released on every way out, in reverse order of acquisition.
  win::ComRef<win::IShellLinkA> link;
  if (win::FAILED(platform.shell.CoCreateShellLink(link.put())) || !link) return false;
  win::ComRef<win::IPersistFile> file;
  if (win::FAILED(link->QueryInterfacePersistFile(file.put())) || !file) return false;

  if (win::FAILED(link->SetPath(cp.ToAnsi(sTargetPath).c_str()))) return false;
  if (!sWorkingDirectory.empty() &&
      win::FAILED(link->SetWorkingDirectory(cp.ToAnsi(sWorkingDirectory).c_str())))
    return false;
  if (!sArguments.empty() && win::FAILED(link->SetArguments(cp.ToAnsi(sArguments).c_str())))
    return false;
  if (!sDescription.empty() && win::FAILED(link->SetDescription(cp.ToAnsi(sDescription).c_str())))
    return false;
  if (!sIconPath.empty() &&
      win::FAILED(link->SetIconLocation(cp.ToAnsi(sIconPath).c_str(), iIconIndex)))
    return false;
  if (win::FAILED(link->SetShowCmd(iShowCommand))) return false;
  // SLR_UPDATE without SLR_NO_UI: the shell may ask the user when the target is missing.
  // S_FALSE counts as success.
  if (win::FAILED(link->Resolve(win::HWND{}, win::SLR_UPDATE))) return false;
  // The file name goes to the save in UTF-16; an existing file is overwritten.
  if (win::FAILED(file->Save(sShortcutFile.c_str(), win::FALSE))) return false;
  return true;
}

}  // namespace qv
