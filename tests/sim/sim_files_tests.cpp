// Files on the simulated machine: attributes, deletion and moves by Windows' rules, and the
// version data of executables as version.dll reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace qv::sim {
namespace {

constexpr char kFile[] = "C:\\Apps\\Quorvia 3\\QVApp.exe";
constexpr char16_t kFileW[] = u"C:\\Apps\\Quorvia 3\\QVApp.exe";

SimFile WithAttributes(win::DWORD attributes) {
  SimFile f;
  f.attributes = attributes;
  return f;
}

TEST(Paths, CaseSlashesAndDotsDoNotMatter) {
  SimMachine m;
  m.AddFile(kFile);
  auto& f = m.platform().files;
  struct Spelling {
    const char16_t* wide;  // as the program passes it
    const char* utf8;      // as a test names it
  };
  const Spelling spellings[] = {
      {u"c:\\apps\\QUORVIA 3\\qvapp.EXE", "c:\\apps\\QUORVIA 3\\qvapp.EXE"},
      {u"C:/Apps/Quorvia 3/QVApp.exe", "C:/Apps/Quorvia 3/QVApp.exe"},
      {u"C:\\Apps\\.\\Other\\..\\Quorvia 3\\QVApp.exe",
       "C:\\Apps\\.\\Other\\..\\Quorvia 3\\QVApp.exe"},
      {u"C:\\Apps\\\\Quorvia 3\\QVApp.exe", "C:\\Apps\\\\Quorvia 3\\QVApp.exe"}};
  for (const Spelling& s : spellings) {
    SCOPED_TRACE(s.utf8);
    EXPECT_EQ(f.GetFileAttributesW(s.wide), win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_NE(m.FindFile(s.utf8), nullptr);
  }
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\APPS"), win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(m.FolderExists("c:\\apps\\quorvia 3"));
  EXPECT_EQ(m.FilePaths(), (std::vector<std::string>{
                               kFile, "C:\\Users\\User\\Downloads\\QV3Update.exe",
                               "C:\\Windows\\SysWOW64\\msiexec.exe",
                               "C:\\Windows\\system32\\msiexec.exe"}));
}

TEST(Paths, RootedPathUsesTheCurrentDrive) {
  MachineConfig config;
  config.currentDirectory = "D:\\Work";
  SimMachine m(config);
  m.AddFile("D:\\Quorvia 3\\Synchronizing.lnk");
  EXPECT_NE(m.platform().files.GetFileAttributesW(u"\\Quorvia 3\\Synchronizing.lnk"),
            win::INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(m.platform().files.GetFileAttributesW(u"..\\Quorvia 3\\Synchronizing.lnk"),
            win::INVALID_FILE_ATTRIBUTES);
}

// Wide paths reach the file system as the user named them, in any script: the machine keeps
// them in UTF-8 and compares them without regard to case beyond ASCII.
TEST(Paths, NamesOutsideTheAnsiCodePageAreKeptAndFoldedByCharacter) {
  SimMachine m;
  // "C:\\Użytkownicy\\Пользователь\\Quorvia für" (Polish, Russian and German letters).
  constexpr char kFolder[] =
      "C:\\U\xc5\xbcytkownicy\\\xd0\x9f\xd0\xbe\xd0\xbb\xd1\x8c\xd0\xb7\xd0\xbe\xd0\xb2"
      "\xd0\xb0\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c\\Quorvia f\xc3\xbcr";
  m.AddFile(std::string(kFolder) + "\\QVApp.exe");
  auto& f = m.platform().files;
  // Upper case of every letter that has one: "UŻYTKOWNICY", "ПОЛЬЗОВАТЕЛЬ", "FÜR".
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\U\u017bYTKOWNICY\\\u041f\u041e\u041b\u042c\u0417\u041e"
                                 u"\u0412\u0410\u0422\u0415\u041b\u042c\\QUORVIA F\u00dcR\\QVAPP.EXE"),
            win::FILE_ATTRIBUTE_ARCHIVE);
  // A different letter is a different name, even where code page 1252 would give both "?".
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\U\u017aytkownicy"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\U?ytkownicy"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\U\u017cytkownicy"), win::FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_EQ(f.DeleteFileW(u"C:\\U\u017cytkownicy\\\u043f\u043e\u043b\u044c\u0437\u043e\u0432"
                          u"\u0430\u0442\u0435\u043b\u044c\\Quorvia f\u00fcr\\QVApp.exe"),
            win::TRUE);
  EXPECT_EQ(m.FileLog(),
            std::vector<std::string>{
                "deleted C:\\U\xc5\xbcytkownicy\\\xd0\xbf\xd0\xbe\xd0\xbb\xd1\x8c\xd0\xb7\xd0\xbe"
                "\xd0\xb2\xd0\xb0\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c\\Quorvia f\xc3\xbcr\\QVApp.exe"});
  EXPECT_EQ(m.FindFile(std::string(kFolder) + "\\QVApp.exe"), nullptr);
}

