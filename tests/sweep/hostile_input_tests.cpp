// Whole runs on machines whose product data is damaged or hostile: odd install folders, a
// product key the updater may not read, broken version data of QVApp.exe, odd things where the
// shortcut should be. Each run must not crash, must release everything and must end the way
// the run's rules say for that input.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/ansi_text.h"
#include "sweep/sweep_checks.h"
#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv::sweep {
namespace {

using test::MachineOptions;
using test::StandardMachine;

const std::string kHostileFolder = test::kUpdaterFolder;

// A download folder with programs that must never run.
void PlantPrograms(sim::SimMachine& m) {
  for (const char* name : {"msiexec.exe", "QVInit.exe", "QVSync.exe", "QVApp.exe"})
    m.AddExecutable(kHostileFolder + name, sim::FileVersion{6, 6, 6, 6});
  m.AddExecutable("C:\\Program.exe", sim::FileVersion{6, 6, 6, 6});
}

void ExpectSoundEnd(StandardMachine& m, const std::string& where, bool english) {
  ExpectEverythingReleased(m.machine(), where);
  ExpectOnlyUpdatePlacesWritten(m.machine(), where);
  ExpectOnlyShortcutFilesTouched(m.machine(), m.shortcutPath(english), where);
  ExpectOnlyOwnProgramsStarted(m.machine(), m.installFolder(), where);
}

std::optional<sim::RegValue> StartupEntry(StandardMachine& m) {
  return m->registry().GetValue(
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
      "QuorviaStartupInit");
}

// --- the install folder --------------------------------------------------------------------------

std::string LongFolder() {
  std::string folder = "C:\\Quorvia";
  while (folder.size() < 300) folder += "\\Sehr langer Ordnername fuer Quorvia";
  return folder + "\\";
}

struct AppPathCase {
  const char* name;
  std::string appPath;    // AppPath as stored: ANSI bytes (code page 1252), without the terminator
  bool productThere;      // the product's files lie in that folder
  RunOutcome outcome;
  win::DWORD startupType; // the type the start-up entry is stored with
  // The same folder as the files and the wide calls name it, in UTF-8; empty: as appPath
  // (plain ASCII).
  std::string folder = {};

