// CreateShortcut over the simulated shell link object.
#include <gtest/gtest.h>

#include "platform/sim/sim_machine.h"
#include "winhelpers/sim_calls.h"
#include "winhelpers/winhelpers.h"

namespace qv {
namespace {

using test::CallsMatching;

constexpr char kFolder[] = "C:\\ProgramData\\Start Menu\\Programs\\Quorvia 3";
constexpr char kLink[] = "C:\\ProgramData\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk";
constexpr char16_t kLinkW[] =
    u"C:\\ProgramData\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk";
constexpr char kTarget[] = "C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe";
constexpr char16_t kTargetW[] = u"C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe";

class ShortcutTest : public ::testing::Test {
 protected:
  ShortcutTest() {
    machine.AddFolder(kFolder);
    machine.AddExecutable(kTarget, sim::FileVersion{3, 10, 0, 68});
    platform.shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  }
  ~ShortcutTest() override { platform.shell.CoUninitialize(); }
  void ExpectNoComReferenceLeft() {
    EXPECT_EQ(machine.kernel().OpenHandleCount(sim::HandleKind::ComObject), 0u);
    EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u);
  }
  bool Create(const Text& file, const Text& workDir, const Text& args, const Text& description,
              const Text& iconPath, std::int32_t iconIndex, std::int32_t show) {
    return CreateShortcut(platform, file, kTargetW, workDir, args, description, iconPath, iconIndex,
                          show);
  }

  sim::SimMachine machine;
  win::Platform platform = machine.platform();
};

// Which optional fields reach the link object, and what the saved link holds.
struct FieldCase {
  const char* name;
  const char16_t* workDir;
  const char16_t* args;
  const char16_t* description;
  const char16_t* iconPath;
  std::int32_t iconIndex;
  std::int32_t show;
  std::vector<std::string> calledSetters;  // besides SetPath, SetShowCmd and Resolve
  sim::ShortcutData saved;
};

class ShortcutFieldsTest : public ShortcutTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(ShortcutFieldsTest, SetsOnlyTheGivenFields) {
  const FieldCase& c = GetParam();
  EXPECT_TRUE(Create(kLinkW, c.workDir, c.args, c.description, c.iconPath, c.iconIndex, c.show));
  for (const char* setter :
       {"SetWorkingDirectory", "SetArguments", "SetDescription", "SetIconLocation"}) {
    const bool expected =
        std::find(c.calledSetters.begin(), c.calledSetters.end(), setter) != c.calledSetters.end();
    EXPECT_EQ(CallsMatching(machine.kernel(), setter).size(), expected ? 1u : 0u) << setter;
  }
  const sim::SimFile* file = machine.FindFile(kLink);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->shortcut.has_value());
  const sim::ShortcutData& s = *file->shortcut;
  EXPECT_EQ(s.target, kTarget);
  EXPECT_EQ(s.workingDirectory, c.saved.workingDirectory);
  EXPECT_EQ(s.arguments, c.saved.arguments);
  EXPECT_EQ(s.description, c.saved.description);
  EXPECT_EQ(s.iconPath, c.saved.iconPath);
  EXPECT_EQ(s.iconIndex, c.saved.iconIndex);
  EXPECT_EQ(s.showCommand, c.show);
  EXPECT_TRUE(s.resolved);
  // Resolved with SLR_UPDATE only: the shell may ask the user when the target is missing.
  std::vector<std::string> resolveFlags;
  for (const auto& call : machine.kernel().Calls())
    if (call.function == "IShellLinkW::Resolve") resolveFlags.push_back(call.detail);
  EXPECT_EQ(resolveFlags, std::vector<std::string>{"4"});
  ExpectNoComReferenceLeft();
}

