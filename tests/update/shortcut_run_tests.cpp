// The synchronisation shortcut over a whole run, and the error-reporting exclusions.
#include <gtest/gtest.h>

#include "registry/error.h"
#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

enum class Existing { Absent, Present, Hidden, System, Folder, ReadOnly };

struct ShortcutCase {
  const char* name;
  bool english;
  Existing english_;        // what is at the English name before the run
  Existing german;          // what is at the German name before the run
  const char* failingCall;  // a call made to fail, or nullptr
  bool renewed;             // the shortcut of the run's language is written anew
  bool raises;              // the run ends with the file access error
};

void Place(StandardMachine& m, bool english, Existing what) {
  const std::string path = m.shortcutPath(english);
  m->AddFolder(path.substr(0, path.rfind('\\')));
  sim::SimFile file;
  file.shortcut = StandardMachine::OldShortcut(m.installFolder() + "QVSync.exe");
  switch (what) {
    case Existing::Absent:
      m->RemoveFile(path);
      return;
    case Existing::Present:
      break;
    case Existing::Hidden:
      file.attributes = win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_ARCHIVE;
      break;
    case Existing::System:
      file.attributes = win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_ARCHIVE;
      break;
    case Existing::ReadOnly:
      file.attributes = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_ARCHIVE;
      break;
    case Existing::Folder:
      m->RemoveFile(path);
      m->AddFolder(path);
      return;
  }
  m->RemoveFile(path);
  m->AddFile(path, file);
}

class ShortcutRunTest : public ::testing::TestWithParam<ShortcutCase> {};