  const std::string& Folder() const { return folder.empty() ? appPath : folder; }
};

const AppPathCase kAppPathCases[] = {
    // Files addressed by bare names: QVApp.exe is found nowhere, so the version never changes.
    {"Empty", "", false, RunOutcome::VersionUnchanged, win::REG_SZ},
    // "...Quorvia 3QVApp.exe" names no file.
    {"WithoutTrailingBackslash", "C:\\Program Files (x86)\\Quorvia 3", false,
     RunOutcome::VersionUnchanged, win::REG_SZ},
    // Two percent signs with something between them: the start-up command is an expandable
    // string, as the write rules make any such text.
    {"PercentSigns", "C:\\Apps\\%Quorvia%\\", true, RunOutcome::Updated, win::REG_EXPAND_SZ},
    {"SinglePercentSign", "C:\\Apps\\100% Quorvia\\", true, RunOutcome::Updated, win::REG_SZ},
    {"AdjacentPercentSigns", "C:\\Apps\\%%Quorvia\\", true, RunOutcome::Updated, win::REG_SZ},
    {"LongerThanMaxPath", LongFolder(), true, RunOutcome::Updated, win::REG_SZ},
    // A folder with Cyrillic letters read through the ANSI registry function: each letter the
    // code page lacks arrives as "?", which names no file.
    {"CharactersTheCodePageLacks", "C:\\?????????\\Quorvia 3\\", false,
     RunOutcome::VersionUnchanged, win::REG_SZ},
    // Bytes the code page leaves undefined survive the round trip to text and back: Windows
    // reads them as the C1 controls of the same number (U+0081, U+008D, ...), and the wide calls
    // name the folder with those characters.
    {"UndefinedCodePageBytes", "C:\\Apps\\\x81\x8D\x8F\x90\x9D\\", true, RunOutcome::Updated,
     win::REG_SZ, "C:\\Apps\\\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\\"},
    // Latin letters of code page 1252: "ü" is the byte 0xFC in the registry, two bytes of UTF-8
    // in the file names.
    {"LettersOfTheCodePage", "C:\\Programme\\Quorvia f\xFCr Sie\\", true, RunOutcome::Updated,
     win::REG_SZ, "C:\\Programme\\Quorvia f\xC3\xBCr Sie\\"},
};

void PrintTo(const AppPathCase& c, std::ostream* os) { *os << c.name; }

class HostileAppPath : public ::testing::TestWithParam<AppPathCase> {};

TEST_P(HostileAppPath, RunEndsAsTheFolderAllows) {
  const AppPathCase& c = GetParam();
  MachineOptions options;
  if (c.productThere) options.installFolder = c.Folder();
  StandardMachine m(options);
  if (!c.productThere)
    m->registry().SetValue(test::ProductKeyPath(64), "AppPath", test::RegSz(c.appPath));
  PlantPrograms(m.machine());

  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  ASSERT_FALSE(e.error.has_value()) << TextToUtf8(e.error->description());
  ASSERT_TRUE(e.outcome.has_value());
  EXPECT_EQ(*e.outcome, c.outcome);
  // No program is ever taken from the download folder, whatever the install folder holds.
  ExpectSoundEnd(m, c.name, true);

  // The start-up entry holds the folder exactly as read, with the type the text calls for.
  const std::optional<sim::RegValue> startup = StartupEntry(m);
  ASSERT_TRUE(startup.has_value());
  EXPECT_EQ(startup->type, c.startupType);
  sim::RegValue expected = test::RegSz("\"" + c.appPath + "QVGet.exe\" /StartupCheck");
  expected.type = c.startupType;
  EXPECT_EQ(startup->data, expected.data);

  // The report is shown exactly when the version changed.
  EXPECT_EQ(m->Dialogs().size(), c.outcome == RunOutcome::Updated ? 2u : 1u);
  // The shortcut is renewed towards QVSync.exe in the folder as read.
  const sim::SimFile* link = m->FindFile(m.shortcutPath(true));
  ASSERT_NE(link, nullptr);
  ASSERT_TRUE(link->shortcut.has_value());
  EXPECT_EQ(link->shortcut->target, c.Folder() + "QVSync.exe");
}

INSTANTIATE_TEST_SUITE_P(Folders, HostileAppPath, ::testing::ValuesIn(kAppPathCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An AppPath with a zero byte inside: the text read keeps it, and every call then sees the path
// only up to it (the wide functions take terminated strings as the ANSI ones do). Here the part before names a program outside the install folder, which
// must not be started.
TEST(HostileAppPathZero, ProgramBeforeTheZeroIsNotStarted) {
  StandardMachine m;
  PlantPrograms(m.machine());
  const std::string planted = kHostileFolder + "tool.exe";
  m->AddExecutable(planted, sim::FileVersion{1, 0, 0, 0});
  m->registry().SetValue(test::ProductKeyPath(64), "AppPath",
                         test::RegSz(planted + std::string(1, '\0') + "\\"));
  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  ASSERT_TRUE(e.outcome.has_value());
  ExpectEverythingReleased(m.machine(), "zero in AppPath");
  for (const sim::ProcessRecord& p : m->Processes())
    EXPECT_FALSE(p.started && sweep::Fold(p.imagePath) == sweep::Fold(planted))
        << "started " << p.imagePath;
  // Nor does the renewed Start-menu shortcut lead to it.
  const sim::SimFile* link = m->FindFile(m.shortcutPath(true));
  ASSERT_NE(link, nullptr);
  ASSERT_TRUE(link->shortcut.has_value());
  EXPECT_NE(sweep::Fold(link->shortcut->target), sweep::Fold(planted));
  EXPECT_NE(sweep::Fold(link->shortcut->iconPath), sweep::Fold(planted));
}

// An empty install folder must not lead to QVInit.exe being taken from the current (download)
// folder.
TEST(HostileAppPathEmpty, NoProgramIsTakenFromTheDownloadFolder) {
  StandardMachine m;
  m->registry().SetValue(test::ProductKeyPath(64), "AppPath", test::RegSz(""));
  PlantPrograms(m.machine());
  RunGuarded(m, u"/en");
  ExpectOnlyOwnProgramsStarted(m.machine(), m.installFolder(), "empty AppPath");
}

// --- the product key ---------------------------------------------------------------------------

struct KeyCase {
  const char* name;
  bool denyRead, denyWrite;
  RunOutcome outcome;
};

const KeyCase kKeyCases[] = {
    {"Unreadable", true, false, RunOutcome::NotInstalled},
    {"UnreadableAndUnwritable", true, true, RunOutcome::NotInstalled},
    {"OnlyUnwritable", false, true, RunOutcome::Updated},
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class HostileProductKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(HostileProductKey, AnUnreadableKeyMeansNotInstalled) {
  const KeyCase& c = GetParam();
  StandardMachine m;
  m->registry().DenyAccess(test::ProductKeyPath(64), c.denyRead, c.denyWrite);
  PlantPrograms(m.machine());
  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  ASSERT_TRUE(e.outcome.has_value());
  EXPECT_EQ(*e.outcome, c.outcome);
  ExpectSoundEnd(m, c.name, true);
  if (c.outcome == RunOutcome::NotInstalled) {
    ASSERT_EQ(m->Dialogs().size(), 1u);
    EXPECT_EQ(m->Dialogs()[0].type, win::MB_OK | win::MB_ICONERROR);
    EXPECT_TRUE(m->registry().Changes().empty());
    EXPECT_TRUE(m->Processes().empty());
    EXPECT_TRUE(m->FileLog().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, HostileProductKey, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- version data of QVApp.exe -----------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

Bytes Valid(win::WORD d) { return sim::MakeVersionData(sim::FileVersion{3, 10, 0, d}); }
Bytes Truncated(std::size_t n) {
  Bytes b = Valid(68);
  b.resize(std::min(n, b.size()));
  return b;
}
Bytes WithWord(std::size_t offset, win::WORD value) {
  Bytes b = Valid(68);
  b[offset] = static_cast<std::uint8_t>(value & 0xFF);
  b[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  return b;
}
Bytes Noise(std::size_t n) {
  Bytes b(n);
  std::uint32_t x = 0x12345678u;
  for (auto& byte : b) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

struct VersionCase {
  const char* name;
  Bytes data;
};

// The root block: wLength at 0, wValueLength at 2, wType at 4, the key from 6, the fixed record
// from 40.
const VersionCase kVersionCases[] = {
    {"Empty", {}},
    {"OneByte", Truncated(1)},
    {"HeaderOnly", Truncated(6)},
    {"CutInTheKey", Truncated(20)},
    {"CutInTheRecord", Truncated(60)},
    {"CutBeforeTheEnd", Truncated(Valid(68).size() - 1)},
    {"LengthLargerThanTheData", WithWord(0, 0xFFFF)},
    {"LengthShorterThanTheHeader", WithWord(0, 4)},
    {"RecordOfLengthZero", WithWord(2, 0)},
    {"RecordOfEightBytes", WithWord(2, 8)},
    {"RecordLongerThanTheBlock", WithWord(2, 0xFFF0)},
    {"TextType", WithWord(4, 1)},
    {"UnknownType", WithWord(4, 7)},
    {"WrongKey", WithWord(6, 'X')},
    {"Noise", Noise(400)},
};

struct VersionWhen {
  const char* name;
  bool before;  // the broken data is there before the update (else the installer leaves it)
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const VersionWhen& w, std::ostream* os) { *os << w.name; }

class HostileVersionData
    : public ::testing::TestWithParam<std::tuple<VersionCase, VersionWhen>> {};

TEST_P(HostileVersionData, BrokenDataNeverMakesAChangeAppear) {
  const VersionCase& c = std::get<0>(GetParam());
  const VersionWhen& when = std::get<1>(GetParam());
  StandardMachine m;
  PlantPrograms(m.machine());
  const std::string app = m.appExe();
  sim::SimFile broken;
  broken.versionData = c.data;
  if (when.before) {
    m->AddFile(app, broken);  // the installer then writes 3.10.0.69
  } else {
    m->OnProcessStart(test::kMsiexecPath, [app, broken](sim::SimMachine& target,
                                                        const sim::ProcessRecord&) {
      target.AddFile(app, broken);
    });
  }
  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  ASSERT_TRUE(e.outcome.has_value());
  // Unreadable before: the mark is 0 and the new version 69 differs. Unreadable after: the
  // record keeps the first read, so nothing is reported.
  EXPECT_EQ(*e.outcome, when.before ? RunOutcome::Updated : RunOutcome::VersionUnchanged);
  EXPECT_EQ(m->Dialogs().size(), when.before ? 2u : 1u);
  ExpectSoundEnd(m, c.name, true);
}

INSTANTIATE_TEST_SUITE_P(
    Data, HostileVersionData,
    ::testing::Combine(::testing::ValuesIn(kVersionCases),
                       ::testing::Values(VersionWhen{"Before", true}, VersionWhen{"After", false})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// --- the shortcut's place ------------------------------------------------------------------------

enum class Thing { Ordinary, Folder, Hidden, ReadOnly, System };

struct ShortcutPlaceCase {
  const char* name;
  Thing atShortcut;            // what lies at the shortcut's path
  std::optional<Thing> atTemp; // what lies at its temporary twin
  bool raises;                 // the run ends with the file access error
  bool renewed;                // the shortcut is a new one afterwards
};

const ShortcutPlaceCase kShortcutCases[] = {
    {"Folder", Thing::Folder, std::nullopt, false, false},
    {"Hidden", Thing::Hidden, std::nullopt, false, false},
    {"System", Thing::System, std::nullopt, false, false},
    {"ReadOnly", Thing::ReadOnly, std::nullopt, true, false},
    {"Ordinary", Thing::Ordinary, std::nullopt, false, true},
    {"StaleTwinIsReplaced", Thing::Ordinary, Thing::Ordinary, false, true},
    {"TwinIsAFolder", Thing::Ordinary, Thing::Folder, false, false},
    {"TwinIsReadOnly", Thing::Ordinary, Thing::ReadOnly, false, false},
};

void PlaceThing(sim::SimMachine& m, const std::string& path, Thing thing) {
  m.RemoveFile(path);
  if (thing == Thing::Folder) {
    m.AddFolder(path);
    return;
  }
  sim::SimFile f;
  f.shortcut = StandardMachine::OldShortcut("C:\\old\\QVSync.exe");
  switch (thing) {
    case Thing::Hidden: f.attributes |= win::FILE_ATTRIBUTE_HIDDEN; break;
    case Thing::ReadOnly: f.attributes |= win::FILE_ATTRIBUTE_READONLY; break;
    case Thing::System: f.attributes |= win::FILE_ATTRIBUTE_SYSTEM; break;
    default: break;
  }
  m.AddFile(path, f);
}

void PrintTo(const ShortcutPlaceCase& c, std::ostream* os) { *os << c.name; }

class HostileShortcutPlace : public ::testing::TestWithParam<ShortcutPlaceCase> {};

TEST_P(HostileShortcutPlace, OnlyAnOrdinaryShortcutIsReplaced) {
  const ShortcutPlaceCase& c = GetParam();
  StandardMachine m;
  PlantPrograms(m.machine());
  const std::string path = m.shortcutPath(true);
  PlaceThing(m.machine(), path, c.atShortcut);
  if (c.atTemp) PlaceThing(m.machine(), path + ".new", *c.atTemp);

  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  if (c.raises) {
    ASSERT_TRUE(e.error.has_value());
    EXPECT_EQ(e.error->number(), 75);
    EXPECT_EQ(m->Dialogs().size(), 1u);  // the prompt only: no report after the error
  } else {
    ASSERT_FALSE(e.error.has_value()) << TextToUtf8(e.error->description());
    EXPECT_EQ(e.outcome, RunOutcome::Updated);
  }
  ExpectSoundEnd(m, c.name, true);
  if (c.atShortcut == Thing::Folder) {
    EXPECT_TRUE(m->FolderExists(path));
  } else {
    const sim::SimFile* f = m->FindFile(path);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->shortcut.has_value());
    EXPECT_EQ(f->shortcut->description == "old shortcut", !c.renewed);
  }
  if (c.atTemp == Thing::Folder) {
    EXPECT_TRUE(m->FolderExists(path + ".new"));
  }
}

INSTANTIATE_TEST_SUITE_P(Places, HostileShortcutPlace, ::testing::ValuesIn(kShortcutCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- an install folder the code page cannot read ----------------------------------------------

struct UnreadableAppPathCase {
  const char* name;
  win::UINT codePage;
  std::string appPath;  // AppPath as stored: bytes that are no text in that code page
};

void PrintTo(const UnreadableAppPathCase& c, std::ostream* os) { *os << c.name; }

class UnreadableAppPath : public ::testing::TestWithParam<UnreadableAppPathCase> {};

// Bytes Windows would read as replacement characters name no folder the user has: the run ends
// with the lossy-text error right after the installation check, before the prompt, before any
// program starts and before anything is written.
TEST_P(UnreadableAppPath, EndsTheRunBeforeAnythingChanges) {
  const UnreadableAppPathCase& c = GetParam();
  MachineOptions options;
  options.codePage = c.codePage;
  StandardMachine m(options);
  PlantPrograms(m.machine());
  m->registry().SetValue(test::ProductKeyPath(64), "AppPath", test::RegSz(c.appPath));
  m->registry().ClearChanges();
  const Ending e = RunGuarded(m, u"/en");
  ASSERT_TRUE(e.crash.empty()) << e.crash;
  ASSERT_TRUE(e.error.has_value());
  EXPECT_EQ(e.error->number(), qv::kErrAnsiText);
  EXPECT_EQ(e.error->source(), u"QV3Update.cRegistry");
  EXPECT_TRUE(m->Dialogs().empty());
  EXPECT_TRUE(m->Processes().empty());
  EXPECT_TRUE(m->registry().Changes().empty());
  EXPECT_TRUE(m->FileLog().empty());
  ExpectEverythingReleased(m.machine(), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, UnreadableAppPath,
    ::testing::Values(UnreadableAppPathCase{"Utf8Overlong", 65001, "C:\\\xC1\x9C..\\"},
                      UnreadableAppPathCase{"Utf8EncodedSurrogate", 65001, "C:\\\xED\xA0\x80\\"},
                      UnreadableAppPathCase{"Utf8Truncated", 65001, "C:\\Apps\\\xE2\x82"},
                      UnreadableAppPathCase{"ShiftJisLeadByteAtTheEnd", 932, "C:\\Apps\\\x83"},
                      UnreadableAppPathCase{"ShiftJisBadTrailByte", 932, "C:\\\x81\x20\\"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::sweep
