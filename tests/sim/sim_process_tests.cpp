// Child processes on the simulated machine: which executable Windows would start for a command
// line, the search order of a bare program name, what is recorded, and the handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace qv::sim {
namespace {

constexpr char kUpdaterFolder[] = "C:\\Users\\User\\Downloads";

struct Started {
  win::BOOL ok;
  win::PROCESS_INFORMATION pi;
};

// The command line comes as UTF-8 and is passed in UTF-16, in a writable buffer as Windows wants.
Started Start(SimMachine& m, const char16_t* app, const std::string& commandLine,
              const char16_t* currentDirectory = nullptr) {
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  Started s{};
  Text line = Utf8ToText(commandLine);
  s.ok = m.platform().processes.CreateProcessW(app, commandLine.empty() ? nullptr : line.data(),
                                               nullptr, nullptr, win::TRUE,
                                               win::NORMAL_PRIORITY_CLASS, nullptr,
                                               currentDirectory, &si, &s.pi);
  return s;
}

void CloseBoth(SimMachine& m, const Started& s) {
  m.platform().processes.CloseHandle(s.pi.hThread);
  m.platform().processes.CloseHandle(s.pi.hProcess);
}

// --- image resolution ---------------------------------------------------------------------------

struct ImageCase {
  const char* name;
  std::vector<const char*> files;  // executables on the machine besides the standard ones
  const char16_t* application;     // lpApplicationName, or null
  const char* commandLine;
  const char* expectedImage;       // empty: CreateProcessW fails with ERROR_FILE_NOT_FOUND
  int windowsBits = 64;            // the updater is 32-bit: under WOW64 on 64-bit Windows
};

class ImageResolution : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageResolution, StartsTheProgramWindowsWouldStart) {
  const ImageCase& c = GetParam();
  MachineConfig config;
  config.windowsBits = c.windowsBits;
  SimMachine m(config);
  for (const char* f : c.files) m.AddExecutable(f, std::nullopt);
  const Started s = Start(m, c.application, c.commandLine ? c.commandLine : "");
  ASSERT_EQ(m.Processes().size(), 1u);
  const ProcessRecord& r = m.Processes()[0];
  if (*c.expectedImage == '\0') {
    EXPECT_EQ(s.ok, win::FALSE);
    EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(win::IsNull(s.pi.hProcess));
    EXPECT_TRUE(win::IsNull(s.pi.hThread));
    EXPECT_EQ(s.pi.dwProcessId, 0u);
    EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  } else {
    ASSERT_EQ(s.ok, win::TRUE);
    EXPECT_EQ(r.imagePath, c.expectedImage);
    EXPECT_TRUE(r.started);
    CloseBoth(m, s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ImageResolution,
    ::testing::Values(
        // Under WOW64 the system folder is SysWOW64 for the 32-bit updater.
        ImageCase{"BareNameFromSystemFolder", {}, nullptr,
                  "msiexec.exe /qb /p \"C:\\Users\\User\\Downloads\\qvupdate.msp\"",
                  "C:\\Windows\\SysWOW64\\msiexec.exe"},
        ImageCase{"BareNameFromSystemFolderOn32BitWindows", {}, nullptr, "msiexec.exe /qb",
                  "C:\\Windows\\system32\\msiexec.exe", 32},
        ImageCase{"BareNameWithoutExtensionGetsExe", {}, nullptr, "msiexec /qb",
                  "C:\\Windows\\SysWOW64\\msiexec.exe"},
        ImageCase{"SystemFolderNamedIsSysWow64", {}, u"C:\\Windows\\system32\\msiexec.exe",
                  "msiexec.exe /qb", "C:\\Windows\\SysWOW64\\msiexec.exe"},
        ImageCase{"SystemFolderNamedOn32BitWindows", {}, u"C:\\WINDOWS\\System32\\msiexec.exe",
                  "msiexec.exe /qb", "C:\\Windows\\system32\\msiexec.exe", 32},
        ImageCase{"SixtyFourBitOnlyProgramUnseenUnderWow64",
                  {"C:\\Windows\\system32\\only64.exe"}, u"C:\\Windows\\system32\\only64.exe",
                  "only64.exe", ""},
        ImageCase{"ExemptSubfolderNotRedirected", {"C:\\Windows\\system32\\spool\\tool.exe"},
                  u"C:\\Windows\\system32\\spool\\tool.exe", "tool.exe",
                  "C:\\Windows\\system32\\spool\\tool.exe"},
        ImageCase{"PlantedBesideUpdaterWinsOverSystemFolder",
                  {"C:\\Users\\User\\Downloads\\msiexec.exe"}, nullptr, "msiexec.exe /qb",
                  "C:\\Users\\User\\Downloads\\msiexec.exe"},
        ImageCase{"WindowsFolderAfterSystemFolder", {"C:\\Windows\\notepad.exe"}, nullptr,
                  "notepad.exe x.txt", "C:\\Windows\\notepad.exe"},
        ImageCase{"SystemFolderBeforeWindowsFolder",
                  {"C:\\Windows\\tool.exe", "C:\\Windows\\SysWOW64\\tool.exe"}, nullptr, "tool",
                  "C:\\Windows\\SysWOW64\\tool.exe"},
        ImageCase{"UnquotedPathWithSpaces",
                  {"C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"}, nullptr,
                  "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe /RegisterQVGetShellItem",
                  "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"},
        ImageCase{"UnquotedPathTakesFirstExistingPrefix",
                  {"C:\\Program.exe", "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"}, nullptr,
                  "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe /RegisterQVGetShellItem",
                  "C:\\Program.exe"},
        ImageCase{"UnquotedPathSecondPrefix",
                  {"C:\\Program Files (x86)\\Quorvia.exe",
                   "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"},
                  nullptr, "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe /Register",
                  "C:\\Program Files (x86)\\Quorvia.exe"},
        ImageCase{"QuotedPathIsOneName",
                  {"C:\\Program.exe", "C:\\Program Files\\App\\a.exe"}, nullptr,
                  "\"C:\\Program Files\\App\\a.exe\" /x", "C:\\Program Files\\App\\a.exe"},
        ImageCase{"QuotedPathIsNotSplit", {"C:\\Program.exe"}, nullptr,
                  "\"C:\\Program Files\\App\\missing.exe\" /x", ""},
        ImageCase{"CaseIsIgnored", {"C:\\Apps\\Tool.EXE"}, nullptr, "c:\\APPS\\tool.exe",
                  "C:\\Apps\\Tool.EXE"},
        ImageCase{"FolderIsNoProgram", {"C:\\Apps\\x.exe\\inner.exe"}, nullptr,
                  "C:\\Apps\\x.exe", ""},
        ImageCase{"MissingProgram", {}, nullptr, "nosuch.exe /a", ""},
        ImageCase{"ApplicationNameIsTakenAsGiven", {"C:\\Tools\\run.exe"},
                  u"C:\\Tools\\run.exe", "anything at all", "C:\\Tools\\run.exe"},
        ImageCase{"ApplicationNameGetsNoExtension", {"C:\\Tools\\run.exe"}, u"C:\\Tools\\run",
                  "run", ""},
        ImageCase{"ApplicationNameIsNotSearched", {}, u"msiexec.exe", "msiexec.exe /qb", ""},
        // Names in any script are resolved as the user spelled them (UTF-8 on the machine).
        ImageCase{"QuotedNameOutsideTheAnsiCodePage",
                  {"C:\\U\xc5\xbcytkownik\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3.exe"}, nullptr,
                  "\"c:\\u\xc5\xbcytkownik\\\xd0\xbf\xd1\x80\xd0\xbe\xd0\xb3.exe\" /x",
                  "C:\\U\xc5\xbcytkownik\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3.exe"},
        ImageCase{"ApplicationNameOutsideTheAnsiCodePage",
                  {"C:\\Tools\\\xe5\xb7\xa5\xe5\x85\xb7.exe"}, u"C:\\Tools\\\u5de5\u5177.exe",
                  "x", "C:\\Tools\\\xe5\xb7\xa5\xe5\x85\xb7.exe"},
        ImageCase{"DifferentLetterIsAnotherProgram", {"C:\\Tools\\\xc5\x81\xc3\xb3" "d\xc5\xba.exe"},
                  nullptr, "C:\\Tools\\Lodz.exe", ""}),
    [](const ::testing::TestParamInfo<ImageCase>& i) { return std::string(i.param.name); });

TEST(ProcessSearch, CurrentDirectoryComesAfterTheUpdaterFolder) {
  MachineConfig config;
  config.currentDirectory = "C:\\Work";
  SimMachine m(config);
  m.AddExecutable("C:\\Work\\helper.exe", std::nullopt);
  m.AddExecutable("C:\\Windows\\system32\\helper.exe", std::nullopt);
  Started s = Start(m, nullptr, "helper.exe");
  ASSERT_EQ(s.ok, win::TRUE);
  EXPECT_EQ(m.Processes()[0].imagePath, "C:\\Work\\helper.exe");
  CloseBoth(m, s);
  m.AddExecutable(std::string(kUpdaterFolder) + "\\helper.exe", std::nullopt);
  s = Start(m, nullptr, "helper.exe");
  ASSERT_EQ(s.ok, win::TRUE);
  EXPECT_EQ(m.Processes()[1].imagePath, "C:\\Users\\User\\Downloads\\helper.exe");
  CloseBoth(m, s);
}

TEST(ProcessSearch, PathFoldersComeLast) {
  SimMachine m;
  m.SetEnvironment("PATH", "C:\\Tools;C:\\More");
  m.AddExecutable("C:\\More\\late.exe", std::nullopt);
  Started s = Start(m, nullptr, "late");
  ASSERT_EQ(s.ok, win::TRUE);
  EXPECT_EQ(m.Processes()[0].imagePath, "C:\\More\\late.exe");
  CloseBoth(m, s);
}

// --- what is recorded, effects, handles ----------------------------------------------------------

TEST(ProcessStart, RecordsEveryArgumentAndRunsTheEffectOnce) {
  SimMachine m;
  int runs = 0;
  std::string seenLine;
  m.OnProcessStart("c:\\windows\\SYSTEM32\\msiexec.exe",
                   [&](SimMachine& machine, const ProcessRecord& r) {
                     ++runs;
                     seenLine = *r.commandLine;
                     machine.SetFileVersion("C:\\App\\QVApp.exe", FileVersion{1, 2, 3, 5});
                   });
  win::STARTUPINFOW si{};
  si.cb = 68;
  si.dwFlags = 1;
  si.wShowWindow = 5;
  char16_t desktop[] = u"winsta0\\default";
  si.lpDesktop = desktop;
  win::PROCESS_INFORMATION pi{};
  // The package path holds a letter no Western ANSI code page has (Polish "ł").
  char16_t line[] = u"msiexec.exe /qb /p \"C:\\x y\\\u0142\\qvupdate.msp\"";
  const std::string lineUtf8 = "msiexec.exe /qb /p \"C:\\x y\\\xc5\x82\\qvupdate.msp\"";
  win::SECURITY_ATTRIBUTES sa{sizeof(win::SECURITY_ATTRIBUTES), nullptr, win::FALSE};
  ASSERT_EQ(m.platform().processes.CreateProcessW(nullptr, line, &sa, nullptr, win::FALSE, 0x20,
                                                  nullptr, u"C:\\Windows", &si, &pi),
            win::TRUE);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(seenLine, lineUtf8);
  ASSERT_NE(m.FindFile("C:\\App\\QVApp.exe"), nullptr);
  const ProcessRecord& r = m.Processes().at(0);
  EXPECT_FALSE(r.applicationName.has_value());
  EXPECT_EQ(r.commandLine, lineUtf8);
  EXPECT_TRUE(r.processAttributesGiven);
  EXPECT_FALSE(r.threadAttributesGiven);
  EXPECT_FALSE(r.inheritHandles);
  EXPECT_EQ(r.creationFlags, 0x20u);
  EXPECT_FALSE(r.environmentGiven);
  EXPECT_EQ(r.currentDirectory, std::string("C:\\Windows"));
  EXPECT_EQ(r.startupInfo.cb, 68u);
  EXPECT_EQ(r.startupInfo.dwFlags, 1u);
  EXPECT_EQ(r.startupInfo.wShowWindow, 5);
  EXPECT_EQ(r.desktop, std::string("winsta0\\default"));
  EXPECT_FALSE(r.title.has_value());
  EXPECT_NE(pi.dwProcessId, 0u);
  EXPECT_EQ(r.processId, pi.dwProcessId);
  EXPECT_EQ(r.threadId, pi.dwThreadId);
  EXPECT_FALSE(r.waitedFor);
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::Process), 1u);
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::Thread), 1u);

  auto& p = m.platform().processes;
  EXPECT_EQ(p.WaitForSingleObject(pi.hProcess, win::INFINITE), win::WAIT_OBJECT_0);
  EXPECT_TRUE(m.Processes()[0].waitedFor);
  EXPECT_EQ(p.CloseHandle(pi.hThread), win::TRUE);
  EXPECT_EQ(p.CloseHandle(pi.hProcess), win::TRUE);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  // A second close of the same handle fails, as does a wait on it.
  EXPECT_EQ(p.CloseHandle(pi.hProcess), win::FALSE);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
  EXPECT_EQ(p.WaitForSingleObject(pi.hProcess, win::INFINITE), win::WAIT_FAILED);
}

