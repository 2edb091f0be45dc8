// Platform behaviour outside the registry that the simulated machine must share with Windows:
// version and word size, the program's own file, the common programs folder, version data,
// starting and waiting for a program (with Windows' reading of unquoted paths), the file rules,
// shell links and the hidden form window. Runs on both backends; no dialog is shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "backend.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace qv::contract {
namespace {

// The backend names paths in UTF-8; the seam takes them in UTF-16.
Text W(const std::string& utf8) { return Utf8ToText(utf8); }
std::string U8(const win::WCHAR* text) { return TextToUtf8(Text(text)); }

// A folder name no Western ANSI code page can carry: Polish, Russian and Greek letters
// ("Łódź Синхр Συνδ"), as a user of any system locale may name a folder.
constexpr char kForeignName[] =
    "\xc5\x81\xc3\xb3" "d\xc5\xba \xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80 \xce\xa3\xcf\x85\xce\xbd\xce\xb4";
// The same name in upper case ("ŁÓDŹ СИНХР ΣΥΝΔ").
constexpr char16_t kForeignNameUpper[] =
    u"\u0141\u00d3D\u0179 \u0421\u0418\u041d\u0425\u0420 \u03a3\u03a5\u039d\u0394";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class Contract : public ::testing::Test {
 protected:
  std::unique_ptr<Backend> b = MakeBackend();
  win::Platform p = b->platform();
};

// --- system ---------------------------------------------------------------------------------------

struct VersionSizeCase {
  const char* name;
  win::DWORD size;
  win::BOOL ok;
};

class VersionSize : public Contract, public ::testing::WithParamInterface<VersionSizeCase> {};

TEST_P(VersionSize, Windows7OnlyForAKnownRecordSize) {
  unsigned char buffer[160] = {};
  auto* info = reinterpret_cast<win::OSVERSIONINFOA*>(buffer);
  info->dwOSVersionInfoSize = GetParam().size;
  EXPECT_EQ(p.system.GetVersionExA(info), GetParam().ok);
  if (GetParam().ok) {
    EXPECT_EQ(info->dwMajorVersion, 6u);
    EXPECT_EQ(info->dwMinorVersion, 1u);
    EXPECT_EQ(info->dwPlatformId, 2u);
  } else {
    EXPECT_EQ(info->dwMajorVersion, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, VersionSize,
                         ::testing::Values(VersionSizeCase{"Plain", 148, win::TRUE},
                                           VersionSizeCase{"Extended", 156, win::TRUE},
                                           VersionSizeCase{"Zero", 0, win::FALSE},
                                           VersionSizeCase{"Wide", 276, win::FALSE}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Contract, A64BitProcessIsNotUnderWow64) {
  if (b->processBits() != 64) GTEST_SKIP() << "a 32-bit test program";
  win::BOOL flag = 5;
  ASSERT_EQ(p.system.IsWow64Process(p.system.GetCurrentProcess(), &flag), win::TRUE);
  EXPECT_EQ(flag, win::FALSE);
  EXPECT_EQ(win::HandleValue(p.system.GetCurrentProcess()), ~std::uintptr_t{0});
}

// IsWow64Process says TRUE exactly for a 32-bit program on 64-bit Windows; the machine's word
// size comes from the backend, which reads it elsewhere (GetNativeSystemInfo on Windows).
TEST_F(Contract, UnderWow64ExactlyAs32BitProgramOn64BitWindows) {
  win::BOOL flag = 5;
  ASSERT_EQ(p.system.IsWow64Process(p.system.GetCurrentProcess(), &flag), win::TRUE);
  EXPECT_EQ(flag, b->processBits() == 32 && b->windowsBits() == 64 ? win::TRUE : win::FALSE)
      << b->processBits() << "-bit program on " << b->windowsBits() << "-bit Windows";
  EXPECT_EQ(win::HandleValue(p.system.GetCurrentProcess()), ~std::uintptr_t{0});
}

TEST_F(Contract, OwnFileNameFullAndCut) {
  win::WCHAR path[win::MAX_PATH];
  const win::DWORD n = p.system.GetModuleFileNameW(win::HINSTANCE{}, path, win::MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(n, Text(path).size());
  EXPECT_TRUE(EndsWith(Lower(U8(path)), "\\platform_contract_tests.exe")) << U8(path);
  const win::DWORD attributes = p.files.GetFileAttributesW(path);
  ASSERT_NE(attributes, win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
  // The module handle of the program names the same file.
  win::WCHAR again[win::MAX_PATH];
  const win::HINSTANCE self = p.system.GetModuleHandleA(nullptr);
  ASSERT_FALSE(win::IsNull(self));
  EXPECT_EQ(p.system.GetModuleFileNameW(self, again, win::MAX_PATH), n);
  EXPECT_EQ(Text(again), Text(path));
  // Too small a buffer: Windows from Vista on cuts and terminates, and gives the size.
  win::WCHAR small[11];
  std::fill(std::begin(small), std::end(small), u'x');
  EXPECT_EQ(p.system.GetModuleFileNameW(win::HINSTANCE{}, small, 10), 10u);
  EXPECT_EQ(Text(small, 9), Text(path, 9));
  // Wine fills all ten characters without a terminator, as Windows XP did.
  if (!b->IsWine()) {
    EXPECT_EQ(small[9], u'\0');
  }
  EXPECT_EQ(small[10], u'x');
}

TEST_F(Contract, SystemFolderAndTheSizeNeeded) {
  win::WCHAR path[win::MAX_PATH];
  const win::UINT n = p.system.GetSystemDirectoryW(path, win::MAX_PATH);
  EXPECT_EQ(Lower(U8(path)), "c:\\windows\\system32");
  EXPECT_EQ(n, 19u);
  win::WCHAR tiny[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(p.system.GetSystemDirectoryW(tiny, 4), 20u);  // with the terminator
}

// --- special folder ---------------------------------------------------------------------------------

TEST_F(Contract, CommonProgramsFolderIsThereOrMade) {
  win::WCHAR path[win::MAX_PATH];
  std::fill(std::begin(path), std::end(path), u' ');
  ASSERT_EQ(p.shell.SHGetFolderPathW(win::HWND{}, win::CSIDL_COMMON_PROGRAMS | win::CSIDL_FLAG_CREATE,
                                     win::HANDLE{}, win::SHGFP_TYPE_CURRENT, path),
            win::S_OK);
  EXPECT_EQ(Lower(U8(path)), "c:\\programdata\\microsoft\\windows\\start menu\\programs");
  const win::DWORD attributes = p.files.GetFileAttributesW(path);
  ASSERT_NE(attributes, win::INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// --- version data -------------------------------------------------------------------------------------

// Reads the version block of `path` into `data`; false when a step fails.
bool ReadVersionBlock(win::Platform& p, const Text& path, std::vector<std::uint8_t>& data) {
  win::DWORD handle = 77;
  const win::DWORD size = p.files.GetFileVersionInfoSizeW(path.c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return false;
  data.assign(size, 0);
  return p.files.GetFileVersionInfoW(path.c_str(), handle, size, data.data()) == win::TRUE;
}

TEST_F(Contract, VersionOfTheChildProgram) {
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(ReadVersionBlock(p, W(b->ChildProgram()), data));
  ASSERT_GT(data.size(), 92u);
  void* value = nullptr;
  win::UINT length = 0;
  ASSERT_EQ(p.files.VerQueryValueW(data.data(), u"\\", &value, &length), win::TRUE);
  ASSERT_EQ(length, 52u);
  EXPECT_GE(static_cast<std::uint8_t*>(value), data.data());
  EXPECT_LE(static_cast<std::uint8_t*>(value) + length, data.data() + data.size());
  win::VS_FIXEDFILEINFO info;
  std::memcpy(&info, value, sizeof info);
  EXPECT_EQ(info.dwSignature, win::VS_FFI_SIGNATURE);
  EXPECT_EQ(info.dwFileVersionMS, 0x0003000Au);
  EXPECT_EQ(info.dwFileVersionLS, 0x00000044u);
  EXPECT_EQ(info.dwProductVersionLS, 0x00000044u);

  ASSERT_EQ(p.files.VerQueryValueW(data.data(), u"\\VarFileInfo\\Translation", &value, &length), win::TRUE);
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<std::uint8_t*>(value)[0], 0x09);
  EXPECT_EQ(static_cast<std::uint8_t*>(value)[1], 0x04);
  // A text comes in UTF-16, inside the block, its length in characters with the terminator.
  ASSERT_EQ(p.files.VerQueryValueW(data.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &value, &length),
            win::TRUE);
  const auto* text = static_cast<const win::WCHAR*>(value);
  EXPECT_GE(static_cast<const void*>(text), static_cast<const void*>(data.data()));
  EXPECT_LE(static_cast<const void*>(text + length), static_cast<const void*>(data.data() + data.size()));
  EXPECT_EQ(Text(text), u"3.10.0.68");
  EXPECT_EQ(length, 10u);
  // Sub-block names are compared without regard to case.
  ASSERT_EQ(p.files.VerQueryValueW(data.data(), u"\\stringfileinfo\\040904b0\\PRODUCTVERSION", &value,
                                   &length),
            win::TRUE);
  EXPECT_EQ(Text(static_cast<const win::WCHAR*>(value)), u"3.10.0.68");
  EXPECT_EQ(p.files.VerQueryValueW(data.data(), u"\\StringFileInfo\\040704B0\\FileVersion", &value, &length),
            win::FALSE);
}

TEST_F(Contract, VersionOfAProgramInAFolderOutsideTheAnsiCodePage) {
  const std::string folder = b->Scratch() + "\\" + kForeignName;
  b->MakeFolder(folder);
  b->CopyChildProgram(folder + "\\child.exe");
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(ReadVersionBlock(p, W(folder + "\\child.exe"), data));
  void* value = nullptr;
  win::UINT length = 0;
  ASSERT_EQ(p.files.VerQueryValueW(data.data(), u"\\", &value, &length), win::TRUE);
  ASSERT_EQ(length, 52u);
  win::VS_FIXEDFILEINFO info;
  std::memcpy(&info, value, sizeof info);
  EXPECT_EQ(info.dwFileVersionMS, 0x0003000Au);
  EXPECT_EQ(info.dwFileVersionLS, 0x00000044u);
}

TEST_F(Contract, NoVersionData) {
  win::WCHAR own[win::MAX_PATH];
  ASSERT_GT(p.system.GetModuleFileNameW(win::HINSTANCE{}, own, win::MAX_PATH), 0u);
  win::DWORD handle = 0;
  EXPECT_EQ(p.files.GetFileVersionInfoSizeW(own, &handle), 0u);  // the test program has none
  const Text missing = W(b->Scratch() + "\\missing.exe");
  EXPECT_EQ(p.files.GetFileVersionInfoSizeW(missing.c_str(), &handle), 0u);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
}

// --- processes ------------------------------------------------------------------------------------------

struct Started {
  win::BOOL ok;
  win::PROCESS_INFORMATION pi;
};

Started Start(win::Platform& p, const std::string& commandLine) {
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  Started r{};
  Text line = W(commandLine);  // writable, as CreateProcessW wants it
  r.ok = p.processes.CreateProcessW(nullptr, line.data(), nullptr, nullptr, win::TRUE,
                                    win::NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &r.pi);
  return r;
}

// Starts, waits, closes; gives the path the started program wrote, empty when none ran.
std::string RunToEnd(Backend& b, win::Platform& p, const std::string& commandLine,
                     const std::string& marker) {
  const Started r = Start(p, commandLine);
  if (!r.ok) return {};
  EXPECT_EQ(p.processes.WaitForSingleObject(r.pi.hProcess, win::INFINITE), win::WAIT_OBJECT_0);
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hThread), win::TRUE);
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hProcess), win::TRUE);
  return Lower(b.ReadFile(marker).value_or(""));
}

TEST_F(Contract, StartWaitAndClose) {
  const std::string marker = b->Scratch() + "\\marker.txt";
  const Started r = Start(p, "\"" + b->ChildProgram() + "\" " + marker);
  ASSERT_EQ(r.ok, win::TRUE);
  EXPECT_NE(r.pi.dwProcessId, 0u);
  EXPECT_EQ(p.processes.WaitForSingleObject(r.pi.hProcess, win::INFINITE), win::WAIT_OBJECT_0);
  EXPECT_EQ(Lower(b->ReadFile(marker).value_or("")), Lower(b->ChildProgram()));
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hThread), win::TRUE);
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hProcess), win::TRUE);
}

TEST_F(Contract, NullHandles) {
  EXPECT_EQ(p.processes.WaitForSingleObject(win::HANDLE{}, win::INFINITE), win::WAIT_FAILED);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
  EXPECT_EQ(p.processes.CloseHandle(win::HANDLE{}), win::FALSE);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
}

TEST_F(Contract, MissingProgramLeavesTheRecordZero) {
  const Started r = Start(p, "qv_contract_no_such_program.exe /x");
  EXPECT_EQ(r.ok, win::FALSE);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(win::IsNull(r.pi.hProcess));
  EXPECT_TRUE(win::IsNull(r.pi.hThread));
  EXPECT_EQ(r.pi.dwProcessId, 0u);
}

struct RefusedStartCase {
  const char* name;
  bool applicationWithoutExtension;  // lpApplicationName: the child's path without ".exe"
  bool missingCurrentDirectory;
  win::DWORD error;
};

class RefusedStart : public Contract, public ::testing::WithParamInterface<RefusedStartCase> {};

TEST_P(RefusedStart, NothingRuns) {
  const RefusedStartCase& c = GetParam();
  const std::string scratch = b->Scratch();
  const std::string marker = scratch + "\\marker.txt";
  const Text child = W(b->ChildProgram());
  const Text application = child.substr(0, child.size() - 4);
  const Text directory = W(scratch + "\\none");
  Text line = W("child " + marker);
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  win::PROCESS_INFORMATION pi{};
  EXPECT_EQ(p.processes.CreateProcessW(c.applicationWithoutExtension ? application.c_str() : child.c_str(),
                                       line.data(), nullptr, nullptr, win::FALSE, 0, nullptr,
                                       c.missingCurrentDirectory ? directory.c_str() : nullptr, &si, &pi),
            win::FALSE);
  EXPECT_EQ(b->LastError(), c.error);
  EXPECT_TRUE(win::IsNull(pi.hProcess));
  EXPECT_FALSE(b->ReadFile(marker).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedStart,
    ::testing::Values(RefusedStartCase{"ApplicationNameGetsNoExtension", true, false, win::ERROR_FILE_NOT_FOUND},
                      RefusedStartCase{"MissingCurrentDirectory", false, true, 267}),  // ERROR_DIRECTORY
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Contract, BareNameIsFoundBesideTheProgram) {
  const std::string marker = b->Scratch() + "\\marker.txt";
  EXPECT_EQ(RunToEnd(*b, p, "contract_child " + marker, marker), Lower(b->ChildProgram()));
}

TEST_F(Contract, UnquotedPathWithBlanksTakesTheFirstExistingPrefix) {
  const std::string scratch = b->Scratch();
  const std::string marker = scratch + "\\marker.txt";
  b->MakeFolder(scratch + "\\dir with blanks");
  const std::string inner = scratch + "\\dir with blanks\\child.exe";
  b->CopyChildProgram(inner);
  EXPECT_EQ(RunToEnd(*b, p, inner + " " + marker, marker), Lower(inner));
  // A program named like the first word, planted in the parent folder, is started instead.
  b->CopyChildProgram(scratch + "\\dir.exe");
  EXPECT_EQ(RunToEnd(*b, p, inner + " " + marker, marker), Lower(scratch + "\\dir.exe"));
  // Quoted, the whole path is the program.
  EXPECT_EQ(RunToEnd(*b, p, "\"" + inner + "\" " + marker, marker), Lower(inner));
}

// A program in a folder named outside the ANSI code page starts through the wide call. (The
// child program itself reads its command line in ANSI, so its marker stays in a plain folder;
// the path it writes is its own ANSI reading of the folder name and is not compared.)
TEST_F(Contract, ProgramInAFolderOutsideTheAnsiCodePageStarts) {
  const std::string scratch = b->Scratch();
  const std::string marker = scratch + "\\marker.txt";
  const std::string folder = scratch + "\\" + kForeignName;
  b->MakeFolder(folder);
  b->CopyChildProgram(folder + "\\child.exe");
  const Started r = Start(p, "\"" + folder + "\\child.exe\" " + marker);
  ASSERT_EQ(r.ok, win::TRUE);
  EXPECT_EQ(p.processes.WaitForSingleObject(r.pi.hProcess, win::INFINITE), win::WAIT_OBJECT_0);
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hThread), win::TRUE);
  EXPECT_EQ(p.processes.CloseHandle(r.pi.hProcess), win::TRUE);
  const std::optional<std::string> written = b->ReadFile(marker);
  ASSERT_TRUE(written.has_value());
  EXPECT_TRUE(EndsWith(Lower(*written), "\\child.exe")) << *written;
}

