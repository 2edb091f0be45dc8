// The patch: msiexec.exe from the system folder on the package beside the updater, then
// QVInit.exe (Windows Vista and later), each waited for and its handles closed.
#include <gtest/gtest.h>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

void ExpectStartedLikeTheUpdaterStartsPrograms(const sim::ProcessRecord& p) {
  EXPECT_TRUE(p.inheritHandles);
  EXPECT_EQ(p.creationFlags, win::NORMAL_PRIORITY_CLASS);
  EXPECT_FALSE(p.environmentGiven);
  EXPECT_FALSE(p.currentDirectory.has_value());
  EXPECT_FALSE(p.processAttributesGiven);
  EXPECT_FALSE(p.threadAttributesGiven);
  EXPECT_EQ(p.startupInfo.cb, sizeof(win::STARTUPINFOW));
  EXPECT_EQ(p.startupInfo.dwFlags, 0u);
  EXPECT_EQ(p.startupInfo.wShowWindow, 0u);
  EXPECT_FALSE(p.desktop.has_value());
  EXPECT_FALSE(p.title.has_value());
  EXPECT_TRUE(win::IsNull(p.startupInfo.hStdInput));
  EXPECT_TRUE(win::IsNull(p.startupInfo.hStdOutput));
  EXPECT_TRUE(win::IsNull(p.startupInfo.hStdError));
}

struct PatchCase {
  const char* name;
  WindowsKind windows;
  const char* installFolder;  // "" for the standard one
  const char* msiCommandLine;
  bool qvInit;
  const char* msiImage;  // the installer Windows starts: SysWOW64's under WOW64
};

class PatchTest : public ::testing::TestWithParam<PatchCase> {};

TEST_P(PatchTest, CommandLinesAndApplicationNames) {
  const PatchCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  options.installFolder = c.installFolder;
  StandardMachine m(options);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);

  ASSERT_EQ(m->Processes().size(), c.qvInit ? 2u : 1u);
  const sim::ProcessRecord& msi = m->Processes()[0];
  EXPECT_EQ(msi.applicationName.value_or("<null>"), kMsiexecPath);
  EXPECT_EQ(msi.commandLine.value_or("<null>"), c.msiCommandLine);
  EXPECT_EQ(msi.imagePath, c.msiImage);
  EXPECT_TRUE(msi.started);
  EXPECT_TRUE(msi.waitedFor);
  ExpectStartedLikeTheUpdaterStartsPrograms(msi);
  if (c.qvInit) {
    const sim::ProcessRecord& init = m->Processes()[1];
    const std::string program = m.installFolder() + "QVInit.exe";
    EXPECT_EQ(init.applicationName.value_or("<null>"), program);
    EXPECT_EQ(init.commandLine.value_or("<null>"), "\"" + program + "\" /RegisterQVGetShellItem");
    EXPECT_EQ(Lower(init.imagePath), Lower(program));
    EXPECT_TRUE(init.started);
    EXPECT_TRUE(init.waitedFor);
    ExpectStartedLikeTheUpdaterStartsPrograms(init);
  }
  EXPECT_EQ(CountCalls(m->kernel(), "CloseHandle"), c.qvInit ? 4u : 2u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Situations, PatchTest,
    ::testing::Values(
        PatchCase{"Win2000", kWindows2000, "",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", false,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"XP", kWindowsXp, "",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", false,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"Win7x86", kWindows7x86, "",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", true,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"Win7x64", kWindows7x64, "",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", true,
                  kWow64MsiexecPath},
        PatchCase{"InstallFolderWithSpaces", kWindows7x64,
                  "C:\\Program Files (x86)\\My Apps\\Quorvia 3\\",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", true,
                  kWow64MsiexecPath},
        // AppPath in code page 1252 ("f\xfcr"), the program started by its Unicode name.
        PatchCase{"InstallFolderWithUmlaut", kWindows7x64,
                  "C:\\Programme\\Quorvia f\xc3\xbcr Sie\\",
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"", true,
                  kWow64MsiexecPath}),
    [](const auto& info) { return std::string(info.param.name); });

// The updater's folder as the package path shows it.
struct UpdaterFolderCase {
  const char* name;
  const char* exePath;
  const char* commandLine;
};

class UpdaterFolderTest : public ::testing::TestWithParam<UpdaterFolderCase> {};

