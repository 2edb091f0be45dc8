#include "platform/sim/sim_ui_language.h"

namespace qv::sim {

namespace {

// The labels of user32's message box buttons and comctl32's common task dialog buttons, by
// control id from IDOK (1) to IDCONTINUE (11).
struct ButtonLabels {
  win::LANGID language;
  const char16_t* labels[11];
};

const ButtonLabels kButtonLabels[] = {
    {kUiEnglish,
     {u"OK", u"Cancel", u"Abort", u"Retry", u"Ignore", u"Yes", u"No", u"Close", u"Help",
      u"Try Again", u"Continue"}},
    {kUiGerman,
     {u"OK", u"Abbrechen", u"Abbrechen", u"Wiederholen", u"Ignorieren", u"Ja", u"Nein",
      u"Schlie\u00DFen", u"Hilfe", u"Wiederholen", u"Weiter"}},
};

const ButtonLabels& LabelsOf(win::LANGID language) {
  for (const ButtonLabels& l : kButtonLabels)
    if (l.language == language) return l;
  return kButtonLabels[0];
}

}  // namespace

const std::vector<UiLanguage>& UiLanguages() {
  static const std::vector<UiLanguage> languages = {
      {kUiEnglish, "en-US", "English (United States)"},
      {kUiGerman, "de-DE", "German (Germany)"},
  };
  return languages;
}

const UiLanguage* FindUiLanguage(const std::string& tag) {
  for (const UiLanguage& l : UiLanguages())
    if (tag == l.tag) return &l;
  return nullptr;
}

const UiLanguage* FindUiLanguage(win::LANGID id) {
  for (const UiLanguage& l : UiLanguages())
    if (id == l.id) return &l;
  return nullptr;
}

Text WindowsButtonText(int id, win::LANGID language) {
  if (id < win::IDOK || id > win::IDCONTINUE) return u"#" + IntToText(id);
  return LabelsOf(language).labels[id - 1];
}

Text DefaultMessageBoxCaption(win::LANGID language) {
  return language == kUiGerman ? u"Fehler" : u"Error";
}

const ProfileFolderNames& ProfileFolders(win::LANGID language) {
  static const ProfileFolderNames english = {"Documents and Settings", "Start Menu", "Programs",
                                             "Program Files", "Application Data"};
  static const ProfileFolderNames german = {"Dokumente und Einstellungen", "Startmen\u00FC",
                                            "Programme", "Programme", "Anwendungsdaten"};
  return language == kUiGerman ? german : english;
}

}  // namespace qv::sim