TEST_P(ShortcutRunTest, RenewsOnlyAnOrdinaryShortcutOfTheRunsLanguage) {
  const ShortcutCase& c = GetParam();
  MachineOptions options;
  options.englishShortcut = false;
  options.germanShortcut = false;
  StandardMachine m(options);
  Place(m, true, c.english_);
  Place(m, false, c.german);
  if (c.failingCall) m->kernel().AddFault({c.failingCall, 1, 0});
  const auto filesBefore = m->FilePaths();
  const std::string path = m.shortcutPath(c.english);
  const std::string other = m.shortcutPath(!c.english);
  const sim::SimFile* otherBefore = m->FindFile(other);
  const std::optional<sim::ShortcutData> otherData =
      otherBefore ? otherBefore->shortcut : std::nullopt;

  if (c.raises) {
    try {
      m.Run(c.english ? u"/en" : u"");
      ADD_FAILURE() << "the run did not end with an error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 75);
      EXPECT_EQ(e.source(), u"QV3Update");
      EXPECT_EQ(e.description(), u"Path/File access error");
    }
    EXPECT_EQ(m->Dialogs().size(), 1u);  // no completion report
  } else {
    EXPECT_EQ(m.Run(c.english ? u"/en" : u""), RunOutcome::Updated);
    EXPECT_EQ(m->Dialogs().size(), 2u);
  }

  const sim::SimFile* now = m->FindFile(path);
  if (c.renewed) {
    ASSERT_NE(now, nullptr);
    ASSERT_TRUE(now->shortcut.has_value());
    const sim::ShortcutData& s = *now->shortcut;
    EXPECT_EQ(s.target, m.installFolder() + "QVSync.exe");
    EXPECT_EQ(s.iconPath, m.installFolder() + "QVSync.exe");
    EXPECT_EQ(s.iconIndex, 0);
    EXPECT_EQ(s.showCommand, 1);
    EXPECT_EQ(s.workingDirectory, "");
    EXPECT_EQ(s.arguments, "");
    EXPECT_EQ(s.description, c.english ? "Syncs two Quorvia data files."
                                       : "Gleicht zwei Querlix-Datendateien miteinander ab.");
    EXPECT_TRUE(s.resolved);
  } else {
    // Whatever was there is there as before (the old shortcut kept, or nothing).
    EXPECT_EQ(m->FilePaths(), filesBefore);
    if (now && now->shortcut) {
      EXPECT_EQ(now->shortcut->description, "old shortcut");
    }
  }
  // No temporary file is left behind, and the other language's shortcut is untouched.
  EXPECT_EQ(m->FindFile(path + ".new"), nullptr);
  const sim::SimFile* otherNow = m->FindFile(other);
  EXPECT_EQ(otherNow != nullptr, otherBefore != nullptr);
  if (otherNow != nullptr && otherData.has_value()) {
    ASSERT_TRUE(otherNow->shortcut.has_value());
    EXPECT_EQ(otherNow->shortcut->description, otherData->description);
  }
  // The shortcut is the last step: the browser settings, the add-in names and the
  // error-reporting exclusions are all made before it, so a shortcut that ends the run with an
  // error still leaves the programs excluded.
  EXPECT_EQ(WrittenValues(m.machine()).size(), 25u);
  EXPECT_EQ(m->WerExclusions().size(), 5u);
  // The shell link object is used in a single-threaded apartment, entered once and left again,
  // and only when there is an ordinary shortcut to renew.
  const Existing own = c.english ? c.english_ : c.german;
  const bool shellLinkUsed = own == Existing::Present || own == Existing::ReadOnly;
  std::vector<std::string> apartments;
  for (const sim::CallRecord& call : m->kernel().Calls())
    if (call.function == "CoInitializeEx") apartments.push_back(call.detail);
  EXPECT_EQ(apartments, std::vector<std::string>(shellLinkUsed ? 1 : 0,
                                                 std::to_string(win::COINIT_APARTMENTTHREADED)));
  EXPECT_EQ(CountCalls(m->kernel(), "CoUninitialize"), apartments.size());
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Situations, ShortcutRunTest,
    ::testing::Values(
        ShortcutCase{"Present_En", true, Existing::Present, Existing::Absent, nullptr, true, false},
        ShortcutCase{"Present_De", false, Existing::Absent, Existing::Present, nullptr, true,
                     false},
        ShortcutCase{"Absent_En", true, Existing::Absent, Existing::Absent, nullptr, false, false},
        ShortcutCase{"GermanRunLeavesEnglishShortcut", false, Existing::Present, Existing::Absent,
                     nullptr, false, false},
        ShortcutCase{"EnglishRunLeavesGermanShortcut", true, Existing::Present, Existing::Present,
                     nullptr, true, false},
        ShortcutCase{"Hidden", true, Existing::Hidden, Existing::Absent, nullptr, false, false},
        ShortcutCase{"SystemFile", true, Existing::System, Existing::Absent, nullptr, false, false},
        ShortcutCase{"Folder", true, Existing::Folder, Existing::Absent, nullptr, false, false},
        ShortcutCase{"ReadOnlyCannotBeReplaced", true, Existing::ReadOnly, Existing::Absent,
                     nullptr, false, true},
        ShortcutCase{"SaveFails", true, Existing::Present, Existing::Absent, "IPersistFile::Save",
                     false, false},
        ShortcutCase{"ShellLinkUnavailable", false, Existing::Absent, Existing::Present,
                     "CoCreateInstance", false, false},
        ShortcutCase{"MoveFails", true, Existing::Present, Existing::Absent, "MoveFileExW", false,
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShortcutRun, StaleTemporaryFileIsReplaced) {
  StandardMachine m;
  const std::string path = m.shortcutPath(true);
  sim::SimFile stale;
  stale.content = "half-written";
  m->AddFile(path + ".new", stale);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(m->FindFile(path + ".new"), nullptr);
  const sim::SimFile* now = m->FindFile(path);
  ASSERT_NE(now, nullptr);
  ASSERT_TRUE(now->shortcut.has_value());
  EXPECT_EQ(now->shortcut->description, "Syncs two Quorvia data files.");
  // The leftover is removed before the new shortcut is saved, not written over.
  std::vector<std::string> log;
  for (const std::string& entry : OtherFileChanges(m.machine())) log.push_back(Lower(entry));
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], Lower("deleted " + path + ".new"));
  EXPECT_EQ(log[1], Lower("created " + path + ".new"));
  EXPECT_EQ(log[2], Lower("moved " + path + ".new -> " + path));
}

