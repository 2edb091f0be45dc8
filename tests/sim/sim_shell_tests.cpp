// COM, the shell link object, special folders and error-reporting exclusions on the simulated
// machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

#include "platform/handles.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ui_language.h"

namespace qv::sim {
namespace {

constexpr char kLink[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk";
constexpr char16_t kLinkW[] = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk";
constexpr char kFolder[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3";
constexpr char kTarget[] = "C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe";
constexpr char16_t kTargetW[] = u"C:\\Program Files (x86)\\Quorvia 3\\QVSync.exe";

TEST(Com, InitialisationIsCountedAndModeIsKept) {
  SimMachine m;
  auto& s = m.platform().shell;
  EXPECT_FALSE(m.ComInitialized());
  EXPECT_EQ(s.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_OK);
  EXPECT_EQ(s.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_FALSE);
  EXPECT_EQ(s.CoInitializeEx(nullptr, 0), static_cast<win::HRESULT>(0x80010106u));  // RPC_E_CHANGED_MODE
  s.CoUninitialize();
  EXPECT_TRUE(m.ComInitialized());
  s.CoUninitialize();
  EXPECT_FALSE(m.ComInitialized());
  s.CoUninitialize();  // one too many does no harm
  EXPECT_FALSE(m.ComInitialized());
}

TEST(ShellLink, NeedsComAndCountsReferences) {
  SimMachine m;
  auto& s = m.platform().shell;
  win::IShellLinkW* link = reinterpret_cast<win::IShellLinkW*>(0x1234);
  EXPECT_EQ(s.CoCreateShellLink(&link), win::CO_E_NOTINITIALIZED);
  EXPECT_EQ(link, nullptr);
  ASSERT_EQ(s.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_OK);
  ASSERT_EQ(s.CoCreateShellLink(&link), win::S_OK);
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::ComObject), 1u);
  win::IPersistFile* file = nullptr;
  ASSERT_EQ(link->QueryInterfacePersistFile(&file), win::S_OK);
  EXPECT_EQ(link->Release(), 1u);  // the IPersistFile reference keeps the object
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::ComObject), 1u);
  EXPECT_EQ(file->Release(), 0u);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  s.CoUninitialize();
}

TEST(ShellLink, ForgottenReferenceShowsAsOpenHandle) {
  SimMachine m;
  auto& s = m.platform().shell;
  s.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  win::IShellLinkW* link = nullptr;
  ASSERT_EQ(s.CoCreateShellLink(&link), win::S_OK);
  win::IPersistFile* file = nullptr;
  ASSERT_EQ(link->QueryInterfacePersistFile(&file), win::S_OK);
  link->Release();
  ASSERT_EQ(m.kernel().OpenHandles().size(), 1u);
  EXPECT_EQ(m.kernel().OpenHandles()[0].second.kind, HandleKind::ComObject);
}

// Writes a shortcut with the shell link object as the updater does; gives the Save result.
win::HRESULT WriteLink(SimMachine& m, const char16_t* path, const char16_t* target = kTargetW) {
  auto& s = m.platform().shell;
  win::ComRef<win::IShellLinkW> link;
  if (win::FAILED(s.CoCreateShellLink(link.put()))) return win::E_FAIL;
  win::ComRef<win::IPersistFile> file;
  if (win::FAILED(link->QueryInterfacePersistFile(file.put()))) return win::E_FAIL;
  link->SetPath(target);
  link->SetDescription(u"Syncs two Quorvia data files.");
  link->SetIconLocation(target, 0);
  link->SetShowCmd(win::SW_SHOWNORMAL);
  link->Resolve(win::HWND{}, win::SLR_UPDATE);
  return file->Save(path, win::FALSE);
}

struct SaveCase {
  const char* name;
  bool folderExists;
  bool existing;             // a file is there before
  win::DWORD existingAttributes;
  bool existingIsFolder;
  win::HRESULT expected;
  const char* logEntry;      // "" when nothing is written
};