TEST(ProcessStart, EffectsOfOtherProgramsDoNotRun) {
  SimMachine m;
  int runs = 0;
  m.OnProcessStart("C:\\Windows\\system32\\other.exe", [&](SimMachine&, const ProcessRecord&) { ++runs; });
  Started s = Start(m, nullptr, "msiexec.exe /qb");
  ASSERT_EQ(s.ok, win::TRUE);
  EXPECT_EQ(runs, 0);
  CloseBoth(m, s);
}

TEST(ProcessStart, NullHandlesFailWaitAndClose) {
  SimMachine m;
  auto& p = m.platform().processes;
  EXPECT_EQ(p.WaitForSingleObject(win::HANDLE{}, win::INFINITE), win::WAIT_FAILED);
  EXPECT_EQ(p.CloseHandle(win::HANDLE{}), win::FALSE);
  EXPECT_EQ(p.CloseHandle(win::MakeHandle<win::HANDLE>(0x7777)), win::FALSE);
  EXPECT_EQ(m.LastError(), static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
}

struct StartFailureCase {
  const char* name;
  const char16_t* commandLine;
  const char16_t* currentDirectory;
  bool damaged;     // FailProcessStart on msiexec.exe
  bool planned;     // a planned failure of CreateProcessW
  win::DWORD error;
};

class StartFailures : public ::testing::TestWithParam<StartFailureCase> {};

TEST_P(StartFailures, LeaveAZeroRecordAndNoHandle) {
  const StartFailureCase& c = GetParam();
  SimMachine m;
  if (c.damaged) m.FailProcessStart("C:\\Windows\\System32\\MSIEXEC.EXE");
  if (c.planned) m.kernel().AddFault(FaultRule{"CreateProcessW", 1, 0});
  int runs = 0;
  m.OnProcessStart("C:\\Windows\\system32\\msiexec.exe", [&](SimMachine&, const ProcessRecord&) { ++runs; });
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  win::PROCESS_INFORMATION pi;
  std::memset(&pi, 0xAB, sizeof pi);
  Text line = c.commandLine;
  EXPECT_EQ(m.platform().processes.CreateProcessW(nullptr, line.data(), nullptr, nullptr, win::TRUE,
                                                  0x20, nullptr, c.currentDirectory, &si, &pi),
            win::FALSE);
  EXPECT_EQ(m.LastError(), c.error);
  EXPECT_TRUE(win::IsNull(pi.hProcess));
  EXPECT_TRUE(win::IsNull(pi.hThread));
  EXPECT_EQ(pi.dwProcessId, 0u);
  EXPECT_EQ(pi.dwThreadId, 0u);
  EXPECT_EQ(runs, 0);
  ASSERT_EQ(m.Processes().size(), 1u);
  EXPECT_FALSE(m.Processes()[0].started);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartFailures,
    ::testing::Values(
        StartFailureCase{"Missing", u"nothere.exe", nullptr, false, false, win::ERROR_FILE_NOT_FOUND},
        StartFailureCase{"Damaged", u"msiexec.exe /qb", nullptr, true, false, 193},
        StartFailureCase{"Planned", u"msiexec.exe /qb", nullptr, false, true, win::ERROR_ACCESS_DENIED},
        StartFailureCase{"MissingCurrentDirectory", u"msiexec.exe /qb", u"C:\\NoSuchFolder", false,
                         false, 267}),
    [](const ::testing::TestParamInfo<StartFailureCase>& i) { return std::string(i.param.name); });

// --- system -----------------------------------------------------------------------------------------

struct BitsCase {
  int windowsBits, processBits;
  win::BOOL wow64;
};

class Wow64 : public ::testing::TestWithParam<BitsCase> {};

TEST_P(Wow64, OnlyA32BitProcessOn64BitWindows) {
  MachineConfig config;
  config.windowsBits = GetParam().windowsBits;
  config.processBits = GetParam().processBits;
  SimMachine m(config);
  auto& s = m.platform().system;
  win::BOOL flag = 7;
  ASSERT_EQ(s.IsWow64Process(s.GetCurrentProcess(), &flag), win::TRUE);
  EXPECT_EQ(flag, GetParam().wow64);
}

INSTANTIATE_TEST_SUITE_P(Bits, Wow64,
                         ::testing::Values(BitsCase{64, 32, win::TRUE}, BitsCase{64, 64, win::FALSE},
                                           BitsCase{32, 32, win::FALSE}));

TEST(System, IsWow64ProcessUnavailableOrPlannedFailureLeavesTheFlag) {
  SimMachine m;
  auto& s = m.platform().system;
  win::BOOL flag = win::FALSE;
  m.SetIsWow64ProcessAvailable(false);
  EXPECT_EQ(s.IsWow64Process(s.GetCurrentProcess(), &flag), win::FALSE);
  EXPECT_EQ(flag, win::FALSE);
  m.SetIsWow64ProcessAvailable(true);
  m.kernel().AddFault(FaultRule{"IsWow64Process", 0, 0});
  EXPECT_EQ(s.IsWow64Process(s.GetCurrentProcess(), &flag), win::FALSE);
  EXPECT_EQ(flag, win::FALSE);
}

TEST(System, CurrentProcessIsAPseudoHandleOutsideTheTable) {
  SimMachine m;
  auto& s = m.platform().system;
  const win::HANDLE h = s.GetCurrentProcess();
  EXPECT_EQ(win::HandleValue(h), ~std::uintptr_t{0});
  EXPECT_EQ(m.kernel().Find(win::HandleValue(h)), nullptr);
  EXPECT_EQ(m.platform().processes.CloseHandle(h), win::TRUE);
}

struct VersionCase {
  const char* name;
  win::DWORD size;
  bool queryFails;
  win::BOOL ok;
};

class VersionQuery : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionQuery, ChecksTheRecordSize) {
  MachineConfig config;
  config.major = 5;
  config.minor = 1;
  config.versionQueryFails = GetParam().queryFails;
  SimMachine m(config);
  unsigned char buffer[160] = {};
  auto* info = reinterpret_cast<win::OSVERSIONINFOA*>(buffer);
  info->dwOSVersionInfoSize = GetParam().size;
  EXPECT_EQ(m.platform().system.GetVersionExA(info), GetParam().ok);
  EXPECT_EQ(info->dwMajorVersion, GetParam().ok ? 5u : 0u);
  EXPECT_EQ(info->dwMinorVersion, GetParam().ok ? 1u : 0u);
  if (GetParam().ok) {
    EXPECT_EQ(info->dwPlatformId, 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, VersionQuery,
    ::testing::Values(VersionCase{"Plain", 148, false, win::TRUE},
                      VersionCase{"Extended", 156, false, win::TRUE},
                      VersionCase{"Zero", 0, false, win::FALSE},
                      VersionCase{"WideRecord", 276, false, win::FALSE},
                      VersionCase{"QueryFails", 148, true, win::FALSE}),
    [](const ::testing::TestParamInfo<VersionCase>& i) { return std::string(i.param.name); });

struct ModuleNameCase {
  const char* name;
  win::DWORD major;
  win::DWORD size;
  win::DWORD result;
  const char16_t* text;  // buffer contents (up to the terminator, or `size` characters)
  bool terminated;
};

class ModuleFileName : public ::testing::TestWithParam<ModuleNameCase> {};

TEST_P(ModuleFileName, CopiesOrCutsLikeWindows) {
  const ModuleNameCase& c = GetParam();
  MachineConfig config;
  config.major = c.major;
  config.exePath = "C:\\D\\QV3Update.exe";  // 18 characters
  SimMachine m(config);
  char16_t buffer[64];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(m.platform().system.GetModuleFileNameW(win::HINSTANCE{}, buffer, c.size), c.result);
  if (c.terminated) {
    EXPECT_EQ(std::u16string(buffer), c.text);
  } else {
    EXPECT_EQ(std::u16string(buffer, c.size), c.text);
    EXPECT_EQ(buffer[c.size], u'x');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ModuleFileName,
    ::testing::Values(ModuleNameCase{"Fits", 6, 64, 18, u"C:\\D\\QV3Update.exe", true},
                      ModuleNameCase{"ExactlyWithTerminator", 6, 19, 18, u"C:\\D\\QV3Update.exe", true},
                      ModuleNameCase{"CutOnVista", 6, 18, 18, u"C:\\D\\QV3Update.ex", true},
                      ModuleNameCase{"CutOnXpWithoutTerminator", 5, 18, 18, u"C:\\D\\QV3Update.exe",
                                     false}),
    [](const ::testing::TestParamInfo<ModuleNameCase>& i) { return std::string(i.param.name); });

// The sizes are UTF-16 characters, not the bytes of the UTF-8 the machine keeps: "C:\Ü\Łódź.exe"
// is 13 characters (17 bytes in UTF-8).
TEST(System, ModuleFileNameCountsCharactersNotBytes) {
  MachineConfig config;
  config.exePath = "C:\\\xc3\x9c\\\xc5\x81\xc3\xb3" "d\xc5\xba.exe";
  SimMachine m(config);
  char16_t buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(m.platform().system.GetModuleFileNameW(win::HINSTANCE{}, buffer, 32), 13u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\\u00dc\\\u0141\u00f3d\u017a.exe");
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(m.platform().system.GetModuleFileNameW(win::HINSTANCE{}, buffer, 14), 13u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\\u00dc\\\u0141\u00f3d\u017a.exe");
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(m.platform().system.GetModuleFileNameW(win::HINSTANCE{}, buffer, 13), 13u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\\u00dc\\\u0141\u00f3d\u017a.ex");
}

TEST(System, SystemDirectoryReportsTheSizeNeededWhenTooSmall) {
  MachineConfig config;
  config.windowsBits = 64;
  config.processBits = 32;
  SimMachine m(config);
  char16_t buffer[64];
  EXPECT_EQ(m.platform().system.GetSystemDirectoryW(buffer, 64), 19u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\Windows\\system32");
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(m.platform().system.GetSystemDirectoryW(buffer, 19), 20u);
  EXPECT_EQ(buffer[0], u'x');
}

TEST(System, OwnModuleHandleIsNotClosable) {
  SimMachine m;
  const win::HINSTANCE h = m.platform().system.GetModuleHandleA(nullptr);
  EXPECT_EQ(h, m.ModuleHandle());
  ASSERT_NE(m.kernel().Find(win::HandleValue(h)), nullptr);
  EXPECT_EQ(m.kernel().Find(win::HandleValue(h))->kind, HandleKind::Module);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  EXPECT_EQ(m.platform().processes.CloseHandle(win::MakeHandle<win::HANDLE>(win::HandleValue(h))),
            win::FALSE);
  EXPECT_EQ(m.platform().system.GetModuleHandleA("QV3Update.exe"), h);
  EXPECT_TRUE(win::IsNull(m.platform().system.GetModuleHandleA("other.dll")));
}

}  // namespace
}  // namespace qv::sim
