// The simulated Windows' user-interface language: what Windows itself puts on the screen in it
// (the buttons of message boxes and task dialogs, the caption of a message box given none) and,
// before Windows Vista, the names of the profile folders it created when it was installed. From
// Vista on those folders have English names on disk in every language; Explorer only shows them
// translated.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"

namespace qv::sim {

constexpr win::LANGID kUiEnglish = 0x0409;  // en-US
constexpr win::LANGID kUiGerman = 0x0407;   // de-DE

struct UiLanguage {
  win::LANGID id;
  const char* tag;   // "de-DE"
  const char* name;  // "German (Germany)"
};

// Every UI language the simulation knows the texts of.
const std::vector<UiLanguage>& UiLanguages();
// The language of a tag or number; nullptr when the simulation does not know it.
const UiLanguage* FindUiLanguage(const std::string& tag);
const UiLanguage* FindUiLanguage(win::LANGID id);

// The label of a button that Windows makes (IDOK ... IDCONTINUE, IDCLOSE, IDHELP), as shown,
// without the access-key marker ("&Ja" is "Ja").
Text WindowsButtonText(int id, win::LANGID language);

// The caption MessageBoxW shows when it is given none.
Text DefaultMessageBoxCaption(win::LANGID language);

// The folders a Windows before Vista creates for its profiles, in its language:
// "C:\Documents and Settings", "Start Menu", "Programs", "Program Files", "Application Data".
struct ProfileFolderNames {
  const char* documentsAndSettings;
  const char* startMenu;
  const char* programs;
  const char* programFiles;
  const char* applicationData;
};
const ProfileFolderNames& ProfileFolders(win::LANGID language);

}  // namespace qv::sim
