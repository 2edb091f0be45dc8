// The patch: msiexec.exe from the system folder on the protected copy of the package beside the
// updater, then QVInit.exe (Windows Vista and later), each waited for and its handles closed; the
// copy made before the prompt and checked against the publisher's key of a pinned build, a
// package that cannot be used refused before anything changes.
#include <gtest/gtest.h>

#include <optional>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

void ExpectStartedLikeTheUpdaterStartsPrograms(const sim::ProcessRecord& p) {
  EXPECT_TRUE(p.inheritHandles);
  EXPECT_EQ(p.creationFlags, win::NORMAL_PRIORITY_CLASS);
  EXPECT_FALSE(p.environmentGiven);
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
  const char* package;        // the package the installer gets a protected copy of
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
  EXPECT_EQ(msi.commandLine.value_or("<null>"),
            InstallerCommandLine(ProtectedFolderOf(m.machine()) + "\\qvupdate.msp"));
  ExpectProtectedCopyCameAndWent(m.machine(), c.package);
  EXPECT_EQ(msi.imagePath, c.msiImage);
  EXPECT_TRUE(msi.started);
  EXPECT_TRUE(msi.waitedFor);
  ExpectStartedLikeTheUpdaterStartsPrograms(msi);
  // Each program starts in a folder of its own, never in the updater's (download) folder.
  EXPECT_EQ(msi.currentDirectory.value_or("<null>"), kSystemFolder);
  if (c.qvInit) {
    const sim::ProcessRecord& init = m->Processes()[1];
    const std::string program = m.installFolder() + "QVInit.exe";
    EXPECT_EQ(init.applicationName.value_or("<null>"), program);
    EXPECT_EQ(init.commandLine.value_or("<null>"), "\"" + program + "\" /RegisterQVGetShellItem");
    EXPECT_EQ(Lower(init.imagePath), Lower(program));
    EXPECT_TRUE(init.started);
    EXPECT_TRUE(init.waitedFor);
    ExpectStartedLikeTheUpdaterStartsPrograms(init);
    EXPECT_EQ(init.currentDirectory.value_or("<null>"), m.installFolder());
  }
  // The processes' and threads' handles, and the package's copy.
  EXPECT_EQ(CountCalls(m->kernel(), "CloseHandle"), c.qvInit ? 5u : 3u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Situations, PatchTest,
    ::testing::Values(
        PatchCase{"Win2000", kWindows2000, "",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", false,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"XP", kWindowsXp, "",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", false,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"Win7x86", kWindows7x86, "",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", true,
                  "C:\\Windows\\system32\\msiexec.exe"},
        PatchCase{"Win7x64", kWindows7x64, "",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", true,
                  kWow64MsiexecPath},
        PatchCase{"InstallFolderWithSpaces", kWindows7x64,
                  "C:\\Program Files (x86)\\My Apps\\Quorvia 3\\",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", true,
                  kWow64MsiexecPath},
        // AppPath in code page 1252 ("f\xfcr"), the program started by its Unicode name.
        PatchCase{"InstallFolderWithUmlaut", kWindows7x64,
                  "C:\\Programme\\Quorvia f\xc3\xbcr Sie\\",
                  "C:\\Users\\User\\Downloads\\qvupdate.msp", true,
                  kWow64MsiexecPath}),
    [](const auto& info) { return std::string(info.param.name); });

// The package beside the updater, in a folder of any name, is the one copied into the protected
// folder, and the installer gets that copy.
struct UpdaterFolderCase {
  const char* name;
  const char* exePath;
  const char* package;
};

class UpdaterFolderTest : public ::testing::TestWithParam<UpdaterFolderCase> {};

// A download folder whose path is longer than MAX_PATH (GetModuleFileNameW is asked again with
// a longer buffer).
const std::string kLongFolder = "C:\\" + std::string(140, 'a') + "\\" + std::string(140, 'b');
const std::string kLongExe = kLongFolder + "\\QV3Update.exe";
const std::string kLongPackage = kLongFolder + "\\qvupdate.msp";

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
  machine.AddFile(c.package);
  win::Platform platform = machine.platform();
  RunContext context;
  context.arguments = u"/en";
  EXPECT_EQ(Main(platform, context).outcome, RunOutcome::VersionUnchanged);
  ASSERT_FALSE(machine.Processes().empty());
  EXPECT_EQ(machine.Processes()[0].commandLine.value_or("<null>"),
            InstallerCommandLine(ProtectedFolderOf(machine) + "\\qvupdate.msp"));
  ExpectProtectedCopyCameAndWent(machine, c.package);
  ExpectEverythingReleased(machine);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, UpdaterFolderTest,
    ::testing::Values(UpdaterFolderCase{"DriveRoot", "C:\\QV3Update.exe",
                                        "C:\\qvupdate.msp"},
                      UpdaterFolderCase{"OtherDriveRoot", "E:\\QV3Update.exe",
                                        "E:\\qvupdate.msp"},
                      UpdaterFolderCase{
                          "FolderWithSpaces", "D:\\My Downloads\\Quorvia Update\\QV3Update.exe",
                          "D:\\My Downloads\\Quorvia Update\\qvupdate.msp"},
                      UpdaterFolderCase{"Nested", "C:\\a\\b\\c\\QV3Update.exe",
                                        "C:\\a\\b\\c\\qvupdate.msp"},
                      UpdaterFolderCase{"LongerThanMaxPath", kLongExe.c_str(), kLongPackage.c_str()},
                      // A folder name the ANSI code page lacks ("Łukasz", "Загрузки") reaches
                      // CopyFileW as named.
                      UpdaterFolderCase{
                          "FolderOutsideTheAnsiCodePage",
                          "C:\\Users\\\xc5\x81ukasz\\\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7\xd0\xba\xd0\xb8\\QV3Update.exe",
                          "C:\\Users\\\xc5\x81ukasz\\\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7\xd0\xba\xd0\xb8\\qvupdate.msp"},
                      // A fullwidth quotation mark (U+FF02) stays one: its best-fit ANSI form
                      // '"' would end the quoted package path early.
                      UpdaterFolderCase{
                          "FolderWithFullwidthQuotationMark",
                          "D:\\\xef\xbc\x82new\xef\xbc\x82 update\\QV3Update.exe",
                          "D:\\\xef\xbc\x82new\xef\xbc\x82 update\\qvupdate.msp"}),
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
            InstallerCommandLine(ProtectedFolderOf(m.machine()) + "\\qvupdate.msp"));
  // The package beside the updater, in a folder of any name, is the one copied.
  ExpectProtectedCopyCameAndWent(m.machine(), o.updaterFolder + "qvupdate.msp");
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

