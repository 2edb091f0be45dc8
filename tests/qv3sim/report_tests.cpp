// The report of a run: the default machine checked against what the update must do there, and
// the variations that end a run early or differently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "machine_desc.h"
#include "report.h"
#include "sim_run.h"

namespace qv3sim {
namespace {

using qv::sim::Answer;
using qv::sim::DialogRecord;

std::string Utf8(const qv::Text& t) { return qv::TextToUtf8(t); }

std::string Fold(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The value line a view's changes hold for key and name, or "" when they hold none.
std::string ChangedValue(const std::vector<ViewChanges>& views, const std::string& view,
                         const std::string& key, const std::string& name) {
  for (const ViewChanges& v : views) {
    if (v.view != view) continue;
    for (const RegFileKey& k : v.changed.keys)
      if (Fold(k.path) == Fold(key))
        for (const RegFileValue& value : k.values)
          if (Fold(value.name) == Fold(name)) return FormatRegValue(value);
  }
  return "";
}

class DefaultRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    machine_ = new MachineDescription(DefaultMachine());
    result_ = new RunResult(RunOnMachine(*machine_));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete machine_;
  }
  static MachineDescription* machine_;
  static RunResult* result_;
};
MachineDescription* DefaultRun::machine_ = nullptr;
RunResult* DefaultRun::result_ = nullptr;

TEST_F(DefaultRun, EndsUpdatedWithExitStatusZero) {
  ASSERT_TRUE(result_->outcome.has_value()) << result_->failure;
  EXPECT_EQ(*result_->outcome, qv::RunOutcome::Updated);
  EXPECT_EQ(result_->exitStatus, 0);
  EXPECT_EQ(OutcomeName(*result_), "updated");
  EXPECT_EQ(result_->machine->kernel().OpenHandleCount(), 0u);
}

TEST_F(DefaultRun, PromptIsTheEnglishTaskDialogWithTheProductLine) {
  const auto& dialogs = result_->machine->Dialogs();
  ASSERT_EQ(dialogs.size(), 2u);
  const DialogRecord& d = dialogs[0];
  EXPECT_EQ(d.kind, DialogRecord::Kind::TaskDialog);
  EXPECT_EQ(Utf8(d.windowTitle), "Quorvia 3");
  EXPECT_EQ(Utf8(d.mainInstruction), "Quorvia 3 Update");
  EXPECT_EQ(Utf8(d.content),
            "This program updates your Quorvia 3 installation to the latest version.");
  EXPECT_EQ(Utf8(d.footer),
            "Exit the following programs now so that the update can be installed without a "
            "Windows restart required:\r\n\r\n"
            "- Quorvia (right-click its icon in the notification area of the taskbar, and then "
            "click Exit Quorvia.)\r\n"
            "- Internet Explorer\r\n"
            "- Microsoft Outlook (if you use the Quorvia Outlook Add-in)");
  ASSERT_EQ(d.buttons.size(), 1u);
  EXPECT_EQ(d.buttons[0].first, 6);
  EXPECT_EQ(Utf8(d.buttons[0].second), "Install update now");
  EXPECT_EQ(d.dwFlags, 0x000Au);
  EXPECT_EQ(d.dwCommonButtons, 0x0008u);
  EXPECT_EQ(d.footerIcon, 0xFFFFu);
  EXPECT_EQ(d.cxWidth, 245u);
  EXPECT_EQ(d.result, 6);
}

TEST_F(DefaultRun, CompletionReportIsTheEnglishTaskDialog) {
  const DialogRecord& d = result_->machine->Dialogs().at(1);
  EXPECT_EQ(d.kind, DialogRecord::Kind::TaskDialog);
  EXPECT_EQ(Utf8(d.windowTitle), "Quorvia 3");
  EXPECT_EQ(Utf8(d.mainInstruction), "Quorvia 3 update successfully installed");
  EXPECT_EQ(Utf8(d.content),
            "\r\nYou're now using the latest version of Quorvia 3.\r\n\r\n"
            "Thank you very much for using and recommending Quorvia!");
  EXPECT_EQ(d.dwFlags, 0x0008u);
  EXPECT_EQ(d.dwCommonButtons, 0x0020u);
  EXPECT_EQ(d.mainIcon, 0xFFFDu);
  EXPECT_EQ(d.cxWidth, 220u);
  EXPECT_TRUE(d.buttons.empty());
}

// The folder the run made for the package's protected copy, from its file change.
std::string ProtectedFolder(const qv::sim::SimMachine& m) {
  const std::string prefix = "created folder ";
  for (const std::string& entry : m.FileLog())
    if (entry.compare(0, prefix.size(), prefix) == 0)
      return entry.substr(prefix.size(), entry.find(" D:") - prefix.size());
  return {};
}

TEST_F(DefaultRun, StartsTheInstallerThenQVInit) {
  const auto& p = result_->machine->Processes();
  ASSERT_EQ(p.size(), 2u);
  ASSERT_TRUE(p[0].commandLine.has_value());
  // The installer gets the package's copy in the protected folder the run made (and removed).
  const std::string folder = ProtectedFolder(*result_->machine);
  EXPECT_EQ(folder.compare(0, 26, "C:\\Windows\\Temp\\QV3Update-"), 0) << folder;
  EXPECT_EQ(*p[0].commandLine, "msiexec.exe /qb /p \"" + folder + "\\qvupdate.msp\"");
  EXPECT_FALSE(result_->machine->FolderExists(folder));
  // The 32-bit updater on 64-bit Windows reaches SysWOW64's installer.
  EXPECT_EQ(p[0].imagePath, "C:\\Windows\\SysWOW64\\msiexec.exe");
  EXPECT_TRUE(p[0].started && p[0].waitedFor);
  EXPECT_EQ(p[0].creationFlags, 0x20u);
  ASSERT_TRUE(p[1].commandLine.has_value());
  const std::string& init = *p[1].commandLine;
  EXPECT_TRUE(Contains(init, "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe")) << init;
  const std::string tail = " /RegisterQVGetShellItem";
  EXPECT_EQ(init.substr(init.size() - tail.size()), tail);
  EXPECT_TRUE(p[1].started && p[1].waitedFor);
}

struct ExpectedValue {
  const char* view;
  const char* key;
  const char* name;
  const char* line;  // as regedit writes it; "" for a value that must not be written
};

class DefaultRunRegistry : public DefaultRun,
                           public ::testing::WithParamInterface<ExpectedValue> {};

TEST_P(DefaultRunRegistry, WritesValueInItsView) {
  const ExpectedValue& e = GetParam();
  const auto views = CollectRegistryChanges(result_->machine->registry());
  EXPECT_EQ(ChangedValue(views, e.view, e.key, e.name), e.line);
}

#define FC32 "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\"
#define CLSID32 "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\"
INSTANTIATE_TEST_SUITE_P(
    Values, DefaultRunRegistry,
    ::testing::Values(
        // The existing 8000 is raised to 11000 at Windows level 2.
        ExpectedValue{"32-bit view", FC32 "FEATURE_BROWSER_EMULATION", "QVApp.exe", "\"QVApp.exe\"=dword:00002af8"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_BROWSER_EMULATION", "QVThumbs.exe", "\"QVThumbs.exe\"=dword:00002af8"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_GPU_RENDERING", "QVSaver.exe", "\"QVSaver.exe\"=dword:00000001"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_DISABLE_NAVIGATION_SOUNDS", "QVGet.exe", "\"QVGet.exe\"=dword:00000001"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_USE_LEGACY_JSCRIPT", "QVApp.exe", "\"QVApp.exe\"=dword:00000001"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_USE_LEGACY_JSCRIPT", "QVGet.exe", ""},
        ExpectedValue{"32-bit view", FC32 "FEATURE_MAXCONNECTIONSPERSERVER", "QVSaver.exe", "\"QVSaver.exe\"=dword:00000006"},
        ExpectedValue{"32-bit view", FC32 "FEATURE_MAXCONNECTIONSPERSERVER", "QVThumbs.exe", ""},
        ExpectedValue{"32-bit view", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                      "QuorviaStartupInit",
                      "\"QuorviaStartupInit\"=\"\\\"C:\\\\Program Files (x86)\\\\Quorvia 3\\\\QVGet.exe\\\" /StartupCheck\""},
        // Machine-wide isolation only in the 64-bit view; the 32-bit Main key gets none.
        ExpectedValue{"64-bit view", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\Main", "Isolation", "\"Isolation\"=\"PMIL\""},
        ExpectedValue{"64-bit view", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\Main", "Isolation64Bit", "\"Isolation64Bit\"=dword:00000000"},
        ExpectedValue{"32-bit view", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main", "Isolation", ""},
        ExpectedValue{"32-bit view", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main", "Isolation64Bit", ""},
        // The per-user key is shared by both views.
        ExpectedValue{"64-bit view", "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Main", "Isolation", "\"Isolation\"=\"PMIL\""},
        ExpectedValue{"64-bit view", "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Main", "Isolation64Bit", "\"Isolation64Bit\"=dword:00000000"},
        // The add-in names, in English, where a 32-bit program registers classes.
        ExpectedValue{"32-bit view", CLSID32 "{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}", "", "@=\"Quorvia Toolbar\""},
        ExpectedValue{"32-bit view", CLSID32 "{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}", "", "@=\"Quorvia Editing Bar\""},
        ExpectedValue{"32-bit view", CLSID32 "{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}", "", "@=\"Quorvia Explorer Bar\""},
        ExpectedValue{"32-bit view", CLSID32 "{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}", "", "@=\"Quorvia Browser Helper Object\""}));
#undef FC32
#undef CLSID32

TEST_F(DefaultRun, CountsTheValueWritesOfEachView) {
  const auto views = CollectRegistryChanges(result_->machine->registry());
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0].view, "64-bit view");
  // Isolation and Isolation64Bit, machine and user; the event source's message file and types.
  EXPECT_EQ(views[0].valuesWritten, 4 + 2);
  EXPECT_EQ(views[1].view, "32-bit view");
  EXPECT_EQ(views[1].valuesWritten, 4 + 4 + 4 + 1 + 3 + 1 + 4);
}

TEST_F(DefaultRun, RegistryFileCanBeReadBackAsTheSameChanges) {
  const auto views = CollectRegistryChanges(result_->machine->registry());
  const std::string text = RegistryChangesFile(views);
  RegFile parsed;
  ASSERT_NO_THROW(parsed = ParseRegFile(text)) << text;
  std::size_t values = 0, expected = 0;
  for (const RegFileKey& k : parsed.keys) values += k.values.size();
  for (const ViewChanges& v : views)
    for (const RegFileKey& k : v.changed.keys) expected += k.values.size();
  EXPECT_EQ(values, expected);
  EXPECT_EQ(values, 27u);  // every write changed something on this machine
  EXPECT_TRUE(Contains(text, "; 32-bit view"));
  EXPECT_TRUE(Contains(text, "; 64-bit view"));
}

TEST_F(DefaultRun, ExcludesFivePrograms) {
  const auto& wer = result_->machine->WerExclusions();
  ASSERT_EQ(wer.size(), 5u);
  const char* names[] = {"QVApp.exe", "QVGet.exe", "QVSaver.exe", "QVSync.exe", "QVThumbs.exe"};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(Utf8(wer[i].first), names[i]);
    EXPECT_EQ(wer[i].second, 1);
  }
}

TEST_F(DefaultRun, TextReportShowsWhatHappened) {
  const std::string text = TextReport(*machine_, *result_);
  const std::string folder = ProtectedFolder(*result_->machine);
  for (const std::string& part : {
           "1. msiexec.exe /qb /p \"" + folder + "\\qvupdate.msp\"",
           "created folder " + folder + " D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)",
           "copied C:\\Users\\User\\Downloads\\qvupdate.msp -> " + folder + "\\qvupdate.msp",
           "removed folder " + folder})
    EXPECT_TRUE(Contains(text, part)) << "missing: " << part << "\n" << text;
  for (const char* part : {
           "Dialog 1: task dialog",
           "│ [icon] Quorvia 3 Update",
           "[ Install update now ]  [ Cancel ]",
           "│ (!) Exit the following programs now",
           "answer: confirm → pressed button 6 (IDYES)",
           "Dialog 2: task dialog",
           "│ (i) Quorvia 3 update successfully installed",
           "[ Close ]",
           "Windows Registry Editor Version 5.00",
           "@=\"Quorvia Toolbar\"",
           "WerAddExcludedApplication(\"QVSync.exe\", TRUE: all users)",
           "Synchronizing.lnk",
           "description:       Syncs two Quorvia data files.",
           "version of C:\\Program Files (x86)\\Quorvia 3\\QVApp.exe: 3.10.0.68 -> 3.10.0.69",
           "Outcome:     updated",
           "Exit status: 0\n",
           "handles left open: 0"})
    EXPECT_TRUE(Contains(text, part)) << "missing: " << part << "\n" << text;
}

TEST_F(DefaultRun, JsonReportHasTheSameFacts) {
  const nlohmann::json j = nlohmann::json::parse(JsonReport(*machine_, *result_));
  EXPECT_EQ(j["outcome"], "updated");
  EXPECT_EQ(j["exit_status"], 0);
  ASSERT_EQ(j["dialogs"].size(), 2u);
  EXPECT_EQ(j["dialogs"][0]["main_instruction"], "Quorvia 3 Update");
  EXPECT_EQ(j["ui_language"], "en-US");
  EXPECT_EQ(j["dialogs"][0]["shown_buttons"],
            nlohmann::json::parse(R"([{"id": 6, "text": "Install update now"},
                                      {"id": 2, "text": "Cancel"}])"));
  EXPECT_EQ(j["processes"][0]["command_line"],
            "msiexec.exe /qb /p \"" + ProtectedFolder(*result_->machine) + "\\qvupdate.msp\"");
  EXPECT_EQ(j["file_changes"][1], "copied C:\\Users\\User\\Downloads\\qvupdate.msp -> " +
                                      ProtectedFolder(*result_->machine) + "\\qvupdate.msp");
  EXPECT_EQ(j["registry"]["64-bit view"]["values_written"], 6);
  EXPECT_EQ(j["error_reporting_exclusions"].size(), 5u);
  // The renewed shortcut with every field it was saved with.
  ASSERT_EQ(j["shortcuts"].size(), 1u);
  const nlohmann::json& link = j["shortcuts"][0];
  EXPECT_EQ(link["path"],
            "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk");
  EXPECT_EQ(link["target"], "C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe");
  EXPECT_EQ(link["arguments"], "");
  EXPECT_EQ(link["working_directory"], "");
  EXPECT_EQ(link["description"], "Syncs two Quorvia data files.");
  EXPECT_EQ(link["icon_path"], "C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe");
  EXPECT_EQ(link["icon_index"], 0);
  EXPECT_EQ(link["show_command"], 1);
}

// Variations of the default machine and how their runs must end.
struct Variation {
  const char* name;
  std::function<void(MachineDescription&)> change;
  const char* outcome;
  int exitStatus;
  std::size_t dialogs;
  std::size_t processes;
  const char* reportPart;
};

class VariationRun : public ::testing::TestWithParam<Variation> {};

TEST_P(VariationRun, EndsAsExpected) {
  const Variation& v = GetParam();
  MachineDescription m = DefaultMachine();
  v.change(m);
  const RunResult r = RunOnMachine(m);
  EXPECT_EQ(OutcomeName(r), v.outcome) << r.failure;
  EXPECT_EQ(r.exitStatus, v.exitStatus);
  EXPECT_EQ(r.machine->Dialogs().size(), v.dialogs);
  EXPECT_EQ(r.machine->Processes().size(), v.processes);
  const std::string text = TextReport(m, r);
  EXPECT_TRUE(Contains(text, v.reportPart)) << "missing: " << v.reportPart << "\n" << text;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, VariationRun,
    ::testing::Values(
        Variation{"Cancel", [](MachineDescription& m) { m.answers = {Answer::Cancel}; },
                  "cancelled", 1602, 1, 0, "answer: cancel → pressed button 2 (IDCANCEL)"},
        Variation{"Escape", [](MachineDescription& m) { m.answers = {Answer::Escape}; },
                  "cancelled", 1602, 1, 0, "answer: escape → pressed button 2 (IDCANCEL)"},
        Variation{"NotInstalled",
                  [](MachineDescription& m) {
                    m.registry = ParseRegFile("Windows Registry Editor Version 5.00\n");
                  },
                  "not installed", 1605, 1, 0,
                  "│ (x) Quorvia 3 is not installed. This update is only valid for"},
        Variation{"NotInstalledGerman",
                  [](MachineDescription& m) {
                    m.registry = ParseRegFile("Windows Registry Editor Version 5.00\n");
                    m.arguments = "";
                  },
                  "not installed", 1605, 1, 0, "│ Querlix 3-Update-Installation"},
        Variation{"InstallerLeavesVersion",
                  [](MachineDescription& m) { m.installer.effect = InstallerEffect::Leave; },
                  "version unchanged", 1642, 1, 2, "Exit status: 1642"},
        Variation{"InstallerFails",
                  [](MachineDescription& m) { m.installer.effect = InstallerEffect::Fail; },
                  "version unchanged", 1642, 1, 2, "not started"},
        Variation{"InstallerMissing",
                  [](MachineDescription& m) { m.installer.effect = InstallerEffect::Missing; },
                  "version unchanged", 1642, 1, 2, "none (the program was not found)"},
        // A failing version query counts as Windows 2000: message boxes, no QVInit.exe.
        Variation{"VersionQueryFails",
                  [](MachineDescription& m) { m.windowsVersion = "fail"; },
                  "updated", 0, 2, 1, "Windows:   version query fails, 64-bit"},
        Variation{"ValueWriteRefused",
                  [](MachineDescription& m) { m.faults = {{"RegSetValueExA", 1, 5}}; },
                  "error", 1603, 2, 2, "Main raised error -2147194455"},
        Variation{"German",
                  [](MachineDescription& m) { m.arguments = "/de"; },
                  "updated", 0, 2, 2, "│ [icon] Querlix 3-Update"},
        Variation{"WindowsXP",
                  [](MachineDescription& m) { m.windowsVersion = "5.1"; },
                  "updated", 0, 2, 1, "style 0x00010041: MB_OKCANCEL | MB_ICONINFORMATION | MB_SETFOREGROUND"},
        Variation{"CannotShowPrompt",
                  [](MachineDescription& m) { m.answers = {Answer::CannotShow}; },
                  "updated", 0, 2, 2, "the dialog could not be shown"},
        // The package: missing, another one than the release's, and swapped (with a try at the
        // protected copy) while the prompt waits.
        Variation{"PackageMissing",
                  [](MachineDescription& m) { m.files.erase(m.files.begin() + 1); },
                  "package unusable", 1636, 1, 0, "Outcome:     package unusable: the patch package is missing"},
        Variation{"ReleaseOtherPackage",
                  [](MachineDescription& m) {
                    m.updaterPackage = "Quorvia 3 patch 3.10.0.69";
                    m.files[1].content = "Quorvia 3 patch 3.10.0.61";
                  },
                  "package rejected", 1643, 1, 0, "Outcome:     package rejected: the patch package is not the one"},
        Variation{"ReleaseSwapDuringPrompt",
                  [](MachineDescription& m) {
                    m.updaterPackage = "Quorvia 3 patch 3.10.0.69";
                    m.files[1].content = "Quorvia 3 patch 3.10.0.69";
                    UserWriteSpec swap;
                    swap.moment = qv::sim::UserMoment::DuringPrompt;
                    swap.path = m.files[1].path;
                    m.userWrites = {swap, swap};
                    m.userWrites[1].path = "<new folder>\\qvupdate.msp";
                  },
                  "updated", 0, 2, 2, "the standard user: replaced C:\\Users\\User\\Downloads\\qvupdate.msp\nthe standard user: could not replace C:\\Windows\\Temp\\QV3Update-"},
        // Windows' own buttons follow the machine's UI language, the updater's texts "/en".
        Variation{"GermanWindowsGermanUpdater",
                  [](MachineDescription& m) {
                    m.uiLanguage = qv::sim::kUiGerman;
                    m.arguments = "";
                  },
                  "updated", 0, 2, 2, "[ Update jetzt installieren ]  [ Abbrechen ] │"},
        Variation{"GermanWindowsXP",
                  [](MachineDescription& m) {
                    m.uiLanguage = qv::sim::kUiGerman;
                    m.windowsVersion = "5.1";
                  },
                  "updated", 0, 2, 1, "[ OK ]  [ Abbrechen ] │"},
        Variation{"UiLanguageInTheHeader",
                  [](MachineDescription& m) { m.uiLanguage = qv::sim::kUiGerman; },
                  "updated", 0, 2, 2,
                  "Language:  the updater's texts English (\"/en\" in the arguments); Windows' "
                  "own (buttons, folder names) de-DE\n"}),
    [](const ::testing::TestParamInfo<Variation>& info) { return info.param.name; });

TEST(ReportRegistry, ValuesWrittenWithTheirOwnDataAreListedApart) {
  MachineDescription m = DefaultMachine();
  m.registry.keys.push_back(ParseRegFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\"
      "FeatureControl\\FEATURE_GPU_RENDERING]\n\"QVApp.exe\"=dword:00000001\n").keys[0]);
  const RunResult r = RunOnMachine(m);
  const auto views = CollectRegistryChanges(r.machine->registry());
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet "
                          "Explorer\\Main\\FeatureControl\\FEATURE_GPU_RENDERING";
  EXPECT_EQ(ChangedValue(views, "32-bit view", key, "QVApp.exe"), "");
  EXPECT_EQ(ChangedValue(views, "32-bit view", key, "QVGet.exe"), "\"QVGet.exe\"=dword:00000001");
  const std::string text = RegistryChangesFile(views);
  EXPECT_TRUE(Contains(text, "; written again with the data they already had:\n;   [" + key +
                                 "] \"QVApp.exe\"=dword:00000001\n"))
      << text;
}