// --- files ----------------------------------------------------------------------------------------------

constexpr win::DWORD kDecisive = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN |
                                 win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_DIRECTORY;

struct DeleteCase {
  const char* name;
  bool make;
  bool folder;
  win::DWORD attributes;
  win::BOOL ok;
  win::DWORD error;
};

class DeleteRules : public Contract, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteRules, OnlyWritableFilesGo) {
  const DeleteCase& c = GetParam();
  const std::string path = b->Scratch() + "\\x.lnk";
  if (c.folder) b->MakeFolder(path);
  else if (c.make) b->MakeFile(path, c.attributes, "old");
  if (c.make && !c.folder) {
    // The bits the updater decides on (Wine shows every file with the archive bit as well).
    const win::DWORD seen = p.files.GetFileAttributesW(W(path).c_str());
    EXPECT_EQ(seen & kDecisive, c.attributes & kDecisive);
  }
  EXPECT_EQ(p.files.DeleteFileW(W(path).c_str()), c.ok);
  if (!c.ok) {
    EXPECT_EQ(b->LastError(), c.error);
  }
  EXPECT_EQ(p.files.GetFileAttributesW(W(path).c_str()) == win::INVALID_FILE_ATTRIBUTES,
            c.ok || !c.make);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteRules,
    ::testing::Values(DeleteCase{"Archive", true, false, win::FILE_ATTRIBUTE_ARCHIVE, win::TRUE, 0},
                      DeleteCase{"NoAttributes", true, false, 0, win::TRUE, 0},
                      DeleteCase{"Hidden", true, false, win::FILE_ATTRIBUTE_HIDDEN, win::TRUE, 0},
                      DeleteCase{"System", true, false, win::FILE_ATTRIBUTE_SYSTEM, win::TRUE, 0},
                      DeleteCase{"ReadOnly", true, false, win::FILE_ATTRIBUTE_READONLY, win::FALSE, win::ERROR_ACCESS_DENIED},
                      DeleteCase{"Folder", true, true, 0, win::FALSE, win::ERROR_ACCESS_DENIED},
                      DeleteCase{"Missing", false, false, 0, win::FALSE, win::ERROR_FILE_NOT_FOUND}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Contract, MissingFolderIsNotAMissingFile) {
  const Text path = W(b->Scratch() + "\\none\\x.lnk");
  EXPECT_EQ(p.files.GetFileAttributesW(path.c_str()), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(p.files.DeleteFileW(path.c_str()), win::FALSE);
  EXPECT_EQ(b->LastError(), static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND));
}

// Names outside the ANSI code page: found in any case, told apart from a name with another
// letter in the same place, deleted and moved as named.
TEST_F(Contract, NamesOutsideTheAnsiCodePage) {
  const std::string scratch = b->Scratch();
  const std::string folder = scratch + "\\" + kForeignName;
  b->MakeFolder(folder);
  b->MakeFile(folder + "\\a.txt", win::FILE_ATTRIBUTE_ARCHIVE, "a");
  const Text upper = W(scratch) + u"\\" + kForeignNameUpper;
  const win::DWORD attributes = p.files.GetFileAttributesW(upper.c_str());
  ASSERT_NE(attributes, win::INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(p.files.GetFileAttributesW((upper + u"\\A.TXT").c_str()), win::INVALID_FILE_ATTRIBUTES);
  // "Lodz ..." with plain letters, and the "?" an ANSI conversion would have made of "Ł".
  Text other = W(folder);
  other[other.size() - Text(kForeignNameUpper).size()] = u'L';
  EXPECT_EQ(p.files.GetFileAttributesW(other.c_str()), win::INVALID_FILE_ATTRIBUTES);
  other[other.size() - Text(kForeignNameUpper).size()] = u'?';
  EXPECT_EQ(p.files.GetFileAttributesW(other.c_str()), win::INVALID_FILE_ATTRIBUTES);
  // Moved to another such name and deleted there.
  const std::string moved = folder + "\\\xd0\x91.txt";  // "Б.txt"
  ASSERT_EQ(p.files.MoveFileExW(W(folder + "\\a.txt").c_str(), W(moved).c_str(), 0), win::TRUE);
  EXPECT_EQ(b->ReadFile(moved).value_or(""), "a");
  EXPECT_FALSE(b->ReadFile(folder + "\\a.txt").has_value());
  EXPECT_EQ(p.files.DeleteFileW((upper + u"\\\u0431.TXT").c_str()), win::TRUE);  // "б.TXT"
  EXPECT_FALSE(b->ReadFile(moved).has_value());
}

constexpr win::DWORD kReplace = win::MOVEFILE_REPLACE_EXISTING;

struct MoveCase {
  const char* name;
  int target;  // 0 none, 1 file, 2 folder
  win::DWORD attributes;
  win::DWORD flags;
  bool targetFolderMissing;
  win::BOOL ok;
  win::DWORD error;
};

class MoveRules : public Contract, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveRules, ReplaceOnlyWhereAllowed) {
  const MoveCase& c = GetParam();
  if (b->IsWine() && c.target == 1 && (c.attributes & win::FILE_ATTRIBUTE_READONLY) && (c.flags & kReplace))
    GTEST_SKIP() << "Wine replaces a read-only file; Windows refuses with ERROR_ACCESS_DENIED";
  const std::string scratch = b->Scratch();
  const std::string from = scratch + "\\new.txt";
  const std::string to = scratch + (c.targetFolderMissing ? "\\none\\old.txt" : "\\old.txt");
  b->MakeFile(from, win::FILE_ATTRIBUTE_ARCHIVE, "new");
  if (c.target == 1) b->MakeFile(to, c.attributes, "old");
  if (c.target == 2) b->MakeFolder(to);
  EXPECT_EQ(p.files.MoveFileExW(W(from).c_str(), W(to).c_str(), c.flags), c.ok);
  if (c.ok) {
    EXPECT_EQ(b->ReadFile(to).value_or(""), "new");
    EXPECT_FALSE(b->ReadFile(from).has_value());
  } else {
    EXPECT_EQ(b->LastError(), c.error);
    EXPECT_EQ(b->ReadFile(from).value_or(""), "new");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveRules,
    ::testing::Values(MoveCase{"ToFreeName", 0, 0, 0, false, win::TRUE, 0},
                      MoveCase{"OverFileWithoutReplace", 1, win::FILE_ATTRIBUTE_ARCHIVE, 0, false, win::FALSE, win::ERROR_ALREADY_EXISTS},
                      MoveCase{"ReplaceFile", 1, win::FILE_ATTRIBUTE_ARCHIVE, kReplace, false, win::TRUE, 0},
                      MoveCase{"ReplaceHidden", 1, win::FILE_ATTRIBUTE_HIDDEN, kReplace, false, win::TRUE, 0},
                      MoveCase{"ReplaceReadOnly", 1, win::FILE_ATTRIBUTE_READONLY, kReplace, false, win::FALSE, win::ERROR_ACCESS_DENIED},
                      MoveCase{"ReplaceFolder", 2, 0, kReplace, false, win::FALSE, win::ERROR_ACCESS_DENIED},
                      MoveCase{"MissingTargetFolder", 0, 0, kReplace, true, win::FALSE, win::ERROR_PATH_NOT_FOUND}),
    [](const auto& i) { return std::string(i.param.name); });

// --- folders with a security descriptor, copies ---------------------------------------------------------

constexpr char16_t kProtectedSddl[] =
    u"D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)";

TEST_F(Contract, WindowsFolderAndTheSizeNeeded) {
  win::WCHAR path[win::MAX_PATH];
  const win::UINT n = p.system.GetWindowsDirectoryW(path, win::MAX_PATH);
  EXPECT_EQ(Lower(U8(path)), "c:\\windows");
  EXPECT_EQ(n, 10u);
  win::WCHAR tiny[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(p.system.GetWindowsDirectoryW(tiny, 4), 11u);  // with the terminator
}

// A folder gets its DACL in the call that makes it; a taken name, by a folder or a file, is
// refused.
TEST_F(Contract, FolderMadeWithItsSecurityDescriptor) {
  win::UniqueLocalMemory descriptor(p.security);
  win::ULONG size = 0;
  ASSERT_EQ(p.security.ConvertStringSecurityDescriptorToSecurityDescriptorW(
                kProtectedSddl, win::SDDL_REVISION_1, descriptor.put(), &size),
            win::TRUE);
  EXPECT_GT(size, 20u);
  win::SECURITY_ATTRIBUTES attributes{sizeof(win::SECURITY_ATTRIBUTES), descriptor.get(), win::FALSE};
  const std::string scratch = b->Scratch();
  const Text folder = W(scratch + "\\protected");
  ASSERT_EQ(p.files.CreateDirectoryW(folder.c_str(), &attributes), win::TRUE);
  if (!b->IsWine()) {
    EXPECT_EQ(b->FolderSecurity(scratch + "\\protected"), U8(kProtectedSddl));
  } else {
    // Wine difference: Wine keeps no DACL of a file or folder; GetFileSecurityW makes one from
    // the Unix permissions, with full control for SYSTEM and the prefix's user.
    EXPECT_NE(b->FolderSecurity(scratch + "\\protected").find("D:("), std::string::npos);
  }
  EXPECT_NE(p.files.GetFileAttributesW(folder.c_str()) & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(p.files.CreateDirectoryW(folder.c_str(), &attributes), win::FALSE);
  EXPECT_EQ(p.files.GetLastError(), static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS));
  b->MakeFile(scratch + "\\taken", win::FILE_ATTRIBUTE_ARCHIVE, "x");
  EXPECT_EQ(p.files.CreateDirectoryW(W(scratch + "\\taken").c_str(), &attributes), win::FALSE);
  EXPECT_EQ(p.files.GetLastError(), static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS));
  EXPECT_EQ(p.files.CreateDirectoryW(W(scratch + "\\none\\x").c_str(), &attributes), win::FALSE);
  EXPECT_EQ(p.files.GetLastError(), static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND));
  // A file made in it takes its inheritable entries; the folder goes once it is empty.
  const Text copy = folder + u"\\copy.msp";
  b->MakeFile(scratch + "\\source.msp", win::FILE_ATTRIBUTE_ARCHIVE, "package");
  ASSERT_EQ(p.files.CopyFileW(W(scratch + "\\source.msp").c_str(), copy.c_str(), win::TRUE), win::TRUE);
  EXPECT_EQ(p.files.RemoveDirectoryW(folder.c_str()), win::FALSE);
  EXPECT_EQ(p.files.GetLastError(), static_cast<win::DWORD>(win::ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(p.files.DeleteFileW(copy.c_str()), win::TRUE);
  EXPECT_EQ(p.files.RemoveDirectoryW(folder.c_str()), win::TRUE);
  EXPECT_EQ(p.files.GetFileAttributesW(folder.c_str()), win::INVALID_FILE_ATTRIBUTES);
}

struct SddlCase {
  const char* name;
  const char16_t* sddl;
  win::DWORD revision;
  win::BOOL ok;
  win::DWORD error;
};

class SddlRules : public Contract, public ::testing::WithParamInterface<SddlCase> {};

TEST_P(SddlRules, OnlyAWellFormedDescriptor) {
  const SddlCase& c = GetParam();
  void* descriptor = nullptr;
  EXPECT_EQ(p.security.ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, c.revision,
                                                                            &descriptor, nullptr),
            c.ok);
  if (c.ok) {
    EXPECT_NE(descriptor, nullptr);
    EXPECT_EQ(p.security.LocalFree(descriptor), nullptr);
  } else {
    EXPECT_EQ(b->LastError(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SddlRules,
    ::testing::Values(SddlCase{"Protected", kProtectedSddl, 1, win::TRUE, 0},
                      SddlCase{"OwnerAndUsers", u"O:BAD:(A;OICI;FA;;;BU)", 1, win::TRUE, 0},
                      SddlCase{"UnknownPart", u"ERROR:(D;;GA;;;WD)", 1, win::FALSE,
                               win::ERROR_INVALID_PARAMETER},
                      SddlCase{"UnknownRight", u"D:P(A;;ROB;;;BA)", 1, win::FALSE,
                               1336},  // ERROR_INVALID_ACL
                      SddlCase{"OtherRevision", kProtectedSddl, 2, win::FALSE,
                               win::ERROR_UNKNOWN_REVISION}),
    [](const auto& i) { return std::string(i.param.name); });

struct CopyCase {
  const char* name;
  int source;  // 0 none, 1 file, 2 folder
  win::DWORD sourceAttributes;
  int target;  // 0 none, 1 file, 2 folder
  win::DWORD targetAttributes;
  win::BOOL failIfExists;
  bool targetFolderMissing;
  win::BOOL ok;
  win::DWORD error;
};

class CopyRules : public Contract, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyRules, CopyWhereWindowsCopies) {
  const CopyCase& c = GetParam();
  const std::string scratch = b->Scratch();
  const std::string from = scratch + "\\qvupdate.msp";
  const std::string to = scratch + (c.targetFolderMissing ? "\\none\\copy.msp" : "\\copy.msp");
  if (c.source == 1) b->MakeFile(from, c.sourceAttributes, "new");
  if (c.source == 2) b->MakeFolder(from);
  if (c.target == 1) b->MakeFile(to, c.targetAttributes, "old");
  if (c.target == 2) b->MakeFolder(to);
  EXPECT_EQ(p.files.CopyFileW(W(from).c_str(), W(to).c_str(), c.failIfExists), c.ok);
  if (c.ok) {
    EXPECT_EQ(b->ReadFile(to).value_or(""), "new");
    // The attributes come along: a read-only original gives a read-only copy.
    const win::DWORD attributes = p.files.GetFileAttributesW(W(to).c_str());
    EXPECT_EQ(attributes & kDecisive, c.sourceAttributes & kDecisive);
    EXPECT_EQ(p.files.SetFileAttributesW(W(to).c_str(), win::FILE_ATTRIBUTE_NORMAL), win::TRUE);
    EXPECT_EQ(p.files.GetFileAttributesW(W(to).c_str()) & kDecisive, 0u);
    EXPECT_EQ(p.files.DeleteFileW(W(to).c_str()), win::TRUE);
  } else {
    EXPECT_EQ(p.files.GetLastError(), c.error);
    if (c.target == 1) {
      EXPECT_EQ(b->ReadFile(to).value_or(""), "old");
    }
  }
}

constexpr win::DWORD kArchive = win::FILE_ATTRIBUTE_ARCHIVE;

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRules,
    ::testing::Values(
        CopyCase{"ToFreeName", 1, kArchive, 0, 0, win::TRUE, false, win::TRUE, 0},
        CopyCase{"ReadOnlySource", 1, win::FILE_ATTRIBUTE_READONLY, 0, 0, win::TRUE, false, win::TRUE, 0},
        CopyCase{"HiddenSource", 1, win::FILE_ATTRIBUTE_HIDDEN, 0, 0, win::TRUE, false, win::TRUE, 0},
        CopyCase{"OverFileFailIfExists", 1, kArchive, 1, kArchive, win::TRUE, false, win::FALSE,
                 win::ERROR_FILE_EXISTS},
        CopyCase{"OverFileReplace", 1, kArchive, 1, kArchive, win::FALSE, false, win::TRUE, 0},
        CopyCase{"OverFolder", 1, kArchive, 2, 0, win::FALSE, false, win::FALSE, win::ERROR_ACCESS_DENIED},
        CopyCase{"MissingSource", 0, 0, 0, 0, win::TRUE, false, win::FALSE, win::ERROR_FILE_NOT_FOUND},
        CopyCase{"SourceIsAFolder", 2, 0, 0, 0, win::TRUE, false, win::FALSE, win::ERROR_ACCESS_DENIED},
        CopyCase{"MissingTargetFolder", 1, kArchive, 0, 0, win::TRUE, true, win::FALSE,
                 win::ERROR_PATH_NOT_FOUND}),
    [](const auto& i) { return std::string(i.param.name); });

struct RemoveFolderCase {
  const char* name;
  int thing;  // 0 none, 1 empty folder, 2 folder with a file, 3 a file
  win::BOOL ok;
  win::DWORD error;
};

class RemoveFolderRules : public Contract, public ::testing::WithParamInterface<RemoveFolderCase> {};

TEST_P(RemoveFolderRules, OnlyAnEmptyFolderGoes) {
  const RemoveFolderCase& c = GetParam();
  const std::string path = b->Scratch() + "\\folder";
  if (c.thing == 1 || c.thing == 2) b->MakeFolder(path);
  if (c.thing == 2) b->MakeFile(path + "\\left.msp", kArchive, "x");
  if (c.thing == 3) b->MakeFile(path, kArchive, "x");
  EXPECT_EQ(p.files.RemoveDirectoryW(W(path).c_str()), c.ok);
  if (!c.ok) {
    EXPECT_EQ(p.files.GetLastError(), c.error);
  }
  EXPECT_EQ(p.files.GetFileAttributesW(W(path).c_str()) == win::INVALID_FILE_ATTRIBUTES,
            c.ok || c.thing == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveFolderRules,
    ::testing::Values(RemoveFolderCase{"Empty", 1, win::TRUE, 0},
                      RemoveFolderCase{"NotEmpty", 2, win::FALSE, win::ERROR_DIR_NOT_EMPTY},
                      RemoveFolderCase{"Missing", 0, win::FALSE, win::ERROR_FILE_NOT_FOUND},
                      RemoveFolderCase{"AFile", 3, win::FALSE, win::ERROR_DIRECTORY}),
    [](const auto& i) { return std::string(i.param.name); });

// --- random bytes ----------------------------------------------------------------------------------

TEST_F(Contract, RandomBytesFromAVerifyOnlyContext) {
  win::UniqueCryptProvider provider(p.security);
  ASSERT_EQ(p.security.CryptAcquireContextW(provider.put(), nullptr, nullptr, win::PROV_RSA_FULL,
                                            win::CRYPT_VERIFYCONTEXT),
            win::TRUE);
  ASSERT_FALSE(win::IsNull(provider.get()));
  std::uint8_t a[16] = {}, c[16] = {};
  ASSERT_EQ(p.security.CryptGenRandom(provider.get(), sizeof a, a), win::TRUE);
  ASSERT_EQ(p.security.CryptGenRandom(provider.get(), sizeof c, c), win::TRUE);
  // Two draws of 128 bits are equal with a chance of 2^-128.
  EXPECT_NE(std::memcmp(a, c, sizeof a), 0);
}

// --- a file held open, as the updater holds the copy of its package ------------------------------------

struct HeldCase {
  const char* name;
  int action;  // 0 a second reader sharing reads, 1 one that denies them, 2 delete, 3 rename,
               // 4 copy over it, 5 rename its folder
  win::BOOL ok;
  win::DWORD error;
  const char* wineDifference;  // where Wine lets it happen
};

class HeldOpen : public Contract, public ::testing::WithParamInterface<HeldCase> {};

// Read access with read sharing only: the content can be read to its end, other readers that
// share reading can open it, and nobody can delete, rename or replace it until it is closed.
TEST_P(HeldOpen, NoChangeWhileTheHandleIsOpen) {
  const HeldCase& c = GetParam();
  const std::string folder = b->Scratch() + "\\held";
  b->MakeFolder(folder);
  const std::string path = folder + "\\qvupdate.msp";
  const std::string content(70000, 'p');
  b->MakeFile(path, kArchive, content);
  win::UniqueHandle file(p.processes);
  file.reset(p.files.CreateFileW(W(path).c_str(), win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                 win::OPEN_EXISTING, win::FILE_FLAG_SEQUENTIAL_SCAN, win::HANDLE{}));
  ASSERT_TRUE(file);
  std::string read;
  std::vector<char> buffer(65536);
  for (;;) {
    win::DWORD n = 0;
    ASSERT_EQ(p.files.ReadFile(file.get(), buffer.data(), static_cast<win::DWORD>(buffer.size()), &n,
                               nullptr),
              win::TRUE);
    if (n == 0) break;
    read.append(buffer.data(), n);
  }
  EXPECT_EQ(read, content);

  const std::string other = b->Scratch() + "\\other.msp";
  b->MakeFile(other, kArchive, "other");
  win::BOOL ok = win::FALSE;
  switch (c.action) {
    case 0:
    case 1: {
      win::UniqueHandle second(p.processes);
      second.reset(p.files.CreateFileW(W(path).c_str(), win::GENERIC_READ,
                                       c.action == 0 ? win::FILE_SHARE_READ : 0, nullptr,
                                       win::OPEN_EXISTING, 0, win::HANDLE{}));
      ok = second ? win::TRUE : win::FALSE;
      break;
    }
    case 2: ok = p.files.DeleteFileW(W(path).c_str()); break;
    case 3: ok = p.files.MoveFileExW(W(path).c_str(), W(folder + "\\moved.msp").c_str(), 0); break;
    case 4: ok = p.files.CopyFileW(W(other).c_str(), W(path).c_str(), win::FALSE); break;
    case 5: ok = p.files.MoveFileExW(W(folder).c_str(), W(folder + "-aside").c_str(), 0); break;
  }
  const win::DWORD error = ok ? 0 : p.files.GetLastError();
  if (b->IsWine() && *c.wineDifference) {
    EXPECT_EQ(ok, win::TRUE) << "Wine difference: " << c.wineDifference;
    return;
  }
  EXPECT_EQ(ok, c.ok);
  EXPECT_EQ(error, c.error);
  if (!c.ok) {
    EXPECT_EQ(b->ReadFile(path).value_or("<gone>"), content);
  }
  file.reset();
  // Closed, it goes.
  if (c.action != 5 || !c.ok) {
    EXPECT_EQ(p.files.DeleteFileW(W(path).c_str()), c.action == 2 && c.ok ? win::FALSE : win::TRUE);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeldOpen,
    ::testing::Values(HeldCase{"ReaderSharingReads", 0, win::TRUE, 0, ""},
                      HeldCase{"ReaderDenyingReads", 1, win::FALSE, win::ERROR_SHARING_VIOLATION, ""},
                      HeldCase{"Delete", 2, win::FALSE, win::ERROR_SHARING_VIOLATION, ""},
                      HeldCase{"Rename", 3, win::FALSE, win::ERROR_SHARING_VIOLATION, ""},
                      HeldCase{"CopyOverIt", 4, win::FALSE, win::ERROR_SHARING_VIOLATION, ""},
                      HeldCase{"RenameItsFolder", 5, win::FALSE, win::ERROR_ACCESS_DENIED,
                               "Wine renames a folder with an open file in it (a Unix rename); "
                               "Windows refuses, so the protected folder cannot be moved aside "
                               "while the updater holds the copy"}),
    [](const auto& i) { return std::string(i.param.name); });

// What cannot be removed now is marked for removal at the next restart; it stays until then.
TEST_F(Contract, RemovalAtTheNextRestart) {
  const std::string path = b->Scratch() + "\\left.msp";
  b->MakeFile(path, kArchive, "x");
  EXPECT_EQ(p.files.MoveFileExW(W(path).c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT), win::TRUE);
  EXPECT_EQ(b->ReadFile(path).value_or("<gone>"), "x");
}

// --- shell links ------------------------------------------------------------------------------------------

TEST_F(Contract, ShellLinkNeedsCom) {
  win::IShellLinkW* link = nullptr;
  EXPECT_EQ(p.shell.CoCreateShellLink(&link), win::CO_E_NOTINITIALIZED);
  EXPECT_EQ(link, nullptr);
}

struct SaveCase {
  const char* name;
  int existing;  // 0 none, 1 file, 2 folder
  win::DWORD attributes;
  bool folderMissing;
  win::HRESULT expected;
};

class SaveRules : public Contract, public ::testing::WithParamInterface<SaveCase> {
 protected:
  void SetUp() override { ASSERT_EQ(p.shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_OK); }
  void TearDown() override { p.shell.CoUninitialize(); }
};

TEST_P(SaveRules, WritesWhereWindowsWrites) {
  const SaveCase& c = GetParam();
  if (b->IsWine() && c.existing == 1 && (c.attributes & win::FILE_ATTRIBUTE_HIDDEN))
    GTEST_SKIP() << "Wine overwrites a hidden file with CREATE_ALWAYS; Windows refuses";
  if (b->IsWine() && c.existing == 1 && (c.attributes & win::FILE_ATTRIBUTE_READONLY))
    GTEST_SKIP() << "Wine run by the superuser writes into a read-only file; Windows refuses";
  const std::string scratch = b->Scratch();
  const std::string link = scratch + (c.folderMissing ? "\\none\\Sync.lnk" : "\\Sync.lnk");
  if (c.existing == 1) b->MakeFile(link, c.attributes, "old");
  if (c.existing == 2) b->MakeFolder(link);
  const std::string target = b->ChildProgram();
  {
    win::ComRef<win::IShellLinkW> shellLink;
    ASSERT_EQ(p.shell.CoCreateShellLink(shellLink.put()), win::S_OK);
    win::ComRef<win::IPersistFile> file;
    ASSERT_EQ(shellLink->QueryInterfacePersistFile(file.put()), win::S_OK);
    EXPECT_EQ(shellLink->SetPath(W(target).c_str()), win::S_OK);
    EXPECT_EQ(shellLink->SetDescription(u"Syncs two Quorvia data files."), win::S_OK);
    EXPECT_EQ(shellLink->SetIconLocation(W(target).c_str(), 0), win::S_OK);
    EXPECT_EQ(shellLink->SetShowCmd(win::SW_SHOWNORMAL), win::S_OK);
    EXPECT_EQ(shellLink->Resolve(win::HWND{}, win::SLR_UPDATE), win::S_OK);  // the target exists
    EXPECT_EQ(file->Save(W(link).c_str(), win::FALSE), c.expected);
  }
  const std::optional<std::string> content = b->ReadFile(link);
  if (c.expected == win::S_OK) {
    ASSERT_TRUE(content.has_value());
    EXPECT_NE(*content, "old");
  } else if (c.existing == 1) {
    EXPECT_EQ(content.value_or(""), "old");
  } else if (c.existing == 0) {
    EXPECT_FALSE(content.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveRules,
    ::testing::Values(SaveCase{"New", 0, 0, false, win::S_OK},
                      SaveCase{"OverOrdinaryFile", 1, win::FILE_ATTRIBUTE_ARCHIVE, false, win::S_OK},
                      SaveCase{"MissingFolder", 0, 0, true, win::HRESULT_FROM_WIN32(win::ERROR_PATH_NOT_FOUND)},
                      SaveCase{"OverReadOnly", 1, win::FILE_ATTRIBUTE_READONLY, false, win::E_ACCESSDENIED},
                      SaveCase{"OverHidden", 1, win::FILE_ATTRIBUTE_HIDDEN, false, win::E_ACCESSDENIED},
                      SaveCase{"OverFolder", 2, 0, false, win::E_ACCESSDENIED}),
    [](const auto& i) { return std::string(i.param.name); });

// A shortcut named, placed and pointing outside the ANSI code page is written where it was named.
TEST_F(Contract, ShellLinkOutsideTheAnsiCodePage) {
  ASSERT_EQ(p.shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_OK);
  const std::string folder = b->Scratch() + "\\" + kForeignName;
  b->MakeFolder(folder);
  const std::string target = folder + "\\child.exe";
  b->CopyChildProgram(target);
  const std::string link = folder + "\\\xd0\xa1\xd0\xb8\xd0\xbd\xd1\x85\xd1\x80.lnk";  // "Синхр.lnk"
  {
    win::ComRef<win::IShellLinkW> shellLink;
    ASSERT_EQ(p.shell.CoCreateShellLink(shellLink.put()), win::S_OK);
    win::ComRef<win::IPersistFile> file;
    ASSERT_EQ(shellLink->QueryInterfacePersistFile(file.put()), win::S_OK);
    EXPECT_EQ(shellLink->SetPath(W(target).c_str()), win::S_OK);
    EXPECT_EQ(shellLink->SetDescription(u"Synchronisiert \u0142\u0105cznie \u20ac"), win::S_OK);
    EXPECT_EQ(shellLink->SetIconLocation(W(target).c_str(), 0), win::S_OK);
    EXPECT_EQ(shellLink->Resolve(win::HWND{}, win::SLR_UPDATE), win::S_OK);  // the target is found
    EXPECT_EQ(file->Save(W(link).c_str(), win::FALSE), win::S_OK);
  }
  p.shell.CoUninitialize();
  EXPECT_TRUE(b->ReadFile(link).has_value());
}

// --- windows ------------------------------------------------------------------------------------------------

TEST_F(Contract, HiddenFormWindowIsFoundUntilDestroyed) {
  const win::HWND form =
      p.windows.CreateFormWindow(p.system.GetModuleHandleA(nullptr), u"QV Contract Form", 1);
  ASSERT_FALSE(win::IsNull(form));
  EXPECT_EQ(p.windows.FindWindowExA(win::HWND{}, win::HWND{}, "qv3updateiconform", "qv contract FORM"), form);
  EXPECT_TRUE(win::IsNull(p.windows.FindWindowExA(form, win::HWND{}, nullptr, nullptr)));  // no children
  win::DWORD process = 0;
  EXPECT_NE(p.windows.GetWindowThreadProcessId(form, &process), 0u);
  EXPECT_NE(process, 0u);
  EXPECT_EQ(p.windows.AttachThreadInput(0, p.windows.GetWindowThreadProcessId(form, nullptr), win::TRUE),
            win::FALSE);
  EXPECT_EQ(p.windows.DestroyWindow(form), win::TRUE);
  EXPECT_TRUE(win::IsNull(p.windows.FindWindowExA(win::HWND{}, win::HWND{}, "QV3UpdateIconForm", "QV Contract Form")));
  EXPECT_EQ(p.windows.DestroyWindow(form), win::FALSE);
}

// --- dialogs and error reporting without anything shown ---------------------------------------------------

TEST_F(Contract, TaskDialogWithWrongSizeShowsNothing) {
  win::TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config + 4;
  int pressed = 0;
  EXPECT_EQ(p.dialogs.TaskDialogIndirect(&config, &pressed, nullptr, nullptr), win::E_INVALIDARG);
  EXPECT_EQ(pressed, 0);
}

TEST_F(Contract, ErrorReportingExclusionForTheUser) {
  EXPECT_EQ(p.shell.WerAddExcludedApplication(u"qv_contract_probe.exe", win::FALSE), win::S_OK);
}

}  // namespace
}  // namespace qv::contract