sim::ShortcutData Saved(const char* workDir, const char* args, const char* description,
                        const char* iconPath, int iconIndex) {
  sim::ShortcutData d;
  d.workingDirectory = workDir;
  d.arguments = args;
  d.description = description;
  d.iconPath = iconPath;
  d.iconIndex = iconIndex;
  return d;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ShortcutFieldsTest,
    ::testing::Values(
        // As the update driver calls it.
        FieldCase{"AsTheUpdaterWritesIt",
                  u"",
                  u"",
                  u"Syncs two Quorvia data files.",
                  kTargetW,
                  0,
                  1,
                  {"SetDescription", "SetIconLocation"},
                  Saved("", "", "Syncs two Quorvia data files.", kTarget, 0)},
        FieldCase{"EveryField",
                  u"C:\\Work",
                  u"/sync",
                  u"Sync",
                  u"C:\\icons.dll",
                  3,
                  7,
                  {"SetWorkingDirectory", "SetArguments", "SetDescription", "SetIconLocation"},
                  Saved("C:\\Work", "/sync", "Sync", "C:\\icons.dll", 3)},
        FieldCase{"NoDescriptionNoIconIndexIgnored",
                  u"",
                  u"",
                  u"",
                  u"",
                  5,
                  1,
                  {},
                  Saved("", "", "", "", 0)},
        FieldCase{"BlanksAreNotEmpty",
                  u" ",
                  u" ",
                  u" ",
                  u"",
                  0,
                  0,
                  {"SetWorkingDirectory", "SetArguments", "SetDescription"},
                  Saved(" ", " ", " ", "", 0)},
        FieldCase{
            "GermanDescription",
            u"",
            u"",
            u"Gleicht zwei Querlix-Datendateien ab (\u00e4\u00f6\u00fc\u00df).",
            u"",
            0,
            1,
            {"SetDescription"},
            Saved("", "", "Gleicht zwei Querlix-Datendateien ab (\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f).", "",
                  0)},
        // Texts no Western ANSI code page carries reach the link unchanged: Polish and Russian
        // letters, a fullwidth quotation mark (best-fit '"' in code page 1252) and a character
        // beyond the Basic Multilingual Plane.
        FieldCase{"TextsOutsideTheAnsiCodePage",
                  u"C:\\\u0141\u00f3d\u017a",
                  u"/name \uff02\u0421\u0438\u043d\u0445\u0440\uff02",
                  u"Synchronizacja \u0142\u0105cznie \U0001F504",
                  u"C:\\\u0141\u00f3d\u017a\\icons.dll",
                  2,
                  1,
                  {"SetWorkingDirectory", "SetArguments", "SetDescription", "SetIconLocation"},
                  Saved("C:\\\xc5\x81\xc3\xb3" "d\xc5\xba",
                        "/name \xef\xbc\x82\xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80\xef\xbc\x82",
                        "Synchronizacja \xc5\x82\xc4\x85" "cznie \xf0\x9f\x94\x84",
                        "C:\\\xc5\x81\xc3\xb3" "d\xc5\xba\\icons.dll", 2)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShortcutTest, ReplacesAnExistingShortcut) {
  sim::SimFile old;
  old.shortcut = sim::ShortcutData{};
  old.shortcut->target = "C:\\Old\\QVSync.exe";
  machine.AddFile(kLink, old);
  EXPECT_TRUE(Create(kLinkW, u"", u"", u"new", kTargetW, 0, 1));
  const sim::SimFile* file = machine.FindFile(kLink);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->shortcut.has_value());
  EXPECT_EQ(file->shortcut->target, kTarget);
  EXPECT_EQ(file->shortcut->description, "new");
  ExpectNoComReferenceLeft();
}

TEST_F(ShortcutTest, SavesUnderAUnicodeFileName) {
  EXPECT_TRUE(Create(Text(u"C:\\ProgramData\\Start Menu\\Programs\\Quorvia 3\\Synchronisation "
                          u"f\u00fcr Sammlungen.lnk"),
                     u"", u"", u"", u"", 0, 1));
  EXPECT_NE(machine.FindFile(std::string(kFolder) + "\\Synchronisation f\xc3\xbcr Sammlungen.lnk"),
            nullptr);
  ExpectNoComReferenceLeft();
}

// A shortcut whose own name and target lie outside the ANSI code page is saved as named.
TEST_F(ShortcutTest, SavesAndPointsOutsideTheAnsiCodePage) {
  machine.AddExecutable("C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\\QVSync.exe", std::nullopt);  // "C:\Прог"
  EXPECT_TRUE(CreateShortcut(platform, u"C:\\ProgramData\\Start Menu\\Programs\\Quorvia 3\\\u0421\u0438\u043d\u0445\u0440.lnk",
                             u"C:\\\u041f\u0440\u043e\u0433\\QVSync.exe", u"", u"", u"", u"", 0, 1));
  const sim::SimFile* file =
      machine.FindFile(std::string(kFolder) + "\\\xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80.lnk");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->shortcut.has_value());
  EXPECT_EQ(file->shortcut->target, "C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\\QVSync.exe");
  EXPECT_TRUE(file->shortcut->resolved);
  ExpectNoComReferenceLeft();
}

