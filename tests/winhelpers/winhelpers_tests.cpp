// The Windows helpers over the simulated machine: Windows level and its cache, special folders,
// version records, the communicator window, foreground activation, the icon-carrier form and
// MakeResourceId.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "platform/sim/sim_machine.h"
#include "winhelpers/frmForIconDummy.h"
#include "winhelpers/modTaskDialog.h"
#include "winhelpers/sim_calls.h"
#include "winhelpers/winhelpers.h"

namespace qv {
namespace {

using test::CountCalls;

// --- MakeResourceId ------------------------------------------------------------------------

struct ResourceIdCase {
  std::int32_t in;
  std::uint32_t out;
};

class MakeResourceIdTest : public ::testing::TestWithParam<ResourceIdCase> {};

TEST_P(MakeResourceIdTest, KeepsTheLow16BitsOnly) {
  EXPECT_EQ(MakeResourceId(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Values, MakeResourceIdTest,
                         ::testing::Values(ResourceIdCase{-1, 0xFFFFu},  // TD_WARNING_ICON
                                           ResourceIdCase{-3, 0xFFFDu},  // TD_INFORMATION_ICON
                                           ResourceIdCase{65535, 0xFFFFu},
                                           ResourceIdCase{0x12345, 0x2345u}, ResourceIdCase{0, 0u},
                                           ResourceIdCase{1, 1u}, ResourceIdCase{-65536, 0u},
                                           ResourceIdCase{INT_MIN, 0u}));

// --- GetWindowsLevel -----------------------------------------------------------------------

struct LevelCase {
  const char* name;
  win::DWORD major, minor;
  bool queryFails;
  std::int32_t level;
  std::size_t queriesForThreeCalls;
};

class GetWindowsLevelTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(GetWindowsLevelTest, LevelAndCache) {
  const LevelCase& c = GetParam();
  sim::MachineConfig config;
  config.major = c.major;
  config.minor = c.minor;
  config.versionQueryFails = c.queryFails;
  config.windowsBits = 32;
  sim::SimMachine machine(config);
  WindowsLevel cache;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(GetWindowsLevel(machine.platform().system, cache), c.level);
  EXPECT_EQ(CountCalls(machine.kernel(), "GetVersionExA"), c.queriesForThreeCalls);

  // A fresh cache (a new run) asks again.
  WindowsLevel fresh;
  machine.kernel().ClearCalls();
  EXPECT_EQ(GetWindowsLevel(machine.platform().system, fresh), c.level);
  EXPECT_EQ(CountCalls(machine.kernel(), "GetVersionExA"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, GetWindowsLevelTest,
    ::testing::Values(LevelCase{"NT4", 4, 0, false, 0, 3}, LevelCase{"Win98", 4, 10, false, 0, 3},
                      LevelCase{"Win2000", 5, 0, false, 0, 3}, LevelCase{"XP", 5, 1, false, 1, 1},
                      LevelCase{"XPx64", 5, 2, false, 1, 1}, LevelCase{"Vista", 6, 0, false, 2, 1},
                      LevelCase{"Win7", 6, 1, false, 2, 1}, LevelCase{"Win81", 6, 3, false, 2, 1},
                      LevelCase{"Win10", 10, 0, false, 2, 1},
                      LevelCase{"QueryFails", 6, 1, true, 0, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetWindowsLevel, AsksWithTheRecordSizeSet) {
  // A query that is not told the record's size fails on Windows; the simulated machine refuses
  // it as well, so a level of 2 here proves the size was given.
  sim::SimMachine machine;
  WindowsLevel cache;
  EXPECT_EQ(GetWindowsLevel(machine.platform().system, cache), 2);
  EXPECT_EQ(cache.iWindowsLevel, 2);
}

// --- GetSpecialFolder ----------------------------------------------------------------------

struct FolderCase {
  const char* name;
  std::optional<win::HRESULT> status;  // none: the folder exists at kPath
  std::int32_t folderId;
  const char16_t* result;
  const char16_t* message;  // nullptr: no message box
};

constexpr char kPath[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

class GetSpecialFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(GetSpecialFolderTest, ResultAndMessage) {
  const FolderCase& c = GetParam();
  sim::SimMachine machine;
  if (c.status)
    machine.SetSpecialFolderResult(c.folderId, *c.status);
  else
    machine.SetSpecialFolder(c.folderId, kPath);
  win::Platform platform = machine.platform();
  EXPECT_EQ(GetSpecialFolder(platform, c.folderId), Text(c.result));
  if (c.message == nullptr) {
    EXPECT_TRUE(machine.Dialogs().empty());
  } else {
    ASSERT_EQ(machine.Dialogs().size(), 1u);
    const sim::DialogRecord& d = machine.Dialogs()[0];
    EXPECT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
    EXPECT_EQ(d.text, Text(c.message));
    EXPECT_EQ(d.caption, u"QV3Update");
    EXPECT_EQ(d.type, 0u);  // OK only, no icon
    EXPECT_TRUE(win::IsNull(d.owner));
  }
  EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, GetSpecialFolderTest,
    ::testing::Values(
        FolderCase{"Exists", std::nullopt, 23,
                   u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs", nullptr},
        FolderCase{"InvalidId", win::E_INVALIDARG, 23, u"", u"An invalid folder ID was specified"},
        FolderCase{"DoesNotExist", win::S_FALSE, 23, u"",
                   u"The system folder with ID#23 does not exist or could not be retrieved."},
        FolderCase{"DoesNotExistOtherId", win::S_FALSE, 5, u"",
                   u"The system folder with ID#5 does not exist or could not be retrieved."},
        FolderCase{"OtherFailure", win::E_FAIL, 23, u"", nullptr},
        FolderCase{"AccessDenied", win::E_ACCESSDENIED, 23, u"", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetSpecialFolder, AsksForTheFolderToBeCreated) {
  // The folder is registered but missing on disk: only CSIDL_FLAG_CREATE makes it exist.
  sim::SimMachine machine;
  machine.SetSpecialFolder(23, "C:\\Shared Start\\Programs");
  win::Platform platform = machine.platform();
  EXPECT_EQ(GetSpecialFolder(platform, 23), u"C:\\Shared Start\\Programs");
  EXPECT_TRUE(machine.FolderExists("C:\\Shared Start\\Programs"));
}

TEST(GetSpecialFolder, NamesTheFolderOutsideTheAnsiCodePage) {
  // "C:\Wspólne Меню\Programy": Polish and Russian letters; code page 1252 lacks the Russian.
  sim::SimMachine machine;
  machine.SetSpecialFolder(23, "C:\\Wsp\xc3\xb3lne \xd0\x9c\xd0\xb5\xd0\xbd\xd1\x8e\\Programy");
  win::Platform platform = machine.platform();
  EXPECT_EQ(GetSpecialFolder(platform, 23), u"C:\\Wsp\u00f3lne \u041c\u0435\u043d\u044e\\Programy");
  EXPECT_TRUE(machine.Dialogs().empty());
}

// --- GetFileVersionInfoBlock ---------------------------------------------------------------

struct VersionCase {
  const char* name;
  bool fileExists;
  std::optional<sim::FileVersion> version;
  const char* failingCall;  // a call made to fail, or nullptr
  bool filled;
};

class GetFileVersionInfoBlockTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(GetFileVersionInfoBlockTest, FillsOnlyOnSuccess) {
  const VersionCase& c = GetParam();
  sim::SimMachine machine;
  const std::string path = "C:\\Program Files\\Quorvia 3\\QVApp.exe";
  if (c.fileExists) machine.AddExecutable(path, c.version);
  if (c.failingCall) machine.kernel().AddFault({c.failingCall, 1, 0});

  win::VS_FIXEDFILEINFO record;
  std::memset(&record, 0xA5, sizeof record);  // what the caller held before
  win::VS_FIXEDFILEINFO before = record;
  win::Platform platform = machine.platform();
  const bool ok =
      GetFileVersionInfoBlock(platform, u"C:\\Program Files\\Quorvia 3\\QVApp.exe", record);
  EXPECT_EQ(ok, c.filled);
  if (c.filled) {
    EXPECT_EQ(record.dwSignature, win::VS_FFI_SIGNATURE);
    EXPECT_EQ(record.dwFileVersionMS, (static_cast<win::DWORD>(c.version->a) << 16) | c.version->b);
    EXPECT_EQ(record.dwFileVersionLS, (static_cast<win::DWORD>(c.version->c) << 16) | c.version->d);
  } else {
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, GetFileVersionInfoBlockTest,
    ::testing::Values(
        VersionCase{"Version3_10_0_68", true, sim::FileVersion{3, 10, 0, 68}, nullptr, true},
        VersionCase{"Version1_2_3_65535", true, sim::FileVersion{1, 2, 3, 65535}, nullptr, true},
        VersionCase{"Missing", false, std::nullopt, nullptr, false},
        VersionCase{"NoVersionData", true, std::nullopt, nullptr, false},
        VersionCase{"SizeQueryFails", true, sim::FileVersion{3, 10, 0, 68},
                    "GetFileVersionInfoSizeW", false},
        VersionCase{"ReadFails", true, sim::FileVersion{3, 10, 0, 68}, "GetFileVersionInfoW",
                    false},
        VersionCase{"RootBlockMissing", true, sim::FileVersion{3, 10, 0, 68}, "VerQueryValueW",
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetFileVersionInfoBlock, ReadsAFileNamedOutsideTheAnsiCodePage) {
  sim::SimMachine machine;
  // "C:\Программы\QVApp.exe" beside "C:\?????????\QVApp.exe", what an ANSI reading would name.
  machine.AddExecutable("C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd1\x8b\\QVApp.exe",
                        sim::FileVersion{3, 10, 0, 68});
  machine.AddExecutable("C:\\?????????\\QVApp.exe", sim::FileVersion{1, 0, 0, 0});
  win::VS_FIXEDFILEINFO record{};
  win::Platform platform = machine.platform();
  ASSERT_TRUE(GetFileVersionInfoBlock(
      platform, u"C:\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\QVApp.exe", record));
  EXPECT_EQ(record.dwFileVersionMS, 0x0003000Au);
  EXPECT_EQ(record.dwFileVersionLS, 0x00000044u);
}

TEST(GetFileVersionInfoBlock, Version3_10_0_68GivesTheDocumentedWords) {
  sim::SimMachine machine;
  machine.AddExecutable("C:\\Q\\QVApp.exe", sim::FileVersion{3, 10, 0, 68});
  win::VS_FIXEDFILEINFO record{};
  win::Platform platform = machine.platform();
  ASSERT_TRUE(GetFileVersionInfoBlock(platform, u"C:\\Q\\QVApp.exe", record));
  EXPECT_EQ(record.dwFileVersionMS, 0x0003000Au);
  EXPECT_EQ(record.dwFileVersionLS, 0x00000044u);
}

// --- IsOrdinaryFile ------------------------------------------------------------------------

struct AttributeCase {
  const char* name;
  std::optional<win::DWORD> attributes;  // none: nothing there; DIRECTORY: a folder
  bool ordinary;
};

class IsOrdinaryFileTest : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(IsOrdinaryFileTest, OnlyPlainFilesCount) {
  const AttributeCase& c = GetParam();
  sim::SimMachine machine;
  const std::string path = "C:\\Start\\Quorvia 3\\Synchronizing.lnk";
  machine.AddFolder("C:\\Start\\Quorvia 3");
  if (c.attributes) {
    if (*c.attributes & win::FILE_ATTRIBUTE_DIRECTORY) {
      machine.AddFolder(path);
    } else {
      sim::SimFile file;
      file.attributes = *c.attributes;
      machine.AddFile(path, file);
    }
  }
  win::Platform platform = machine.platform();
  EXPECT_EQ(IsOrdinaryFile(platform, u"C:\\Start\\Quorvia 3\\Synchronizing.lnk"), c.ordinary);
}

TEST(IsOrdinaryFile, NamesOutsideTheAnsiCodePage) {
  sim::SimMachine machine;
  // "C:\Start\Квартал\Sync.lnk" is there; "C:\Start\Квартал\Sуnc.lnk" (Cyrillic "у") is not.
  machine.AddFile("C:\\Start\\\xd0\x9a\xd0\xb2\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0\xd0\xbb\\Sync.lnk");
  win::Platform platform = machine.platform();
  EXPECT_TRUE(IsOrdinaryFile(platform, u"C:\\Start\\\u041a\u0432\u0430\u0440\u0442\u0430\u043b\\Sync.lnk"));
  EXPECT_FALSE(
      IsOrdinaryFile(platform, u"C:\\Start\\\u041a\u0432\u0430\u0440\u0442\u0430\u043b\\S\u0443nc.lnk"));
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, IsOrdinaryFileTest,
    ::testing::Values(AttributeCase{"Archive", win::FILE_ATTRIBUTE_ARCHIVE, true},
                      AttributeCase{"Normal", win::FILE_ATTRIBUTE_NORMAL, true},
                      AttributeCase{"ReadOnly", win::FILE_ATTRIBUTE_READONLY, true},
                      AttributeCase{"Hidden", win::FILE_ATTRIBUTE_HIDDEN, false},
                      AttributeCase{"System", win::FILE_ATTRIBUTE_SYSTEM, false},
                      AttributeCase{"HiddenSystem",
                                    win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM, false},
                      AttributeCase{"Folder", win::FILE_ATTRIBUTE_DIRECTORY, false},
                      AttributeCase{"Missing", std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- FindCommunicatorWindow ----------------------------------------------------------------

struct FormSpec {
  const char* formClass;
  const char* caption;
  const char* childClass;  // nullptr: no child
  bool visible;
};

struct CommunicatorCase {
  const char* name;
  std::vector<FormSpec> forms;
  int expectedForm;  // index into forms whose child is the result; -1: none
};

class FindCommunicatorWindowTest : public ::testing::TestWithParam<CommunicatorCase> {};

TEST_P(FindCommunicatorWindowTest, FindsTheTextBoxOfTheRightForm) {
  const CommunicatorCase& c = GetParam();
  sim::SimMachine machine;
  std::vector<win::HWND> children;
  for (const FormSpec& f : c.forms) {
    sim::SimWindow form;
    form.className = f.formClass;
    form.caption = f.caption;
    form.threadId = 5004;
    form.visible = f.visible;
    const win::HWND hForm = machine.AddWindow(form);
    win::HWND hChild{};
    if (f.childClass) {
      sim::SimWindow child;
      child.parent = hForm;
      child.className = f.childClass;
      child.caption = "some text";
      child.threadId = 5004;
      hChild = machine.AddWindow(child);
    }
    children.push_back(hChild);
  }
  win::Platform platform = machine.platform();
  const win::HWND found = FindCommunicatorWindow(platform, u"QVShellCommunicator2006");
  if (c.expectedForm < 0) {
    EXPECT_TRUE(win::IsNull(found));
  } else {
    EXPECT_FALSE(win::IsNull(found));
    EXPECT_EQ(found, children[static_cast<std::size_t>(c.expectedForm)]);
  }
}

constexpr char kCaption[] = "QVShellCommunicator2006";

INSTANTIATE_TEST_SUITE_P(
    Windows, FindCommunicatorWindowTest,
    ::testing::Values(
        CommunicatorCase{
            "Rt6FormWithTextBox", {{"ThunderRT6FormDC", kCaption, "ThunderRT6TextBox", true}}, 0},
        CommunicatorCase{
            "HiddenRt6Form", {{"ThunderRT6FormDC", kCaption, "ThunderRT6TextBox", false}}, 0},
        CommunicatorCase{"NoWindow", {}, -1},
        CommunicatorCase{"Rt6FormWithoutTextBoxHidesOlderForm",
                         {{"ThunderRT6FormDC", kCaption, nullptr, true},
                          {"ThunderFormDC", kCaption, "ThunderTextBox", true}},
                         -1},
        CommunicatorCase{"Rt6FormWithOlderTextBoxClass",
                         {{"ThunderRT6FormDC", kCaption, "ThunderTextBox", true}},
                         -1},
        CommunicatorCase{
            "OlderFormWithTextBox", {{"ThunderFormDC", kCaption, "ThunderTextBox", true}}, 0},
        CommunicatorCase{
            "OlderFormWithoutTextBox", {{"ThunderFormDC", kCaption, nullptr, true}}, -1},
        CommunicatorCase{
            "OtherClassSameCaption", {{"#32770", kCaption, "ThunderRT6TextBox", true}}, -1},
        CommunicatorCase{"OtherCaption",
                         {{"ThunderRT6FormDC", "QVShellCommunicator", "ThunderRT6TextBox", true}},
                         -1},
        CommunicatorCase{"RightFormAfterAnotherOne",
                         {{"ThunderRT6FormDC", "Quorvia", "ThunderRT6TextBox", true},
                          {"ThunderRT6FormDC", kCaption, "ThunderRT6TextBox", true}},
                         1}),
    [](const auto& info) { return std::string(info.param.name); });

// A caption that the ANSI code page cannot carry unchanged is not looked for: its ANSI form
// (best fit or "?") would name another window.
TEST(FindCommunicatorWindow, CaptionTheCodePageCannotCarryFindsNothing) {
  struct Lossy {
    const char16_t* wanted;
    const char* ansiForm;  // the caption of the window its ANSI form would find
  };
  const Lossy cases[] = {{u"QVShellCommunicator\uff02", "QVShellCommunicator\""},  // best fit
                         {u"QVShellCommunicator\u0416", "QVShellCommunicator?"}};
  for (const Lossy& c : cases) {
    SCOPED_TRACE(c.ansiForm);
    sim::SimMachine machine;
    sim::SimWindow form;
    form.className = "ThunderRT6FormDC";
    form.caption = c.ansiForm;
    const win::HWND hForm = machine.AddWindow(form);
    sim::SimWindow child;
    child.parent = hForm;
    child.className = "ThunderRT6TextBox";
    machine.AddWindow(child);
    win::Platform platform = machine.platform();
    EXPECT_TRUE(win::IsNull(FindCommunicatorWindow(platform, c.wanted)));
    EXPECT_EQ(CountCalls(machine.kernel(), "FindWindowExA"), 0u);
    // The plain caption is still found on the same machine.
    form.caption = "QVShellCommunicator2006";
    const win::HWND hPlain = machine.AddWindow(form);
    child.parent = hPlain;
    const win::HWND hText = machine.AddWindow(child);
    EXPECT_EQ(FindCommunicatorWindow(platform, u"QVShellCommunicator2006"), hText);
  }
}

// --- ForceForeground -----------------------------------------------------------------------

struct ForegroundCase {
  const char* name;
  bool foregroundOfOtherThread;  // false: the window's own thread owns the foreground
  bool noForegroundWindow;
  std::vector<std::string> log;  // "{W}" stands for the window handle
};

class ForceForegroundTest : public ::testing::TestWithParam<ForegroundCase> {};

TEST_P(ForceForegroundTest, AttachesOnlyAcrossThreads) {
  const ForegroundCase& c = GetParam();
  sim::SimMachine machine;
  sim::SimWindow mine;
  mine.className = "ThunderRT6Main";
  mine.threadId = 4004;
  mine.processId = 4000;
  const win::HWND hMine = machine.AddWindow(mine);
  sim::SimWindow other;
  other.className = "CabinetWClass";
  other.threadId = 1204;
  other.processId = 1200;
  const win::HWND hOther = machine.AddWindow(other);
  sim::SimWindow sibling = mine;
  const win::HWND hSibling = machine.AddWindow(sibling);

  if (c.noForegroundWindow)
    machine.SetForegroundWindowOf(win::HWND{});
  else
    machine.SetForegroundWindowOf(c.foregroundOfOtherThread ? hOther : hSibling);

  ForceForeground(machine.platform().windows, hMine);

  const std::string w = std::to_string(win::HandleValue(hMine));
  std::vector<std::string> expected;
  for (std::string line : c.log) {
    const auto pos = line.find("{W}");
    if (pos != std::string::npos) line.replace(pos, 3, w);
    expected.push_back(line);
  }
  EXPECT_EQ(machine.ForegroundLog(), expected);
  EXPECT_EQ(machine.AttachedInputCount(), 0u);
  EXPECT_EQ(machine.ForegroundWindow(), hMine);
}

INSTANTIATE_TEST_SUITE_P(
    Threads, ForceForegroundTest,
    ::testing::Values(ForegroundCase{"SameThread", false, false, {"SetForegroundWindow({W})"}},
                      ForegroundCase{"OtherThread",
                                     true,
                                     false,
                                     {"AttachThreadInput(1204,4004,1)", "SetForegroundWindow({W})",
                                      "AttachThreadInput(1204,4004,0)"}},
                      ForegroundCase{"NoForegroundWindow",
                                     false,
                                     true,
                                     {"AttachThreadInput(0,4004,1)", "SetForegroundWindow({W})",
                                      "AttachThreadInput(0,4004,0)"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- frmForIconDummy -----------------------------------------------------------------------

TEST(frmForIconDummy, CreatesAHiddenFormWithTheIconAndDestroysItOnUnload) {
  sim::SimMachine machine;
  win::IWindows& windows = machine.platform().windows;
  {
    frmForIconDummy form(windows, machine.ModuleHandle());
    ASSERT_FALSE(win::IsNull(form.hWnd()));
    const sim::SimWindow* w = machine.FindSimWindow(form.hWnd());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->caption, "Form1");
    EXPECT_EQ(w->iconId, 1);
    EXPECT_FALSE(w->visible);
    EXPECT_TRUE(win::IsNull(w->parent));
    EXPECT_EQ(machine.OwnWindowCount(), 1u);
    form.Unload();
    EXPECT_EQ(machine.OwnWindowCount(), 0u);
    EXPECT_TRUE(win::IsNull(form.hWnd()));
  }
  EXPECT_EQ(machine.OwnWindowCount(), 0u);
  EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u);
}

TEST(frmForIconDummy, IsDestroyedWhenLeftWithoutUnload) {
  sim::SimMachine machine;
  {
    frmForIconDummy form(machine.platform().windows, machine.ModuleHandle());
    EXPECT_EQ(machine.OwnWindowCount(), 1u);
  }
  EXPECT_EQ(machine.OwnWindowCount(), 0u);
  EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qv