TEST(Attributes, MissingFileAndMissingFolderDiffer) {
  SimMachine m;
  auto& f = m.platform().files;
  m.AddFile(kFile, WithAttributes(0));
  EXPECT_EQ(f.GetFileAttributesW(kFileW), win::FILE_ATTRIBUTE_NORMAL);  // no attribute at all
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\Apps\\Quorvia 3\\none.exe"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(f.GetFileAttributesW(u"C:\\Nowhere\\none.exe"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND));
}

struct DeleteCase {
  const char* name;
  bool folder;
  win::DWORD attributes;  // of the file, when there is one
  bool exists;
  win::BOOL ok;
  win::DWORD error;
};

class Delete : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(Delete, RemovesOnlyWritableFiles) {
  const DeleteCase& c = GetParam();
  SimMachine m;
  m.AddFolder("C:\\Apps\\Quorvia 3");
  if (c.folder) m.AddFolder(kFile);
  else if (c.exists) m.AddFile(kFile, WithAttributes(c.attributes));
  EXPECT_EQ(m.platform().files.DeleteFileW(kFileW), c.ok);
  if (c.ok) {
    EXPECT_EQ(m.FindFile(kFile), nullptr);
    EXPECT_EQ(m.FileLog(), std::vector<std::string>{std::string("deleted ") + kFile});
  } else {
    EXPECT_EQ(m.LastError(), c.error);
    EXPECT_TRUE(m.FileLog().empty());
    EXPECT_EQ(m.FindFile(kFile) != nullptr, c.exists && !c.folder);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Delete,
    ::testing::Values(
        DeleteCase{"Ordinary", false, win::FILE_ATTRIBUTE_ARCHIVE, true, win::TRUE, 0},
        DeleteCase{"Hidden", false, win::FILE_ATTRIBUTE_HIDDEN, true, win::TRUE, 0},
        DeleteCase{"System", false, win::FILE_ATTRIBUTE_SYSTEM, true, win::TRUE, 0},
        DeleteCase{"ReadOnly", false, win::FILE_ATTRIBUTE_READONLY, true, win::FALSE, win::ERROR_ACCESS_DENIED},
        DeleteCase{"Folder", true, 0, true, win::FALSE, win::ERROR_ACCESS_DENIED},
        DeleteCase{"Missing", false, 0, false, win::FALSE, win::ERROR_FILE_NOT_FOUND}),
    [](const ::testing::TestParamInfo<DeleteCase>& i) { return std::string(i.param.name); });

struct MoveCase {
  const char* name;
  const char16_t* target;
  bool targetExists;
  win::DWORD targetAttributes;
  bool targetIsFolder;
  win::DWORD flags;
  win::BOOL ok;
  win::DWORD error;
};

class Move : public ::testing::TestWithParam<MoveCase> {};

TEST_P(Move, FollowsTheReplaceRules) {
  const MoveCase& c = GetParam();
  SimMachine m;
  SimFile source;
  source.content = "new";
  m.AddFile("C:\\Apps\\new.exe", source);
  const std::string target = TextToUtf8(c.target);
  if (c.targetIsFolder) m.AddFolder(target);
  if (c.targetExists) {
    SimFile old = WithAttributes(c.targetAttributes);
    old.content = "old";
    m.AddFile(target, old);
  }
  EXPECT_EQ(m.platform().files.MoveFileExW(u"C:\\Apps\\new.exe", c.target, c.flags), c.ok);
  if (c.ok) {
    EXPECT_EQ(m.FindFile("C:\\Apps\\new.exe"), nullptr);
    ASSERT_NE(m.FindFile(target), nullptr);
    EXPECT_EQ(m.FindFile(target)->content, "new");
    EXPECT_EQ(m.FileLog(), std::vector<std::string>{"moved C:\\Apps\\new.exe -> " + target});
  } else {
    EXPECT_EQ(m.LastError(), c.error);
    ASSERT_NE(m.FindFile("C:\\Apps\\new.exe"), nullptr);
    if (c.targetExists) {
      EXPECT_EQ(m.FindFile(target)->content, "old");
    }
    EXPECT_TRUE(m.FileLog().empty());
  }
}

constexpr win::DWORD kReplace = win::MOVEFILE_REPLACE_EXISTING;

INSTANTIATE_TEST_SUITE_P(
    Cases, Move,
    ::testing::Values(
        MoveCase{"ToNewName", u"C:\\Apps\\QVApp.exe", false, 0, false, 0, win::TRUE, 0},
        MoveCase{"ExistingWithoutReplace", u"C:\\Apps\\QVApp.exe", true, win::FILE_ATTRIBUTE_ARCHIVE, false, 0, win::FALSE, win::ERROR_ALREADY_EXISTS},
        MoveCase{"ReplaceOrdinary", u"C:\\Apps\\QVApp.exe", true, win::FILE_ATTRIBUTE_ARCHIVE, false, kReplace, win::TRUE, 0},
        MoveCase{"ReplaceHidden", u"C:\\Apps\\QVApp.exe", true, win::FILE_ATTRIBUTE_HIDDEN, false, kReplace, win::TRUE, 0},
        MoveCase{"ReplaceReadOnly", u"C:\\Apps\\QVApp.exe", true, win::FILE_ATTRIBUTE_READONLY, false, kReplace, win::FALSE, win::ERROR_ACCESS_DENIED},
        MoveCase{"ReplaceFolder", u"C:\\Apps\\Sub", false, 0, true, kReplace, win::FALSE, win::ERROR_ACCESS_DENIED},
        MoveCase{"MissingTargetFolder", u"C:\\Nowhere\\QVApp.exe", false, 0, false, kReplace, win::FALSE, win::ERROR_PATH_NOT_FOUND}),
    [](const ::testing::TestParamInfo<MoveCase>& i) { return std::string(i.param.name); });

TEST(MoveFolder, TakesItsContentsAlong) {
  SimMachine m;
  m.AddFile("C:\\Old\\a\\b.txt");
  ASSERT_EQ(m.platform().files.MoveFileExW(u"C:\\Old", u"C:\\New", 0), win::TRUE);
  EXPECT_NE(m.FindFile("C:\\New\\a\\b.txt"), nullptr);
  EXPECT_FALSE(m.FolderExists("C:\\Old"));
  EXPECT_EQ(m.platform().files.MoveFileExW(u"C:\\New", u"C:\\New\\a\\inside", 0), win::FALSE);
  EXPECT_EQ(m.platform().files.MoveFileExW(u"C:\\Gone.txt", u"C:\\x.txt", 0), win::FALSE);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
}

// --- version data -----------------------------------------------------------------------------------

win::WORD WordAt(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<win::WORD>(b[at] | (b[at + 1] << 8));
}

TEST(VersionData, HasTheLayoutOfAVersionResource) {
  const std::vector<std::uint8_t> b = MakeVersionData(FileVersion{3, 10, 0, 68});
  ASSERT_GE(b.size(), 92u);
  EXPECT_EQ(WordAt(b, 0), b.size());  // wLength covers the whole block
  EXPECT_EQ(WordAt(b, 2), 52);        // wValueLength: VS_FIXEDFILEINFO
  EXPECT_EQ(WordAt(b, 4), 0);         // binary
  const char16_t key[] = u"VS_VERSION_INFO";
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(WordAt(b, 6 + 2 * i), key[i]);
  win::VS_FIXEDFILEINFO info;
  std::memcpy(&info, b.data() + 40, sizeof info);  // 6 + 32 bytes of key, padded to 40
  EXPECT_EQ(info.dwSignature, win::VS_FFI_SIGNATURE);
  EXPECT_EQ(info.dwStrucVersion, win::VS_FFI_STRUCVERSION);
  EXPECT_EQ(info.dwFileVersionMS, 0x0003000Au);
  EXPECT_EQ(info.dwFileVersionLS, 0x00000044u);
  EXPECT_EQ(info.dwProductVersionMS, 0x0003000Au);
  EXPECT_EQ(info.dwProductVersionLS, 0x00000044u);
}

// Reads the fixed record of `path` the way the updater does; false when any step fails.
bool ReadFixed(SimMachine& m, const char16_t* path, win::VS_FIXEDFILEINFO& out, win::UINT* length = nullptr,
               win::DWORD shortenBufferBy = 0) {
  auto& f = m.platform().files;
  win::DWORD handle = 99;
  const win::DWORD size = f.GetFileVersionInfoSizeW(path, &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return false;
  std::vector<std::uint8_t> buffer(size);
  if (!f.GetFileVersionInfoW(path, handle, size - shortenBufferBy, buffer.data())) return false;
  void* value = nullptr;
  win::UINT len = 0;
  if (!f.VerQueryValueW(buffer.data(), u"\\", &value, &len)) return false;
  const auto* p = static_cast<std::uint8_t*>(value);
  EXPECT_GE(p, buffer.data());
  EXPECT_LE(p + len, buffer.data() + buffer.size());
  if (length) *length = len;
  std::memcpy(&out, value, std::min<std::size_t>(len, sizeof out));
  return true;
}

TEST(VersionData, ReadsBackThroughVersionFunctions) {
  SimMachine m;
  m.AddExecutable(kFile, FileVersion{1, 2, 3, 4});
  win::VS_FIXEDFILEINFO info{};
  win::UINT len = 0;
  ASSERT_TRUE(ReadFixed(m, kFileW, info, &len));
  EXPECT_EQ(len, 52u);
  EXPECT_EQ(info.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(info.dwFileVersionLS, 0x00030004u);
  m.SetFileVersion(kFile, FileVersion{1, 2, 3, 5});
  ASSERT_TRUE(ReadFixed(m, kFileW, info));
  EXPECT_EQ(info.dwFileVersionLS, 0x00030005u);
}

TEST(VersionData, SubBlocksAndTexts) {
  SimMachine m;
  m.AddExecutable(kFile, FileVersion{3, 10, 0, 68});
  auto& f = m.platform().files;
  const win::DWORD size = f.GetFileVersionInfoSizeW(kFileW, nullptr);
  std::vector<std::uint8_t> buffer(size);
  ASSERT_TRUE(f.GetFileVersionInfoW(kFileW, 0, size, buffer.data()));
  void* value = nullptr;
  win::UINT len = 0;
  ASSERT_TRUE(f.VerQueryValueW(buffer.data(), u"\\VarFileInfo\\Translation", &value, &len));
  ASSERT_EQ(len, 4u);
  EXPECT_EQ(static_cast<std::uint8_t*>(value)[0], 0x09);
  // Texts come in UTF-16, pointing into the block, with their length in characters (the
  // terminator included).
  ASSERT_TRUE(f.VerQueryValueW(buffer.data(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &len));
  const auto* text = static_cast<const char16_t*>(value);
  EXPECT_GE(static_cast<const void*>(text), static_cast<const void*>(buffer.data()));
  EXPECT_LE(static_cast<const void*>(text + len),
            static_cast<const void*>(buffer.data() + buffer.size()));
  EXPECT_EQ(std::u16string(text), u"3.10.0.68");
  EXPECT_EQ(len, 10u);
  EXPECT_FALSE(f.VerQueryValueW(buffer.data(), u"\\StringFileInfo\\040704B0\\FileVersion", &value, &len));
  EXPECT_FALSE(f.VerQueryValueW(buffer.data(), u"\\Nothing", &value, &len));
}

struct BadDataCase {
  const char* name;
  std::size_t keep;          // bytes of the real block kept in the file (0: all)
  std::size_t corruptAt;     // byte set to 0xEE (0: none)
  win::DWORD shortenBuffer;  // the program's buffer is this much smaller than reported
  bool sizeIsZero;           // GetFileVersionInfoSizeW gives 0
};

class BadVersionData : public ::testing::TestWithParam<BadDataCase> {};

TEST_P(BadVersionData, GivesNoRecord) {
  const BadDataCase& c = GetParam();
  SimMachine m;
  SimFile file;
  file.versionData = MakeVersionData(FileVersion{1, 2, 3, 4});
  if (c.keep) file.versionData.resize(c.keep);
  if (c.corruptAt) file.versionData[c.corruptAt] = 0xEE;
  m.AddFile(kFile, file);
  win::DWORD handle = 0;
  EXPECT_EQ(m.platform().files.GetFileVersionInfoSizeW(kFileW, &handle) == 0, c.sizeIsZero);
  win::VS_FIXEDFILEINFO info{};
  EXPECT_FALSE(ReadFixed(m, kFileW, info, nullptr, c.shortenBuffer));
  EXPECT_EQ(info.dwSignature, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadVersionData,
    ::testing::Values(BadDataCase{"CutInsideFixedRecord", 60, 0, 0, false},
                      BadDataCase{"CutInsideKey", 20, 0, 0, false},
                      BadDataCase{"OnlyLengthWord", 2, 0, 0, false},
                      BadDataCase{"WrongKey", 0, 8, 0, false},
                      BadDataCase{"ValueLongerThanBlock", 0, 3, 0, false},
                      BadDataCase{"BufferCutByProgram", 0, 0, 40, false}),
    [](const ::testing::TestParamInfo<BadDataCase>& i) { return std::string(i.param.name); });

TEST(VersionData, MissingFileNoResourceAndFolder) {
  SimMachine m;
  m.AddExecutable("C:\\Apps\\plain.exe", std::nullopt);
  m.AddFolder("C:\\Apps\\dir.exe");
  auto& f = m.platform().files;
  EXPECT_EQ(f.GetFileVersionInfoSizeW(u"C:\\Apps\\none.exe", nullptr), 0u);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(f.GetFileVersionInfoSizeW(u"C:\\Apps\\plain.exe", nullptr), 0u);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(f.GetFileVersionInfoSizeW(u"C:\\Apps\\dir.exe", nullptr), 0u);
  std::uint8_t buffer[256];
  EXPECT_EQ(f.GetFileVersionInfoW(u"C:\\Apps\\plain.exe", 0, sizeof buffer, buffer), win::FALSE);
}

TEST(VersionData, PlannedFailureOfEachFunction) {
  for (const char* function : {"GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"}) {
    SCOPED_TRACE(function);
    SimMachine m;
    m.AddExecutable(kFile, FileVersion{1, 2, 3, 4});
    m.kernel().AddFault(FaultRule{function, 1, 0});
    win::VS_FIXEDFILEINFO info{};
    EXPECT_FALSE(ReadFixed(m, kFileW, info));
    EXPECT_TRUE(ReadFixed(m, kFileW, info));  // only the first call fails
  }
}

TEST(Kernel, PlannedFailureByPositionHitsExactlyThatCall) {
  SimMachine m;
  m.AddFile(kFile);
  m.kernel().FailCallNumber(2);
  auto& f = m.platform().files;
  EXPECT_NE(f.GetFileAttributesW(kFileW), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(f.GetFileAttributesW(kFileW), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(f.GetFileAttributesW(kFileW), win::INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(m.kernel().Calls().size(), 3u);
  EXPECT_TRUE(m.kernel().Calls()[1].failedByPlan);
  EXPECT_EQ(m.kernel().Calls()[1].function, "GetFileAttributesW");
  EXPECT_EQ(m.kernel().Calls()[1].detail, kFile);
}

}  // namespace
}  // namespace qv::sim