TEST_F(ShortcutTest, MissingFolderWritesNothingAndReportsFalse) {
  const auto before = machine.FilePaths();
  EXPECT_FALSE(Create(u"C:\\No Such Folder\\Synchronizing.lnk", u"", u"", u"d", kTargetW, 0, 1));
  EXPECT_EQ(machine.FilePaths(), before);
  EXPECT_TRUE(machine.Dialogs().empty());
  ExpectNoComReferenceLeft();
}

// A failure at any step stops the function before the save.
struct StepFailureCase {
  const char* name;
  const char* function;  // the call made to fail, as the call log names it
};

class ShortcutStepFailureTest : public ShortcutTest,
                                public ::testing::WithParamInterface<StepFailureCase> {};

TEST_P(ShortcutStepFailureTest, GivesUpSilentlyAndReleasesEverything) {
  const StepFailureCase& c = GetParam();
  machine.kernel().AddFault({c.function, 1, 0});
  const auto before = machine.FilePaths();
  EXPECT_FALSE(Create(kLinkW, u"C:\\Work", u"/a", u"d", kTargetW, 0, 1));
  EXPECT_EQ(machine.FilePaths(), before);
  EXPECT_EQ(machine.FindFile(kLink), nullptr);
  EXPECT_TRUE(machine.Dialogs().empty());
  // Nothing after the failing step was asked of the link object.
  const auto calls = machine.kernel().Calls();
  bool failedSeen = false;
  for (const auto& call : calls) {
    if (failedSeen) ADD_FAILURE() << "call after the failure: " << call.function;
    if (call.failedByPlan) failedSeen = true;
  }
  EXPECT_TRUE(failedSeen);
  ExpectNoComReferenceLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ShortcutStepFailureTest,
    ::testing::Values(StepFailureCase{"Create", "CoCreateInstance"},
                      StepFailureCase{"PersistFile", "IShellLinkW::QueryInterface"},
                      StepFailureCase{"SetPath", "IShellLinkW::SetPath"},
                      StepFailureCase{"WorkDir", "IShellLinkW::SetWorkingDirectory"},
                      StepFailureCase{"Args", "IShellLinkW::SetArguments"},
                      StepFailureCase{"Description", "IShellLinkW::SetDescription"},
                      StepFailureCase{"Icon", "IShellLinkW::SetIconLocation"},
                      StepFailureCase{"Show", "IShellLinkW::SetShowCmd"},
                      StepFailureCase{"Resolve", "IShellLinkW::Resolve"},
                      StepFailureCase{"Save", "IPersistFile::Save"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShortcutTest, ResolveGivingSFalseCountsAsSuccess) {
  machine.kernel().AddFault({"IShellLinkW::Resolve", 1, win::S_FALSE});
  EXPECT_TRUE(Create(kLinkW, u"", u"", u"d", kTargetW, 0, 1));
  EXPECT_NE(machine.FindFile(kLink), nullptr);
  ExpectNoComReferenceLeft();
}

}  // namespace
}  // namespace qv