class SaveRules : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveRules, WritesOnlyWhereWindowsWould) {
  const SaveCase& c = GetParam();
  SimMachine m;
  m.platform().shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  m.AddExecutable(kTarget, std::nullopt);
  if (c.folderExists) m.AddFolder(kFolder);
  if (c.existingIsFolder) m.AddFolder(kLink);
  if (c.existing) {
    SimFile old;
    old.attributes = c.existingAttributes;
    old.content = "old";
    m.AddFile(kLink, old);
  }
  EXPECT_EQ(WriteLink(m, kLinkW), c.expected);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  const SimFile* f = m.FindFile(kLink);
  if (*c.logEntry) {
    ASSERT_EQ(m.FileLog().size(), 1u);
    EXPECT_EQ(m.FileLog()[0], std::string(c.logEntry) + " " + kLink);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->shortcut.has_value());
    EXPECT_EQ(f->shortcut->target, kTarget);
    EXPECT_EQ(f->shortcut->description, "Syncs two Quorvia data files.");
    EXPECT_EQ(f->shortcut->iconPath, kTarget);
    EXPECT_EQ(f->shortcut->iconIndex, 0);
    EXPECT_EQ(f->shortcut->showCommand, 1);
    EXPECT_TRUE(f->shortcut->workingDirectory.empty());
    EXPECT_TRUE(f->shortcut->arguments.empty());
    EXPECT_TRUE(f->shortcut->resolved);
    EXPECT_EQ(f->attributes, win::FILE_ATTRIBUTE_ARCHIVE);
  } else {
    EXPECT_TRUE(m.FileLog().empty());
    if (c.existing) {
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->content, "old");
    } else if (!c.existingIsFolder) {
      EXPECT_EQ(f, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveRules,
    ::testing::Values(
        SaveCase{"New", true, false, 0, false, win::S_OK, "created"},
        SaveCase{"ReplacesOrdinaryFile", true, true, win::FILE_ATTRIBUTE_ARCHIVE, false, win::S_OK, "replaced"},
        SaveCase{"MissingFolder", false, false, 0, false, win::HRESULT_FROM_WIN32(win::ERROR_PATH_NOT_FOUND), ""},
        SaveCase{"ReadOnly", true, true, win::FILE_ATTRIBUTE_READONLY, false, win::E_ACCESSDENIED, ""},
        SaveCase{"Hidden", true, true, win::FILE_ATTRIBUTE_HIDDEN, false, win::E_ACCESSDENIED, ""},
        SaveCase{"System", true, true, win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_ARCHIVE, false, win::E_ACCESSDENIED, ""},
        SaveCase{"FolderOfThatName", true, false, 0, true, win::E_ACCESSDENIED, ""}),
    [](const ::testing::TestParamInfo<SaveCase>& i) { return std::string(i.param.name); });

// The wide setters keep every character: texts outside the ANSI code page arrive unchanged (in
// UTF-8 on the machine), in the shortcut and in the file log.
TEST(ShellLink, KeepsTextsOutsideTheAnsiCodePage) {
  SimMachine m;
  m.platform().shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  // "C:\Programy\Łódź\Синхр.exe" and a folder "C:\Menu\Zażółć".
  m.AddExecutable("C:\\Programy\\\xc5\x81\xc3\xb3" "d\xc5\xba\\\xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80.exe",
                  std::nullopt);
  m.AddFolder("C:\\Menu\\Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87");
  auto& s = m.platform().shell;
  win::ComRef<win::IShellLinkW> link;
  ASSERT_EQ(s.CoCreateShellLink(link.put()), win::S_OK);
  win::ComRef<win::IPersistFile> file;
  ASSERT_EQ(link->QueryInterfacePersistFile(file.put()), win::S_OK);
  const char16_t target[] = u"C:\\Programy\\\u0141\u00f3d\u017a\\\u0421\u0438\u043d\u0445\u0440.exe";
  EXPECT_EQ(link->SetPath(target), win::S_OK);
  EXPECT_EQ(link->SetWorkingDirectory(u"C:\\Programy\\\u0141\u00f3d\u017a"), win::S_OK);
  EXPECT_EQ(link->SetArguments(u"/\u2116 \u201equoted\u201c"), win::S_OK);
  EXPECT_EQ(link->SetDescription(u"Synchronisiert \u00fcber \u20ac \u0142"), win::S_OK);
  EXPECT_EQ(link->SetIconLocation(target, 2), win::S_OK);
  EXPECT_EQ(link->Resolve(win::HWND{}, win::SLR_UPDATE), win::S_OK);  // the target is found
  EXPECT_EQ(file->Save(u"C:\\Menu\\ZA\u017b\u00d3\u0141\u0106\\Synchr.lnk", win::FALSE), win::S_OK);
  const std::string savedAs = "C:\\Menu\\ZA\xc5\xbb\xc3\x93\xc5\x81\xc4\x86\\Synchr.lnk";
  EXPECT_EQ(m.FileLog(), std::vector<std::string>{"created " + savedAs});
  const SimFile* f = m.FindFile("C:\\Menu\\Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\\synchr.LNK");
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->shortcut.has_value());
  const std::string targetUtf8 =
      "C:\\Programy\\\xc5\x81\xc3\xb3" "d\xc5\xba\\\xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80.exe";
  EXPECT_EQ(f->shortcut->target, targetUtf8);
  EXPECT_EQ(f->shortcut->workingDirectory, "C:\\Programy\\\xc5\x81\xc3\xb3" "d\xc5\xba");
  EXPECT_EQ(f->shortcut->arguments, "/\xe2\x84\x96 \xe2\x80\x9equoted\xe2\x80\x9c");
  EXPECT_EQ(f->shortcut->description, "Synchronisiert \xc3\xbc" "ber \xe2\x82\xac \xc5\x82");
  EXPECT_EQ(f->shortcut->iconPath, targetUtf8);
  EXPECT_EQ(f->shortcut->iconIndex, 2);
  // The call log names the wide methods and shows the texts in UTF-8.
  bool sawSetPath = false;
  for (const auto& call : m.kernel().Calls()) {
    if (call.function == "IShellLinkW::SetPath") {
      EXPECT_EQ(call.detail, targetUtf8);
      sawSetPath = true;
    }
  }
  EXPECT_TRUE(sawSetPath);
}