// --- the protected copy and its check -------------------------------------------------------------

const std::string kPackage = std::string(kUpdaterFolder) + "qvupdate.msp";
const std::string kOwnPackage = "Quorvia 3 patch 3.10.0.69";

// What the installer found at the package path of its command line when it started.
struct InstallerSaw {
  bool ran = false;
  std::string path;
  std::optional<sim::SimFile> file;
  std::string folderSecurity;
  bool userMayWrite = true;
  std::vector<std::string> openFiles;  // what the updater held open meanwhile
};

void WatchInstaller(StandardMachine& m, InstallerSaw& saw) {
  m->OnProcessStart(kMsiexecPath, [&saw](sim::SimMachine& target, const sim::ProcessRecord& r) {
    saw.ran = true;
    const std::string line = r.commandLine.value_or("");
    const std::size_t open = line.find('"');
    saw.path = line.substr(open + 1, line.rfind('"') - open - 1);
    if (const sim::SimFile* f = target.FindFile(saw.path)) saw.file = *f;
    saw.folderSecurity = target.FolderSecurity(saw.path.substr(0, saw.path.rfind('\\')));
    saw.userMayWrite = target.UserMayWrite(saw.path);
    saw.openFiles = target.OpenFiles();
  });
}

sim::SimFile PackageWith(const std::string& content, win::DWORD attributes = 0) {
  sim::SimFile f;
  f.content = content;
  if (attributes) f.attributes = attributes;
  return f;
}

// Nothing of the update happened, and the protected folder, if made, is gone.
void ExpectNothingChanged(StandardMachine& m, const std::vector<std::string>& filesBefore) {
  EXPECT_TRUE(m->Processes().empty());
  EXPECT_TRUE(m->registry().Changes().empty());
  EXPECT_TRUE(m->WerExclusions().empty());
  EXPECT_EQ(OtherFileChanges(m.machine()), std::vector<std::string>{});
  EXPECT_EQ(m->FilePaths(), filesBefore);
  const std::string folder = ProtectedFolderOf(m.machine());
  if (!folder.empty()) {
    EXPECT_FALSE(m->FolderExists(folder));
  }
  ExpectEverythingReleased(m.machine());
}