TEST_P(UpdaterFolderTest, PackagePathInQuotes) {
  const UpdaterFolderCase& c = GetParam();
  sim::MachineConfig config;
  config.exePath = c.exePath;
  config.systemDirectory = kSystemFolder;
  sim::SimMachine machine(config);
  machine.registry().CreateKey(ProductKeyPath(64));
  machine.registry().SetValue(ProductKeyPath(64), "AppPath", RegSz(DefaultInstallFolder(64)));
  if (!machine.FindFile(machine.ReachedPath(kMsiexecPath)))
    machine.AddExecutable(machine.ReachedPath(kMsiexecPath), sim::FileVersion{5, 0, 0, 0});
  win::Platform platform = machine.platform();
  RunContext context;
  context.arguments = u"/en";
  EXPECT_EQ(Main(platform, context), RunOutcome::VersionUnchanged);
  ASSERT_FALSE(machine.Processes().empty());
  EXPECT_EQ(machine.Processes()[0].commandLine.value_or("<null>"), c.commandLine);
  ExpectEverythingReleased(machine);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, UpdaterFolderTest,
    ::testing::Values(UpdaterFolderCase{"DriveRoot", "C:\\QV3Update.exe",
                                        "msiexec.exe /qb /p \"C:\\qvupdate.msp\""},
                      UpdaterFolderCase{"OtherDriveRoot", "E:\\QV3Update.exe",
                                        "msiexec.exe /qb /p \"E:\\qvupdate.msp\""},
                      UpdaterFolderCase{
                          "FolderWithSpaces", "D:\\My Downloads\\Quorvia Update\\QV3Update.exe",
                          "msiexec.exe /qb /p \"D:\\My Downloads\\Quorvia Update\\qvupdate.msp\""},
                      UpdaterFolderCase{"Nested", "C:\\a\\b\\c\\QV3Update.exe",
                                        "msiexec.exe /qb /p \"C:\\a\\b\\c\\qvupdate.msp\""},
                      // A folder name the ANSI code page lacks ("Łukasz", "Загрузки") reaches
                      // the installer as named.
                      UpdaterFolderCase{
                          "FolderOutsideTheAnsiCodePage",
                          "C:\\Users\\\xc5\x81ukasz\\\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7\xd0\xba\xd0\xb8\\QV3Update.exe",
                          "msiexec.exe /qb /p \"C:\\Users\\\xc5\x81ukasz\\\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7\xd0\xba\xd0\xb8\\qvupdate.msp\""},
                      // A fullwidth quotation mark (U+FF02) stays one: its best-fit ANSI form
                      // '"' would end the quoted package path early.
                      UpdaterFolderCase{
                          "FolderWithFullwidthQuotationMark",
                          "D:\\\xef\xbc\x82new\xef\xbc\x82 update\\QV3Update.exe",
                          "msiexec.exe /qb /p \"D:\\\xef\xbc\x82new\xef\xbc\x82 update\\qvupdate.msp\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Patch, PlantedMsiexecBesideTheUpdaterIsNotRun) {
  StandardMachine m;
  const std::string planted = std::string(kUpdaterFolder) + "msiexec.exe";
  m->AddExecutable(planted, sim::FileVersion{6, 6, 6, 6});
  bool plantedRan = false;
  m->OnProcessStart(planted,
                    [&](sim::SimMachine&, const sim::ProcessRecord&) { plantedRan = true; });
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_FALSE(plantedRan);
  ASSERT_FALSE(m->Processes().empty());
  EXPECT_EQ(m->Processes()[0].imagePath, kWow64MsiexecPath);
  ExpectEverythingReleased(m.machine());
}

TEST(Patch, WithoutTheSystemFolderNoInstallerIsStarted) {
  // A relative program name would be taken from the current (download) folder.
  StandardMachine m;
  const std::string planted = std::string(kUpdaterFolder) + "msiexec.exe";
  m->AddExecutable(planted, sim::FileVersion{6, 6, 6, 6});
  bool plantedRan = false;
  m->OnProcessStart(planted,
                    [&](sim::SimMachine&, const sim::ProcessRecord&) { plantedRan = true; });
  m->kernel().AddFault({"GetSystemDirectoryW", 0, 0});
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::VersionUnchanged);
  EXPECT_FALSE(plantedRan);
  // Only QVInit.exe was started; the rest of the run went on.
  ASSERT_EQ(m->Processes().size(), 1u);
  EXPECT_EQ(Lower(m->Processes()[0].imagePath), Lower(m.installFolder() + "QVInit.exe"));
  EXPECT_EQ(WrittenValues(m.machine()).size(), 25u);
  ExpectEverythingReleased(m.machine());
}

TEST(Patch, PlantedProgramExeIsNotRunForAnInstallFolderWithSpaces) {
  // Unquoted, "C:\Program Files (x86)\Quorvia 3\QVInit.exe" would start C:\Program.exe.
  StandardMachine m;
  m->AddExecutable("C:\\Program.exe", sim::FileVersion{6, 6, 6, 6});
  bool plantedRan = false;
  m->OnProcessStart("C:\\Program.exe",
                    [&](sim::SimMachine&, const sim::ProcessRecord&) { plantedRan = true; });
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_FALSE(plantedRan);
  ASSERT_EQ(m->Processes().size(), 2u);
  EXPECT_EQ(Lower(m->Processes()[1].imagePath), Lower(m.installFolder() + "QVInit.exe"));
}

struct StartFailureCase {
  const char* name;
  bool failMsiexec;
  bool failQvInit;
  RunOutcome outcome;
};

class StartFailureTest : public ::testing::TestWithParam<StartFailureCase> {};

TEST_P(StartFailureTest, RunGoesOnWithTheBrowserSettings) {
  const StartFailureCase& c = GetParam();
  StandardMachine m;
  if (c.failMsiexec) m->FailProcessStart(kMsiexecPath);
  if (c.failQvInit) m->FailProcessStart(m.installFolder() + "QVInit.exe");
  EXPECT_EQ(m.Run(u"/en"), c.outcome);
  ASSERT_EQ(m->Processes().size(), 2u);
  EXPECT_EQ(m->Processes()[0].started, !c.failMsiexec);
  EXPECT_EQ(m->Processes()[1].started, !c.failQvInit);
  // The browser settings, add-in names and shortcut are written all the same.
  EXPECT_EQ(WrittenValues(m.machine()).size(), 25u);
  EXPECT_EQ(m->WerExclusions().size(), 5u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StartFailureTest,
    ::testing::Values(StartFailureCase{"Installer", true, false, RunOutcome::VersionUnchanged},
                      StartFailureCase{"QVInit", false, true, RunOutcome::Updated},
                      StartFailureCase{"Both", true, true, RunOutcome::VersionUnchanged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Patch, MissingInstallerGoesOn) {
  StandardMachine m;
  m->RemoveFile(kWow64MsiexecPath);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::VersionUnchanged);
  ASSERT_EQ(m->Processes().size(), 2u);
  EXPECT_FALSE(m->Processes()[0].started);
  EXPECT_EQ(WrittenValues(m.machine()).size(), 25u);
  ExpectEverythingReleased(m.machine());
}

// --- whole runs on every system code page -----------------------------------------------------

struct CodePageRunCase {
  const char* name;
  win::UINT codePage;
  const char* updaterFolder;   // "" for the standard one
  const char* installFolder;   // "" for the standard one; AppPath holds it in the code page
  const char* commonPrograms;  // "" for the standard one
  bool english;
};

void PrintTo(const CodePageRunCase& c, std::ostream* os) { *os << c.name; }

class CodePageRun : public ::testing::TestWithParam<CodePageRunCase> {};

// The machine's code page and folder names change nothing of the run: the installer gets the
// package's exact path, the shortcut is renewed where the Start menu is, and the dialogs and the
// registry values are those of a Western machine.
TEST_P(CodePageRun, RunsAsOnAWesternMachine) {
  const CodePageRunCase& c = GetParam();
  MachineOptions o;
  o.communicatorRunning = true;
  o.englishShortcut = c.english;
  o.germanShortcut = !c.english;
  MachineOptions western = o;
  o.codePage = c.codePage;
  if (*c.updaterFolder) o.updaterFolder = c.updaterFolder;
  if (*c.installFolder) o.installFolder = c.installFolder;
  if (*c.commonPrograms) o.commonPrograms = c.commonPrograms;
  StandardMachine m(o);
  StandardMachine w(western);
  const Text arguments = c.english ? u"/en" : u"";
  ASSERT_EQ(w.Run(arguments), RunOutcome::Updated);
  ASSERT_EQ(m.Run(arguments), RunOutcome::Updated);

  ASSERT_EQ(m->Processes().size(), 2u);
  EXPECT_EQ(m->Processes()[0].commandLine.value_or("<null>"),
            "msiexec.exe /qb /p \"" + o.updaterFolder + "qvupdate.msp\"");
  EXPECT_EQ(m->Processes()[0].imagePath, kWow64MsiexecPath);
  const std::string qvInit = m.installFolder() + "QVInit.exe";
  EXPECT_EQ(m->Processes()[1].applicationName.value_or("<null>"), qvInit);
  EXPECT_EQ(m->Processes()[1].imagePath, qvInit);

  const sim::SimFile* link = m->FindFile(m.shortcutPath(c.english));
  ASSERT_NE(link, nullptr);
  ASSERT_TRUE(link->shortcut.has_value());
  EXPECT_EQ(link->shortcut->target, m.installFolder() + "QVSync.exe");
  EXPECT_EQ(link->shortcut->description, w->FindFile(w.shortcutPath(c.english))->shortcut->description);

  ASSERT_EQ(m->Dialogs().size(), w->Dialogs().size());
  for (std::size_t i = 0; i < m->Dialogs().size(); ++i) {
    const sim::DialogRecord& a = m->Dialogs()[i];
    const sim::DialogRecord& b = w->Dialogs()[i];
    EXPECT_EQ(a.windowTitle, b.windowTitle);
    EXPECT_EQ(a.mainInstruction, b.mainInstruction);
    EXPECT_EQ(a.content, b.content);
    EXPECT_EQ(a.footer, b.footer);
    EXPECT_EQ(a.buttons, b.buttons);
  }

  // Every value as on the Western machine; the start-up entry names this install folder, in
  // this code page.
  std::map<std::string, sim::RegValue> expected = WrittenValues(w.machine());
  const std::string runKey =
      "hkey_local_machine\\software\\wow6432node\\microsoft\\windows\\currentversion\\run|"
      "quorviastartupinit";
  ASSERT_EQ(expected.count(runKey), 1u);
  expected[runKey] = RegSz(sim::SimCodePage(c.codePage)
                               .ToAnsi(Utf8ToText("\"" + m.installFolder() + "QVGet.exe\" /StartupCheck"))
                               .bytes());
  EXPECT_EQ(WrittenValues(m.machine()), expected);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageRun,
    ::testing::Values(
        CodePageRunCase{"Western", 1252, "", "", "", true},
        CodePageRunCase{"WesternUmlautFolders", 1252, u8"C:\\Users\\J\u00fcrgen\\Downloads\\",
                        u8"C:\\Programme\\Gr\u00f6\u00dfe\\", "", false},
        CodePageRunCase{"WesternFoldersOutsideTheCodePage", 1252,
                        u8"C:\\Users\\\u0141ukasz \u0141\u00f3d\u017a\\x\uff02 INJECTED=\uff021\\", "",
                        u8"C:\\ProgramData\\\u0413\u043b\u0430\u0432\u043d\u043e\u0435\uff3cPrograms",
                        false},
        CodePageRunCase{"CentralEuropean", 1250, u8"C:\\Users\\\u0141ukasz \u0141\u00f3d\u017a\\Pobrane\\",
                        u8"C:\\Program Files (x86)\\\u0141\u00f3d\u017a\\",
                        u8"C:\\ProgramData\\Menu Start\\Programy \u017c\u00f3\u0142te", true},
        CodePageRunCase{"CentralEuropeanFoldersOutside", 1250,
                        u8"C:\\Users\\\u0418\u0432\u0430\u043d\\\uff02x\uff02\\", "",
                        u8"C:\\\u03a9\\Programs", false},
        CodePageRunCase{"Cyrillic", 1251,
                        u8"C:\\Users\\\u0418\u0432\u0430\u043d\\\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438\\",
                        u8"C:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\Quorvia 3\\",
                        u8"C:\\ProgramData\\\u0413\u043b\u0430\u0432\u043d\u043e\u0435 \u043c\u0435\u043d\u044e",
                        false},
        CodePageRunCase{"CyrillicFoldersOutside", 1251, u8"C:\\Users\\\u0141ukasz\uff3cx\uff02\\", "",
                        "", true},
        // U+30BD and U+8868 end in the byte 0x5C ("\") in code page 932.
        CodePageRunCase{"Japanese", 932,
                        u8"C:\\Users\\\u30bd\u30d5\u30c8\\\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\\",
                        u8"C:\\\u30d7\u30ed\u30b0\u30e9\u30e0\\\u8868\u793a\\",
                        u8"C:\\ProgramData\\\u30b9\u30bf\u30fc\u30c8 \u30e1\u30cb\u30e5\u30fc", true},
        CodePageRunCase{"JapaneseFoldersOutside", 932,
                        u8"C:\\Users\\\u0141ukasz \u0141\u00f3d\u017a\\x\uff02 y\\", "", "", false},
        CodePageRunCase{"Utf8", 65001,
                        u8"C:\\Users\\\u0141ukasz \u0141\u00f3d\u017a\\x\uff02 INJECTED=\uff021\\",
                        u8"C:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b \u30d7\u30ed \u0141\u00f3d\u017a\\",
                        u8"C:\\ProgramData\\\u0413\u043b\u0430\u0432\u043d\u043e\u0435\uff3cPrograms",
                        false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