TEST(ShellLink, ResolveReportsAMissingTargetWithoutFailing) {
  SimMachine m;
  m.platform().shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  win::ComRef<win::IShellLinkW> link;
  ASSERT_EQ(m.platform().shell.CoCreateShellLink(link.put()), win::S_OK);
  link->SetPath(u"C:\\Nowhere\\QVSync.exe");
  EXPECT_EQ(link->Resolve(win::HWND{}, win::SLR_UPDATE), win::S_FALSE);
  m.AddExecutable("C:\\Nowhere\\QVSync.exe", std::nullopt);
  EXPECT_EQ(link->Resolve(win::HWND{}, win::SLR_UPDATE), win::S_OK);
}

TEST(ShellLink, PlannedFailuresOfEachStep) {
  const char* steps[] = {"CoCreateInstance", "IShellLinkW::QueryInterface", "IShellLinkW::SetPath",
                         "IShellLinkW::Resolve", "IPersistFile::Save"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    SimMachine m;
    m.platform().shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
    m.AddFolder(kFolder);
    m.kernel().AddFault(FaultRule{step, 1, 0});
    auto& s = m.platform().shell;
    win::ComRef<win::IShellLinkW> link;
    win::HRESULT hr = s.CoCreateShellLink(link.put());
    win::ComRef<win::IPersistFile> file;
    if (win::SUCCEEDED(hr)) hr = link->QueryInterfacePersistFile(file.put());
    if (win::SUCCEEDED(hr)) hr = link->SetPath(kTargetW);
    if (win::SUCCEEDED(hr)) hr = link->Resolve(win::HWND{}, win::SLR_UPDATE);
    if (win::SUCCEEDED(hr)) hr = file->Save(kLinkW, win::FALSE);
    EXPECT_TRUE(win::FAILED(hr));
    EXPECT_EQ(m.FindFile(kLink), nullptr);
    file.reset();
    link.reset();
    EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  }
}

// --- special folders -------------------------------------------------------------------------------

struct FolderCase {
  const char* name;
  win::DWORD major;
  int csidl;
  bool removeFirst;     // the folder is not on the machine
  win::HRESULT configured;  // 0: none
  win::HRESULT expected;
  const char16_t* path;
  win::LANGID language = kUiEnglish;  // the Windows UI language
};

class SpecialFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SpecialFolders, GiveThePathOrTheStatus) {
  const FolderCase& c = GetParam();
  MachineConfig config;
  config.major = c.major;
  config.minor = 1;
  config.standardFiles = !c.removeFirst;
  config.uiLanguage = c.language;
  SimMachine m(config);
  if (c.configured) m.SetSpecialFolderResult(win::CSIDL_COMMON_PROGRAMS, c.configured);
  char16_t buffer[win::MAX_PATH];
  std::fill(std::begin(buffer), std::end(buffer), u' ');
  EXPECT_EQ(m.platform().shell.SHGetFolderPathW(win::HWND{}, c.csidl, win::HANDLE{},
                                                 win::SHGFP_TYPE_CURRENT, buffer),
            c.expected);
  EXPECT_EQ(std::u16string(buffer), c.path);
  if (c.expected == win::S_OK) {
    EXPECT_TRUE(m.FolderExists(TextToUtf8(c.path)));
  }
}

constexpr int kCreate = win::CSIDL_COMMON_PROGRAMS | win::CSIDL_FLAG_CREATE;