struct PackageCase {
  const char* name;
  std::optional<std::string> release;   // the build was made for a package of this content
  std::optional<sim::SimFile> package;  // none: no qvupdate.msp
  RunOutcome outcome;
  const char* english;  // the refusal's first paragraph, the package named as %s
  sim::FaultRule fault{"-", 0, 0};  // a call of the package's check that fails
};

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

const PackageCase kPackageCases[] = {
    // A development build applies any package, always from the protected copy.
    {"DevelopmentAnyPackage", std::nullopt, PackageWith("any"), RunOutcome::Updated, ""},
    {"DevelopmentMissing", std::nullopt, std::nullopt, RunOutcome::PackageUnusable,
     "The update package \"%s\" was not found."},
    // A release applies its own package and no other: an older one of the same publisher, one
    // changed by one byte, an empty file.
    {"ReleaseOwnPackage", kOwnPackage, PackageWith(kOwnPackage), RunOutcome::Updated, ""},
    {"ReleaseOlderPackage", kOwnPackage, PackageWith("Quorvia 3 patch 3.10.0.61"),
     RunOutcome::PackageRejected, "The update package \"%s\" is not the package this update was made for."},
    {"ReleaseOneByteChanged", kOwnPackage, PackageWith("Quorvia 3 patch 3.10.0.6A"),
     RunOutcome::PackageRejected, "The update package \"%s\" is not the package this update was made for."},
    {"ReleaseEmptyPackage", kOwnPackage, PackageWith(""), RunOutcome::PackageRejected,
     "The update package \"%s\" is not the package this update was made for."},
    {"ReleaseMissing", kOwnPackage, std::nullopt, RunOutcome::PackageUnusable,
     "The update package \"%s\" was not found."},
    // A read-only, hidden package: its copy is an ordinary file, and it and its folder go.
    {"ReadOnlyHiddenPackage", kOwnPackage,
     PackageWith(kOwnPackage, win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN),
     RunOutcome::Updated, ""},
    // The copy, its opening and its reading fail the ways Windows fails them.
    {"CopyPathNotFound", kOwnPackage, PackageWith(kOwnPackage), RunOutcome::PackageUnusable,
     "The update package \"%s\" was not found.", {"CopyFileW", 1, win::ERROR_PATH_NOT_FOUND}},
    {"CopyDiskFull", kOwnPackage, PackageWith(kOwnPackage), RunOutcome::NoProtectedFolder,
     "The update package \"%s\" cannot be copied to a protected folder (error 112).",
     {"CopyFileW", 1, win::ERROR_DISK_FULL}},
    {"CopyCannotBeOpened", std::nullopt, PackageWith(kOwnPackage), RunOutcome::PackageUnusable,
     "The update package \"%s\" cannot be read (error 32).",
     {"CreateFileW", 1, win::ERROR_SHARING_VIOLATION}},
    {"CopyCannotBeRead", kOwnPackage, PackageWith(kOwnPackage), RunOutcome::PackageUnusable,
     "The update package \"%s\" cannot be read (error 23).", {"ReadFile", 1, 23}},
};

class PackageCheck : public ::testing::TestWithParam<PackageCase> {};

