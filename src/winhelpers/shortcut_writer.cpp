// CreateShortcut: a shell shortcut through IShellLinkW and IPersistFile, every text in UTF-16.
#include "platform/handles.h"
#include "winhelpers/winhelpers.h"

namespace qv {

bool CreateShortcut(win::Platform& platform, const Text& sShortcutFile, const Text& sTargetPath,
                    const Text& sWorkingDirectory, const Text& sArguments, const Text& sDescription,
                    const Text& sIconPath, std::int32_t iIconIndex, std::int32_t iShowCommand) {
  // Both references are released on every way out, in reverse order of acquisition.
  win::ComRef<win::IShellLinkW> link;
  if (win::FAILED(platform.shell.CoCreateShellLink(link.put())) || !link) return false;
  win::ComRef<win::IPersistFile> file;
  if (win::FAILED(link->QueryInterfacePersistFile(file.put())) || !file) return false;

  if (win::FAILED(link->SetPath(sTargetPath.c_str()))) return false;
  if (!sWorkingDirectory.empty() &&
      win::FAILED(link->SetWorkingDirectory(sWorkingDirectory.c_str())))
    return false;
  if (!sArguments.empty() && win::FAILED(link->SetArguments(sArguments.c_str())))
    return false;
  if (!sDescription.empty() && win::FAILED(link->SetDescription(sDescription.c_str())))
    return false;
  if (!sIconPath.empty() &&
      win::FAILED(link->SetIconLocation(sIconPath.c_str(), iIconIndex)))
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
