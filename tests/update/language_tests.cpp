// Start-up, language, installation check, start-up probes and the exit status.
#include <gtest/gtest.h>

#include "registry/error.h"
#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr char16_t kTitleEn[] = u"Quorvia 3 Update Installation";
constexpr char16_t kTitleDe[] = u"Querlix 3-Update-Installation";
constexpr char16_t kTextEn[] =
    u"Quorvia 3 is not installed. This update is only valid for Quorvia 3 and not for earlier "
    u"Quorvia versions.";
constexpr char16_t kTextDe[] =
    u"Querlix 3 ist nicht installiert. Dieses Update ist nur f\u00fcr Querlix 3 geeignet und "
    u"nicht f\u00fcr \u00e4ltere Querlix-Versionen.";

// --- language and the not-installed message --------------------------------------------------

struct LanguageCase {
  const char* name;
  const char16_t* arguments;
  bool english;
};

class LanguageTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageTest, NotInstalledMessageInTheChosenLanguage) {
  MachineOptions options;
  options.productInstalled = false;
  StandardMachine m(options);
  EXPECT_EQ(m.Run(GetParam().arguments), RunOutcome::NotInstalled);
  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  EXPECT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
  EXPECT_EQ(d.caption, GetParam().english ? kTitleEn : kTitleDe);
  EXPECT_EQ(d.text, GetParam().english ? kTextEn : kTextDe);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, LanguageTest,
    ::testing::Values(LanguageCase{"LowerEn", u"/en", true}, LanguageCase{"UpperEn", u"/EN", true},
                      LanguageCase{"MixedEn", u"/En", true},
                      LanguageCase{"English", u"/english", true},
                      LanguageCase{"AmongOthers", u"/quiet /en /x", true},
                      LanguageCase{"Glued", u"x/ENy", true}, LanguageCase{"De", u"/de", false},
                      LanguageCase{"None", u"", false}, LanguageCase{"NoSlash", u"en", false},
                      LanguageCase{"Split", u"/e n", false},
                      LanguageCase{"Backslash", u"\\en", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct NotInstalledCase {
  const char* name;
  WindowsKind windows;
  bool english;
};

class NotInstalledTest : public ::testing::TestWithParam<NotInstalledCase> {};

TEST_P(NotInstalledTest, OnlyTheMessageAndNothingElse) {
  const NotInstalledCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  options.productInstalled = false;
  StandardMachine m(options);
  const auto filesBefore = m->FilePaths();
  EXPECT_EQ(m.Run(c.english ? u"/en" : u""), RunOutcome::NotInstalled);

  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  EXPECT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
  EXPECT_TRUE(win::IsNull(d.owner));
  EXPECT_EQ(d.caption, c.english ? kTitleEn : kTitleDe);
  EXPECT_EQ(d.text, c.english ? kTextEn : kTextDe);
  EXPECT_EQ(d.type, 0x10u);

  EXPECT_TRUE(m->Processes().empty());
  EXPECT_TRUE(m->registry().Changes().empty());
  EXPECT_TRUE(m->WerExclusions().empty());
  EXPECT_TRUE(m->FileLog().empty());
  EXPECT_EQ(m->FilePaths(), filesBefore);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(Situations, NotInstalledTest,
                         ::testing::Values(NotInstalledCase{"Win2000_En", kWindows2000, true},
                                           NotInstalledCase{"Win2000_De", kWindows2000, false},
                                           NotInstalledCase{"XP_En", kWindowsXp, true},
                                           NotInstalledCase{"Win7x86_De", kWindows7x86, false},
                                           NotInstalledCase{"Win7x64_En", kWindows7x64, true},
                                           NotInstalledCase{"Win7x64_De", kWindows7x64, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NotInstalled, KeyInTheOther64BitViewDoesNotCount) {
  // On 64-bit Windows the product key lives in the 32-bit view; one in the 64-bit view only is
  // not the product's.
  MachineOptions options;
  options.productInstalled = false;
  StandardMachine m(options);
  m->registry().CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia");
  m->registry().SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia", "AppPath",
                         RegSz(m.installFolder()));
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::NotInstalled);
  // The same holds for the 64-bit build, which must look where the 32-bit program looks.
  MachineOptions options64 = options;
  options64.processBits = 64;
  StandardMachine m64(options64);
  m64->registry().CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia");
  EXPECT_EQ(m64.Run(u"/en"), RunOutcome::NotInstalled);
  ExpectEverythingReleased(m64.machine());
}

// --- AppPath missing ------------------------------------------------------------------------

TEST(AppPath, MissingValueGoesOnWithAnEmptyFolder) {
  MachineOptions options;
  options.appPathValue = false;
  StandardMachine m(options);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::VersionUnchanged);  // bare "QVApp.exe" does not exist
  // Only the prompt: no error message.
  ASSERT_EQ(m->Dialogs().size(), 1u);
  EXPECT_EQ(m->Dialogs()[0].kind, sim::DialogRecord::Kind::TaskDialog);
  // The installer runs; QVInit.exe is not started from a folder that names no drive: its bare
  // name would be taken from the current (download) folder.
  ASSERT_EQ(m->Processes().size(), 1u);
  EXPECT_EQ(m->Processes()[0].applicationName.value_or(""), "C:\\Windows\\system32\\msiexec.exe");
  const auto values = WrittenValues(m.machine());
  const auto run = values.find(
      "hkey_local_machine\\software\\wow6432node\\microsoft\\windows\\currentversion\\run|"
      "quorviastartupinit");
  ASSERT_NE(run, values.end());
  EXPECT_EQ(run->second, RegSz("\"QVGet.exe\" /StartupCheck"));
  ExpectEverythingReleased(m.machine());
}

// --- start-up: common controls, the icon-carrier form, the foreground -------------------------

TEST(StartUp, TakesTheForegroundWithTheHiddenFormAndDestroysIt) {
  StandardMachine m;
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Cancelled);
  EXPECT_EQ(m->InitCommonControlsCount(), 1);
  // The Explorer window had the foreground: its thread is attached for the request, then
  // detached again.
  const auto& log = m->ForegroundLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "AttachThreadInput(" + std::to_string(kExplorerThreadId) + "," +
                        std::to_string(m->config().threadId) + ",1)");
  EXPECT_EQ(log[1].rfind("SetForegroundWindow(", 0), 0u);
  EXPECT_EQ(log[2], "AttachThreadInput(" + std::to_string(kExplorerThreadId) + "," +
                        std::to_string(m->config().threadId) + ",0)");
  // The form's window was created (caption "Form1", icon 1) and is gone before any dialog.
  const std::string formHandle = log[1].substr(20, log[1].size() - 21);
  const auto* form = m->FindSimWindow(win::MakeHandle<win::HWND>(std::stoull(formHandle)));
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(m->OwnWindowCount(), 0u);
  ExpectEverythingReleased(m.machine());
}

// --- the WOW64 probe ------------------------------------------------------------------------

struct Wow64Case {
  const char* name;
  WindowsKind windows;
  int processBits;
  std::size_t isWow64Calls;
  bool foldersLine;  // the prompt lists folder windows: bIsWow64 was false
};

class Wow64ProbeTest : public ::testing::TestWithParam<Wow64Case> {};

TEST_P(Wow64ProbeTest, AskedOnlyAtLevel2ByThe32BitProgram) {
  const Wow64Case& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  options.processBits = c.processBits;
  StandardMachine m(options);
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Cancelled);
  EXPECT_EQ(CountCalls(m->kernel(), "IsWow64Process"), c.isWow64Calls);
  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  const Text list = d.kind == sim::DialogRecord::Kind::TaskDialog ? d.footer : d.text;
  EXPECT_EQ(list.find(u"- all open folder windows") != Text::npos, c.foldersLine);
}