TEST_P(PackageCheck, OnlyTheReleasesOwnPackageIsApplied) {
  const PackageCase& c = GetParam();
  MachineOptions o;
  o.releasePackage = c.release;
  StandardMachine m(o);
  if (c.package) m->AddFile(kPackage, *c.package);
  else m->RemoveFile(kPackage);
  if (c.fault.function != "-") m->kernel().AddFault(c.fault);
  InstallerSaw saw;
  WatchInstaller(m, saw);
  // While a refusal's message is open, the copy and its folder are gone already: the user's
  // program finds no folder to write into.
  sim::UserWrite write;
  write.moment = sim::UserMoment::DuringPrompt;
  write.path = std::string(sim::kNewFolder) + "\\qvupdate.msp";
  write.file = PackageWith("planted");
  m->AddUserWrite(write);
  const auto filesBefore = m->FilePaths();
  const RunOutcome outcome = m.Run(u"/en");
  EXPECT_EQ(outcome, c.outcome);
  const std::string folder = ProtectedFolderOf(m.machine());
  if (c.outcome == RunOutcome::Updated) {
    // From the protected copy, whose folder only administrators and SYSTEM can write, held open
    // by the updater while the installer runs.
    ASSERT_TRUE(saw.ran);
    EXPECT_EQ(saw.path, folder + "\\qvupdate.msp");
    ASSERT_TRUE(saw.file.has_value());
    EXPECT_EQ(saw.file->content, c.package->content);
    EXPECT_EQ(saw.file->attributes, 0u);
    EXPECT_EQ(saw.folderSecurity, "D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)");
    EXPECT_FALSE(saw.userMayWrite);
    EXPECT_EQ(saw.openFiles, std::vector<std::string>{saw.path});
    EXPECT_EQ(m->UserLog(), std::vector<std::string>{"could not replace " + saw.path + ": access denied"});
    ExpectProtectedCopyCameAndWent(m.machine(), kPackage);
    ExpectEverythingReleased(m.machine());
    return;
  }
  // Refused before the prompt: one message, which says why and names the package.
  EXPECT_EQ(ExitStatus(outcome), c.outcome == RunOutcome::PackageRejected   ? 1643
                                 : c.outcome == RunOutcome::NoProtectedFolder ? 1632
                                                                              : 1636);
  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  EXPECT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
  EXPECT_EQ(d.type, win::MB_OK | win::MB_ICONERROR);
  EXPECT_EQ(d.caption, u"Quorvia 3 Update Installation");
  std::string first = c.english;
  first.replace(first.find("%s"), 2, kPackage);
  EXPECT_EQ(TextToUtf8(d.text), first + "\r\n\r\nNothing has been changed on this computer. "
                                        "Please download the update again.");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(m->UserLog(), std::vector<std::string>{"could not replace " + folder +
                                                   "\\qvupdate.msp: no such folder"});
  ExpectNothingChanged(m, filesBefore);
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageCheck, ::testing::ValuesIn(kPackageCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each refusal in German, with its umlauts, and its exit status.
TEST(PackageCheckGerman, RefusalsInTheRunsLanguage) {
  const std::pair<std::optional<sim::SimFile>, std::string> cases[] = {
      {std::nullopt, "Das Update-Paket \"%s\" wurde nicht gefunden."},
      {PackageWith("Quorvia 3 patch 3.10.0.61"),
       "Das Update-Paket \"%s\" ist nicht das Paket, f\xc3\xbcr das dieses Update erstellt wurde."}};
  for (const auto& [package, german] : cases) {
    MachineOptions o;
    o.releasePackage = kOwnPackage;
    o.windows = kWindowsXp;
    StandardMachine m(o);
    if (package) m->AddFile(kPackage, *package);
    else m->RemoveFile(kPackage);
    const auto filesBefore = m->FilePaths();
    EXPECT_EQ(ExitStatus(m.Run(u"")), package ? 1643 : 1636);
    ASSERT_EQ(m->Dialogs().size(), 1u);
    EXPECT_EQ(m->Dialogs()[0].caption, u"Querlix 3-Update-Installation");
    std::string first = german;
    first.replace(first.find("%s"), 2, kPackage);
    EXPECT_EQ(TextToUtf8(m->Dialogs()[0].text),
              first + "\r\n\r\nAuf diesem Computer wurde nichts ge\xc3\xa4ndert. Bitte laden Sie das "
                      "Update erneut herunter.");
    ExpectNothingChanged(m, filesBefore);
  }
}

// A package that cannot be read: a folder in its place, a file Windows refuses to open.
TEST(Package, UnreadableIsRefusedWithWindowsError) {
  for (const bool folder : {true, false}) {
    StandardMachine m;
    if (folder) {
      m->RemoveFile(kPackage);
      m->AddFolder(kPackage);
    } else {
      m->kernel().AddFault({"CopyFileW", 1, win::ERROR_SHARING_VIOLATION});
    }
    const auto filesBefore = m->FilePaths();
    EXPECT_EQ(ExitStatus(m.Run(u"/en")), 1636);
    ASSERT_EQ(m->Dialogs().size(), 1u);
    const std::string first = "The update package \"" + kPackage + "\" cannot be read (error " +
                              (folder ? "5" : "32") + ").\r\n\r\n";
    EXPECT_EQ(TextToUtf8(m->Dialogs()[0].text).substr(0, first.size()), first);
    ExpectNothingChanged(m, filesBefore);
  }
}

// Where the protected folder goes: the Temp of the machine's Windows folder, also when Windows
// lies at a drive's root, and on a Terminal Server, where GetWindowsDirectoryW would name a
// folder of the user's own for a program without the Terminal-Server mark.
TEST(Package, ProtectedFolderInTheMachinesWindowsFolder) {
  const struct {
    const char* windows;
    const char* userWindows;
    const char* expected;
  } cases[] = {{"C:\\Windows", "", "C:\\Windows\\Temp\\QV3Update-"},
               {"C:\\", "", "C:\\Temp\\QV3Update-"},
               {"C:\\Windows", "C:\\Users\\User\\WINDOWS", "C:\\Windows\\Temp\\QV3Update-"}};
  for (const auto& c : cases) {
    MachineOptions o;
    o.windowsDirectory = c.windows;
    o.userWindowsDirectory = c.userWindows;
    StandardMachine m(o);
    if (*c.userWindows) m->SetUserMayWrite(c.userWindows, true);
    m->AddFolder(std::string(c.windows) + "\\Temp");
    EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated) << c.windows << " " << c.userWindows;
    const std::string folder = ProtectedFolderOf(m.machine());
    EXPECT_EQ(folder.substr(0, std::string(c.expected).size()), c.expected);
    ExpectProtectedCopyCameAndWent(m.machine(), kPackage);
  }
}

// A name that is taken is never used, whoever took it: the next random name is tried, and when
// every try meets a taken name the run ends with the Temp folder's status (1632).
TEST(Package, ProtectedFolderNameThatExistsIsNeverUsed) {
  std::vector<std::string> names;
  {
    // The names the machine's random bytes give, in order (one seed, one sequence).
    for (int taken = 0; taken <= kProtectedFolderTries; ++taken) {
      StandardMachine m;
      for (const std::string& name : names) m->AddFolder(name);
      InstallerSaw saw;
      WatchInstaller(m, saw);
      const auto filesBefore = m->FilePaths();
      const RunOutcome outcome = m.Run(u"/en");
      if (taken == kProtectedFolderTries) {
        EXPECT_EQ(outcome, RunOutcome::NoProtectedFolder);
        EXPECT_EQ(ExitStatus(outcome), 1632);
        ASSERT_EQ(m->Dialogs().size(), 1u);
        const std::string first = "The update package \"" + kPackage +
                                  "\" cannot be copied to a protected folder (error 183).\r\n";
        EXPECT_EQ(TextToUtf8(m->Dialogs()[0].text).substr(0, first.size()), first);
        ExpectNothingChanged(m, filesBefore);
        // The folders that were there are left as they were.
        for (const std::string& name : names) EXPECT_TRUE(m->FolderExists(name)) << name;
        break;
      }
      ASSERT_EQ(outcome, RunOutcome::Updated) << taken << " names taken";
      const std::string folder = ProtectedFolderOf(m.machine());
      for (const std::string& name : names) EXPECT_NE(Lower(folder), Lower(name));
      EXPECT_EQ(saw.path, folder + "\\qvupdate.msp");
      EXPECT_EQ(CountCalls(m->kernel(), "CreateDirectoryW"), static_cast<std::size_t>(taken) + 1);
      names.push_back(folder);
    }
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kProtectedFolderTries));
}