TEST(ShortcutRun, LeftoverThatResistedIsRemovedAfterAFailedWrite) {
  // The leftover cannot be deleted at first and the new shortcut cannot be saved: the updater
  // still leaves no temporary file behind, and keeps the old shortcut.
  StandardMachine m;
  const std::string path = m.shortcutPath(true);
  sim::SimFile stale;
  stale.content = "half-written";
  m->AddFile(path + ".new", stale);
  m->kernel().AddFault({"DeleteFileW", 1, 0});
  m->kernel().AddFault({"IPersistFile::Save", 1, 0});
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(m->FindFile(path + ".new"), nullptr);
  ASSERT_NE(m->FindFile(path), nullptr);
  EXPECT_EQ(m->FindFile(path)->shortcut->description, "old shortcut");
  ExpectEverythingReleased(m.machine());
}

TEST(ShortcutRun, NewShortcutIsWrittenBesideTheOldOneAndMovedOverIt) {
  StandardMachine m;
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  const std::string path = m.shortcutPath(true);
  std::vector<std::string> log;
  for (const std::string& entry : m->FileLog())
    if (entry.find("Synchronizing") != std::string::npos) log.push_back(Lower(entry));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), Lower("moved " + path + ".new -> " + path));
  // The old file is never deleted on its own.
  for (const std::string& entry : log) EXPECT_NE(entry, Lower("deleted " + path));
}

struct FolderCase {
  const char* name;
  win::HRESULT status;
  std::size_t messages;  // message boxes of the folder query
};

class CommonProgramsUnavailableTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(CommonProgramsUnavailableTest, NoShortcutStepAtAll) {
  const FolderCase& c = GetParam();
  StandardMachine m;
  m->SetSpecialFolderResult(win::CSIDL_COMMON_PROGRAMS, c.status);
  // A shortcut at the root of the drive must stay untouched.
  sim::SimFile rootLink;
  rootLink.shortcut = StandardMachine::OldShortcut("C:\\x.exe");
  m->AddFolder("C:\\Quorvia 3");
  m->AddFile(std::string("C:") + kEnglishLinkName, rootLink);
  const auto filesBefore = m->FilePaths();
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(m->FilePaths(), filesBefore);
  EXPECT_EQ(OtherFileChanges(m.machine()), std::vector<std::string>{});
  EXPECT_EQ(m->FindFile(std::string("C:") + kEnglishLinkName)->shortcut->description,
            "old shortcut");
  EXPECT_EQ(m->Dialogs().size(), 2u + c.messages);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(Statuses, CommonProgramsUnavailableTest,
                         ::testing::Values(FolderCase{"Invalid", win::E_INVALIDARG, 1},
                                           FolderCase{"DoesNotExist", win::S_FALSE, 1},
                                           FolderCase{"Failure", win::E_FAIL, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- error-reporting exclusions ----------------------------------------------------------------

struct WerCase {
  const char* name;
  WindowsKind windows;
  bool excluded;
};

class ErrorReportingTest : public ::testing::TestWithParam<WerCase> {};

TEST_P(ErrorReportingTest, FiveProgramsForAllUsersAtLevel2Only) {
  MachineOptions options;
  options.windows = GetParam().windows;
  StandardMachine m(options);
  // wer.dll is left available at every level, so a call made too early would be seen.
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  std::vector<std::pair<Text, win::BOOL>> expected;
  if (GetParam().excluded)
    for (const char16_t* p :
         {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe", u"QVSync.exe", u"QVThumbs.exe"})
      expected.emplace_back(p, 1);
  EXPECT_EQ(m->WerExclusions(), expected);
  EXPECT_EQ(CountCalls(m->kernel(), "WerAddExcludedApplication"), expected.size());
}

INSTANTIATE_TEST_SUITE_P(Situations, ErrorReportingTest,
                         ::testing::Values(WerCase{"Win2000", kWindows2000, false},
                                           WerCase{"XP", kWindowsXp, false},
                                           WerCase{"Win7x86", kWindows7x86, true},
                                           WerCase{"Win7x64", kWindows7x64, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorReporting, FailingExclusionsLetTheRunGoOn) {
  StandardMachine m;
  m->kernel().AddFault({"WerAddExcludedApplication", 0, 0});
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(CountCalls(m->kernel(), "WerAddExcludedApplication"), 5u);
  EXPECT_EQ(m->FindFile(m.shortcutPath(true))->shortcut->description,
            "Syncs two Quorvia data files.");
}

}  // namespace
}  // namespace qv