INSTANTIATE_TEST_SUITE_P(
    Cases, SpecialFolders,
    ::testing::Values(
        FolderCase{"Vista", 6, kCreate, false, 0, win::S_OK, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        FolderCase{"Xp", 5, kCreate, false, 0, win::S_OK, u"C:\\Documents and Settings\\All Users\\Start Menu\\Programs"},
        FolderCase{"CreatedWhenMissing", 6, kCreate, true, 0, win::S_OK, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        FolderCase{"MissingWithoutCreate", 6, win::CSIDL_COMMON_PROGRAMS, true, 0, win::S_FALSE, u""},
        FolderCase{"ConfiguredInvalid", 6, kCreate, false, win::E_INVALIDARG, win::E_INVALIDARG, u""},
        FolderCase{"ConfiguredFalse", 6, kCreate, false, win::S_FALSE, win::S_FALSE, u""},
        FolderCase{"ConfiguredFail", 6, kCreate, false, win::E_FAIL, win::E_FAIL, u""},
        FolderCase{"UnknownNumber", 6, 0x00FE | win::CSIDL_FLAG_CREATE, false, 0, win::E_INVALIDARG, u""},
        // Before Vista the profile folders have the names of the installation's language.
        FolderCase{"XpGerman", 5, kCreate, false, 0, win::S_OK,
                   u"C:\\Dokumente und Einstellungen\\All Users\\Startmen\u00FC\\Programme", kUiGerman},
        FolderCase{"XpGermanProgramFiles", 5, 0x26 | win::CSIDL_FLAG_CREATE, false, 0, win::S_OK,
                   u"C:\\Programme (x86)", kUiGerman},
        FolderCase{"VistaGermanHasEnglishFolders", 6, kCreate, false, 0, win::S_OK,
                   u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs", kUiGerman}),
    [](const ::testing::TestParamInfo<FolderCase>& i) { return std::string(i.param.name); });

TEST(SpecialFolders, ConfiguredPathIsCreatedOnDemandAndLogged) {
  SimMachine m;
  m.SetSpecialFolder(win::CSIDL_COMMON_PROGRAMS, "D:\\Menu\\Programs");
  char16_t buffer[win::MAX_PATH];
  ASSERT_EQ(m.platform().shell.SHGetFolderPathW(win::HWND{}, kCreate, win::HANDLE{}, 0, buffer), win::S_OK);
  EXPECT_EQ(std::u16string(buffer), u"D:\\Menu\\Programs");
  EXPECT_TRUE(m.FolderExists("d:\\menu\\PROGRAMS"));
  ASSERT_EQ(m.FileLog().size(), 1u);
  EXPECT_EQ(m.FileLog()[0], "created folder D:\\Menu\\Programs");
}

// The folder path is measured in UTF-16 characters: a path of 250 characters fits the
// MAX_PATH buffer although its UTF-8 form is longer; one of MAX_PATH characters does not.
TEST(SpecialFolders, PathLengthIsCountedInCharacters) {
  for (const std::size_t letters : {std::size_t{240}, std::size_t{251}}) {
    SCOPED_TRACE(letters);
    SimMachine m;
    std::string utf8 = "D:\\";
    Text wide = u"D:\\";
    for (std::size_t i = 0; i < letters; ++i) {
      utf8 += "\xc3\xbc";  // ü
      wide += u'\u00fc';
    }
    utf8 += "\\Programs";
    wide += u"\\Programs";  // 3 + letters + 9 characters
    m.SetSpecialFolder(win::CSIDL_COMMON_PROGRAMS, utf8);
    char16_t buffer[win::MAX_PATH];
    std::fill(std::begin(buffer), std::end(buffer), u' ');
    const win::HRESULT hr =
        m.platform().shell.SHGetFolderPathW(win::HWND{}, kCreate, win::HANDLE{}, 0, buffer);
    if (wide.size() < win::MAX_PATH) {
      EXPECT_EQ(hr, win::S_OK);
      EXPECT_EQ(Text(buffer), wide);
    } else {
      EXPECT_EQ(hr, win::E_FAIL);
    }
  }
}

// --- error reporting ---------------------------------------------------------------------------------

TEST(ErrorReporting, ExclusionsAreRecordedUnlessTheFunctionIsMissing) {
  SimMachine m;
  auto& s = m.platform().shell;
  EXPECT_EQ(s.WerAddExcludedApplication(u"QVApp.exe", win::TRUE), win::S_OK);
  m.SetWerAvailable(false);
  EXPECT_TRUE(win::FAILED(s.WerAddExcludedApplication(u"QVGet.exe", win::TRUE)));
  m.SetWerAvailable(true);
  m.kernel().AddFault(FaultRule{"WerAddExcludedApplication", 3, 0});  // the third call
  EXPECT_TRUE(win::FAILED(s.WerAddExcludedApplication(u"QVSaver.exe", win::TRUE)));
  EXPECT_EQ(s.WerAddExcludedApplication(u"QVSync.exe", win::FALSE), win::S_OK);
  ASSERT_EQ(m.WerExclusions().size(), 2u);
  EXPECT_EQ(m.WerExclusions()[0], std::make_pair(Text(u"QVApp.exe"), win::TRUE));
  EXPECT_EQ(m.WerExclusions()[1], std::make_pair(Text(u"QVSync.exe"), win::FALSE));
}

}  // namespace
}  // namespace qv::sim