// The standard user replaces qvupdate.msp (or writes into the protected copy) at each moment of
// the run; the installer gets the checked copy of what was there when it was made, or the run
// refuses.
struct SwapCase {
  const char* name;
  bool release;           // the build was made for the original package
  sim::UserMoment moment;
  bool intoTheCopy;       // the user's write aims at the copy in the protected folder
  RunOutcome outcome;
  const char* installerGets;  // the content of the file the installer opens
  const char* userLog;        // the user's write as the machine logged it (%s: its path)
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

class PackageSwap : public ::testing::TestWithParam<SwapCase> {};

TEST_P(PackageSwap, TheInstallerGetsTheCheckedCopy) {
  const SwapCase& c = GetParam();
  MachineOptions o;
  o.packageContent = "original";
  if (c.release) o.releasePackage = "original";
  StandardMachine m(o);
  InstallerSaw saw;
  WatchInstaller(m, saw);
  sim::UserWrite write;
  write.moment = c.moment;
  write.path = c.intoTheCopy ? std::string(sim::kNewFolder) + "\\qvupdate.msp" : kPackage;
  write.file = PackageWith("planted");
  m->AddUserWrite(write);
  EXPECT_EQ(m.Run(u"/en"), c.outcome);
  if (c.outcome == RunOutcome::Updated) {
    ASSERT_TRUE(saw.file.has_value());
    EXPECT_EQ(saw.path, ProtectedFolderOf(m.machine()) + "\\qvupdate.msp");
    EXPECT_EQ(saw.file->content, c.installerGets);
  } else {
    EXPECT_FALSE(saw.ran);
  }
  std::string logged = c.userLog;
  const std::size_t at = logged.find("%s");
  if (at != std::string::npos)
    logged.replace(at, 2,
                   c.intoTheCopy ? ProtectedFolderOf(m.machine()) + "\\qvupdate.msp" : kPackage);
  EXPECT_EQ(m->UserLog(), std::vector<std::string>{logged});
  const std::string folder = ProtectedFolderOf(m.machine());
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(m->FolderExists(folder));
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Moments, PackageSwap,
    ::testing::Values(
        // Before the run (before an administrator approved the elevation): the user's file is
        // the package; a release refuses it.
        SwapCase{"BeforeRunRelease", true, sim::UserMoment::BeforeRun, false,
                 RunOutcome::PackageRejected, "", "replaced %s"},
        SwapCase{"BeforeRunDevelopment", false, sim::UserMoment::BeforeRun, false,
                 RunOutcome::Updated, "planted", "replaced %s"},
        // Once the copy is made, the download folder no longer matters.
        SwapCase{"AfterCopyRelease", true, sim::UserMoment::AfterCopy, false,
                 RunOutcome::Updated, "original", "replaced %s"},
        SwapCase{"AfterCheckRelease", true, sim::UserMoment::AfterCheck, false,
                 RunOutcome::Updated, "original", "replaced %s"},
        SwapCase{"DuringPromptRelease", true, sim::UserMoment::DuringPrompt, false,
                 RunOutcome::Updated, "original", "replaced %s"},
        SwapCase{"DuringPromptDevelopment", false, sim::UserMoment::DuringPrompt, false,
                 RunOutcome::Updated, "original", "replaced %s"},
        // The copy itself is out of the user's reach.
        SwapCase{"IntoTheCopyAfterCopy", false, sim::UserMoment::AfterCopy, true,
                 RunOutcome::Updated, "original", "could not replace %s: access denied"},
        SwapCase{"IntoTheCopyAfterCheck", true, sim::UserMoment::AfterCheck, true,
                 RunOutcome::Updated, "original", "could not replace %s: access denied"},
        SwapCase{"IntoTheCopyDuringPrompt", true, sim::UserMoment::DuringPrompt, true,
                 RunOutcome::Updated, "original", "could not replace %s: access denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way out of the run removes the copy and its folder: the prompt cancelled, an error after
// the installer, a refusal, the installer failing to start (see the tests above and the fault
// sweep); and the copy goes as soon as the installer has ended, before the settings are written.
// What cannot be removed then is marked for removal at the next restart.
TEST(Package, CopyIsRemovedRightAfterTheInstaller) {
  for (const bool deleteFails : {false, true}) {
    MachineOptions o;
    o.releasePackage = o.packageContent;
    StandardMachine m(o);
    if (deleteFails) {
      // Another program keeps the copy (a virus scanner, say): neither it nor the folder go now.
      m->kernel().AddFault({"DeleteFileW", 0, win::ERROR_SHARING_VIOLATION});
    }
    EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
    const auto& calls = m->kernel().Calls();
    std::size_t installer = 0, closed = 0, deleted = 0, removed = 0, firstWrite = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].function == "CreateProcessW" && !installer) installer = i;
      if (calls[i].function == "CloseHandle" && installer && !closed && i > installer + 1) closed = i;
      if (calls[i].function == "DeleteFileW" && !deleted) deleted = i;
      if (calls[i].function == "RemoveDirectoryW") removed = i;
      if (calls[i].function == "RegSetValueExA" && !firstWrite) firstWrite = i;
    }
    EXPECT_LT(installer, closed);
    EXPECT_LT(closed, deleted);
    EXPECT_LT(deleted, removed);
    EXPECT_LT(removed, firstWrite);
    EXPECT_EQ(CountCalls(m->kernel(), "CreateFileW"), 1u);
    EXPECT_EQ(CountCalls(m->kernel(), "CryptReleaseContext"), 1u);
    EXPECT_EQ(CountCalls(m->kernel(), "LocalFree"), 1u);
    const std::string folder = ProtectedFolderOf(m.machine());
    if (deleteFails) {
      EXPECT_EQ(m->PendingRemovals(), (std::vector<std::string>{folder + "\\qvupdate.msp", folder}));
      EXPECT_EQ(m->kernel().OpenHandleCount(), 0u);
    } else {
      ExpectEverythingReleased(m.machine());
    }
  }
}

}  // namespace
}  // namespace qv