constexpr WindowsKind kWindowsXp64{"WindowsXPx64", 5, 2, 64};

INSTANTIATE_TEST_SUITE_P(Situations, Wow64ProbeTest,
                         ::testing::Values(Wow64Case{"Win2000", kWindows2000, 32, 0, true},
                                           Wow64Case{"XPx64", kWindowsXp64, 32, 0, true},
                                           Wow64Case{"Win7x86", kWindows7x86, 32, 1, true},
                                           Wow64Case{"Win7x64", kWindows7x64, 32, 1, false},
                                           Wow64Case{"Win7x64_64BitBuild", kWindows7x64, 64, 0,
                                                     false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Wow64Probe, UnavailableFunctionLeavesTheFlagFalse) {
  StandardMachine m;
  m->SetIsWow64ProcessAvailable(false);
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Cancelled);
  EXPECT_NE(m->Dialogs()[0].footer.find(u"- all open folder windows"), Text::npos);
}

// --- the Windows level cache over a whole run -------------------------------------------------

struct CacheCase {
  const char* name;
  WindowsKind windows;
  std::size_t versionQueries;
};

class LevelCacheTest : public ::testing::TestWithParam<CacheCase> {};

TEST_P(LevelCacheTest, VersionQueriesOfAWholeRun) {
  MachineOptions options;
  options.windows = GetParam().windows;
  StandardMachine m(options);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(CountCalls(m->kernel(), "GetVersionExA"), GetParam().versionQueries);
}

// A run that reports success asks for the level seven times: probes, prompt, patch, two in the
// browser settings, error reporting and the report.
INSTANTIATE_TEST_SUITE_P(Situations, LevelCacheTest,
                         ::testing::Values(CacheCase{"Win2000", kWindows2000, 7},
                                           CacheCase{"XP", kWindowsXp, 1},
                                           CacheCase{"Win7x86", kWindows7x86, 1},
                                           CacheCase{"Win7x64", kWindows7x64, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- exit status ----------------------------------------------------------------------------

struct ExitCase {
  RunOutcome outcome;
  int status;
};

class ExitStatusTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitStatusTest, MapsEachOutcome) {
  EXPECT_EQ(ExitStatus(GetParam().outcome), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ExitStatusTest,
                         ::testing::Values(ExitCase{RunOutcome::Updated, 0},
                                           ExitCase{RunOutcome::Cancelled, 1602},
                                           ExitCase{RunOutcome::NotInstalled, 1605},
                                           ExitCase{RunOutcome::VersionUnchanged, 1642}));

}  // namespace
}  // namespace qv