struct ViewCase {
  const char* path;
  int windowsBits;
  const char* view;
};

class ViewOfPathCase : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewOfPathCase, Classifies) {
  EXPECT_EQ(ViewOfPath(GetParam().path, GetParam().windowsBits), GetParam().view);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ViewOfPathCase,
    ::testing::Values(ViewCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\X", 64, "32-bit view"},
                      ViewCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE", 64, "32-bit view"},
                      ViewCase{"HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{X}", 64, "32-bit view"},
                      ViewCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432NodeX\\Y", 64, "64-bit view"},
                      ViewCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", 64, "64-bit view"},
                      ViewCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", 32, "registry"}));

struct StyleCase {
  unsigned style;
  const char* text;
};

class MessageBoxStyle : public ::testing::TestWithParam<StyleCase> {};

TEST_P(MessageBoxStyle, Names) {
  EXPECT_EQ(MessageBoxStyleText(GetParam().style), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyle,
    ::testing::Values(StyleCase{0x00010041, "MB_OKCANCEL | MB_ICONINFORMATION | MB_SETFOREGROUND"},
                      StyleCase{0x10, "MB_OK | MB_ICONERROR"},
                      StyleCase{0x40, "MB_OK | MB_ICONINFORMATION"},
                      StyleCase{0x0, "MB_OK"},
                      StyleCase{0x24, "MB_YESNO | MB_ICONQUESTION"},
                      StyleCase{0x30, "MB_OK | MB_ICONWARNING"},
                      StyleCase{0x2124, "MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TASKMODAL"},
                      StyleCase{0x00800000, "MB_OK | 0x800000"}));

TEST(DrawDialog, EveryLineOfTheBoxHasTheSameWidth) {
  DialogRecord d;
  d.kind = DialogRecord::Kind::MessageBox;
  d.caption = u"Querlix 3";
  d.text = qv::Utf8ToText(
      "Das Querlix 3-Update wurde erfolgreich installiert.\r\n\r\nSie verwenden jetzt die "
      "neueste Querlix 3-Version, eine sehr lange Zeile, die umbrochen werden muss, weil sie "
      "breiter als der Kasten ist.\r\nVielen Dank, dass Sie Querlix nutzen und weiterempfehlen!");
  d.type = 0x40;
  d.answer = Answer::Confirm;
  d.result = 1;
  const std::string box = DrawDialog(d, 3);
  std::size_t boxLines = 0, width = 0;
  std::size_t start = 0;
  for (std::size_t nl; (nl = box.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string line = box.substr(start, nl - start);
    if (line.empty() || (line.rfind("│", 0) != 0 && line.rfind("╭", 0) != 0 &&
                         line.rfind("├", 0) != 0 && line.rfind("╰", 0) != 0))
      continue;
    std::size_t w = 0;
    for (char c : line) w += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (width == 0) width = w;
    EXPECT_EQ(w, width) << line;
    ++boxLines;
  }
  EXPECT_GT(boxLines, 8u);
  EXPECT_TRUE(Contains(box, "Dialog 3: message box"));
  EXPECT_TRUE(Contains(box, "│ (i) Das Querlix 3-Update wurde erfolgreich installiert."));
  EXPECT_TRUE(Contains(box, "│ Vielen Dank, dass Sie Querlix nutzen und weiterempfehlen!"));
  EXPECT_TRUE(Contains(box, "[ OK ] │"));
  EXPECT_FALSE(Contains(box, "Cancel"));
  EXPECT_TRUE(Contains(box, "answer: confirm → 1 (IDOK)"));
}

}  // namespace
}  // namespace qv3sim
