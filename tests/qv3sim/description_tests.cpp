// Machine description files: the shipped examples, the built-in default machine, and a clear
// message with file and line for every kind of mistake.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "machine_desc.h"

namespace qv3sim {
namespace {

namespace fs = std::filesystem;

const std::string kExamples = QV3SIM_EXAMPLES_DIR;

TEST(DefaultMachine, EqualsTheShippedExample) {
  const MachineDescription fromFile = ReadDescriptionFile(kExamples + "/default.json");
  const MachineDescription builtIn = DefaultMachine();
  // Field by field first, for a readable failure.
  EXPECT_EQ(fromFile.windowsVersion, builtIn.windowsVersion);
  EXPECT_EQ(fromFile.windowsBits, builtIn.windowsBits);
  EXPECT_EQ(fromFile.updaterBits, builtIn.updaterBits);
  EXPECT_EQ(fromFile.updaterPath, builtIn.updaterPath);
  EXPECT_EQ(fromFile.arguments, builtIn.arguments);
  EXPECT_TRUE(Flatten(fromFile.registry) == Flatten(builtIn.registry))
      << WriteRegFile(Flatten(fromFile.registry)) << "\nvs\n"
      << WriteRegFile(Flatten(builtIn.registry));
  EXPECT_TRUE(fromFile.files == builtIn.files);
  EXPECT_TRUE(fromFile.windows == builtIn.windows);
  EXPECT_TRUE(fromFile.specialFolders == builtIn.specialFolders);
  EXPECT_TRUE(fromFile.answers == builtIn.answers);
  EXPECT_TRUE(fromFile.installer == builtIn.installer);
  EXPECT_TRUE(fromFile == builtIn);
}

TEST(DefaultMachine, HasTheStandardInstallation) {
  const MachineDescription m = DefaultMachine();
  EXPECT_EQ(m.windowsVersion, "6.1");
  EXPECT_EQ(m.windowsBits, 64);
  EXPECT_EQ(m.updaterBits, 32);
  EXPECT_EQ(m.arguments, "/en");
  const RegFile flat = Flatten(m.registry);
  bool appPath = false;
  for (const RegFileKey& k : flat.keys)
    for (const RegFileValue& v : k.values)
      if (k.path == "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia" &&
          v.name == "AppPath") {
        const std::string data(v.value.data.begin(), v.value.data.end());
        EXPECT_EQ(data, std::string("C:\\Program Files (x86)\\Quorvia 3\\") + '\0');
        appPath = true;
      }
  EXPECT_TRUE(appPath);
  bool app = false, shortcut = false;
  for (const FileSpec& f : m.files) {
    if (f.path == "C:\\Program Files (x86)\\Quorvia 3\\QVApp.exe") {
      app = true;
      ASSERT_TRUE(f.version.has_value());
      EXPECT_EQ(VersionText(*f.version), "3.10.0.68");
    }
    shortcut = shortcut || f.path ==
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk";
  }
  EXPECT_TRUE(app);
  EXPECT_TRUE(shortcut);
  ASSERT_EQ(m.windows.size(), 1u);
  EXPECT_EQ(m.windows[0].className, "ThunderRT6FormDC");
  EXPECT_EQ(m.windows[0].caption, "QVShellCommunicator2006");
  ASSERT_EQ(m.windows[0].children.size(), 1u);
  EXPECT_EQ(m.windows[0].children[0].className, "ThunderRT6TextBox");
  EXPECT_EQ(m.installer.effect, InstallerEffect::Raise);
  EXPECT_EQ(VersionText(m.installer.version), "3.10.0.69");
}

TEST(Description, JsonOfAMachineReadsBackAsTheSameMachine) {
  const MachineDescription m = DefaultMachine();
  EXPECT_TRUE(ReadDescription(DescriptionToJson(m), "printed.json") == m);
  MachineDescription other = m;
  other.faults.push_back({"RegSetValueExA", 3, 5});
  other.specialFolders.push_back({35, FolderState::Missing, ""});
  other.files.push_back({"C:\\x\\hidden.lnk", std::nullopt, true, true, true, false});
  other.installer.effect = InstallerEffect::Fail;
  other.environment.emplace_back("TEMP", "C:\\Temp");
  other.codePage = 932;
  other.updaterPackage = "Quorvia 3 patch";
  other.windowsFolder = "C:\\WINNT";
  FileSpec package;
  package.path = "C:\\x\\qvupdate.msp";
  package.content = "Quorvia 3 patch \xc3\xa4";
  other.files.push_back(package);
  UserWriteSpec write;
  write.moment = qv::sim::UserMoment::DuringPrompt;
  write.path = "C:\\x\\qvupdate.msp";
  write.content = "older patch";
  other.userWrites.push_back(write);
  other.uiLanguage = qv::sim::kUiGerman;
  EXPECT_FALSE(other == m);
  EXPECT_TRUE(ReadDescription(DescriptionToJson(other), "printed.json") == other);
}

class ExampleFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleFile, Reads) {
  EXPECT_NO_THROW(ReadDescriptionFile(kExamples + "/" + GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Shipped, ExampleFile,
                         ::testing::Values("default.json", "xp-german.json", "not-installed.json",
                                           "registry-refused.json", "win10-utf8-polish.json",
                                           "refused-package.json", "swap-during-prompt.json",
                                           "xp-x64-german.json", "silent-sccm-restart.json",
                                           "silent-another-install.json"));

TEST(Description, GermanExamplesHaveAGermanWindows) {
  for (const char* name : {"xp-german.json", "xp-x64-german.json"})
    EXPECT_EQ(ReadDescriptionFile(kExamples + "/" + name).uiLanguage, qv::sim::kUiGerman) << name;
  EXPECT_EQ(DefaultMachine().uiLanguage, qv::sim::kUiEnglish);
}

TEST(Description, ReadsEveryField) {
  const MachineDescription m = ReadDescription(R"({
    "windows_version": "5.1",
    "windows_bits": 64,
    "updater_bits": 64,
    "updater_path": "D:\\Setup\\QV3Update.exe",
    "arguments": "/EN /quiet",
    "system_folder": "C:\\WINDOWS\\system32",
    "registry": ["Windows Registry Editor Version 5.00", "", "[HKEY_CURRENT_USER\\X]", "\"a\"=dword:00000002"],
    "files": [ { "path": "C:\\a.lnk", "attributes": ["hidden", "readonly"] },
               { "path": "C:\\dir", "attributes": ["folder"] } ],
    "windows": [ { "class": "C", "caption": "T", "visible": false } ],
    "special_folders": { "23": "fail", "35": "invalid" },
    "answers": ["escape", "closebox", "cannot-show", "close", "cancel"],
    "installer": { "effect": "leave", "path": "C:\\tools\\msiexec.exe" },
    "faults": [ { "function": "CreateProcessA" }, { "function": "", "nth": 7, "code": -5 } ],
    "environment": { "TEMP": "C:\\Temp" },
    "windows_folder": "C:\\WINDOWS",
    "updater_package": "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF",
    "user_writes": [ { "moment": "after-check", "path": "<new folder>\\qvupdate.msp", "content": "x" },
                     { "moment": "before-run", "path": "C:\\a.lnk", "delete": true } ]
  })", "all.json");
  EXPECT_EQ(m.windowsFolder, "C:\\WINDOWS");
  EXPECT_EQ(m.updaterPackage, "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF");
  ASSERT_EQ(m.userWrites.size(), 2u);
  EXPECT_EQ(m.userWrites[0].moment, qv::sim::UserMoment::AfterCheck);
  EXPECT_EQ(m.userWrites[0].content, "x");
  EXPECT_TRUE(m.userWrites[1].remove);
  EXPECT_EQ(m.windowsVersion, "5.1");
  EXPECT_EQ(m.updaterBits, 64);
  EXPECT_EQ(m.arguments, "/EN /quiet");
  ASSERT_EQ(Flatten(m.registry).keys.size(), 1u);
  ASSERT_EQ(m.files.size(), 2u);
  EXPECT_TRUE(m.files[0].hidden && m.files[0].readonly && !m.files[0].system);
  EXPECT_TRUE(m.files[1].folder);
  ASSERT_EQ(m.windows.size(), 1u);
  EXPECT_FALSE(m.windows[0].visible);
  ASSERT_EQ(m.specialFolders.size(), 2u);
  EXPECT_EQ(m.specialFolders[0].csidl, 23);
  EXPECT_EQ(m.specialFolders[0].state, FolderState::Fail);
  EXPECT_EQ(m.specialFolders[1].state, FolderState::Invalid);
  EXPECT_EQ(m.answers.size(), 5u);
  EXPECT_EQ(m.answers[2], qv::sim::Answer::CannotShow);
  EXPECT_EQ(m.installer.effect, InstallerEffect::Leave);
  EXPECT_EQ(m.installer.path, "C:\\tools\\msiexec.exe");
  ASSERT_EQ(m.faults.size(), 2u);
  EXPECT_EQ(m.faults[0].nth, 1u);
  EXPECT_EQ(m.faults[1].code, -5);
}

TEST(Description, EmptyObjectIsAnEmptyMachineWithAnIdleInstaller) {
  const MachineDescription m = ReadDescription("{}", "empty.json");
  EXPECT_TRUE(m.registry.keys.empty());
  EXPECT_TRUE(m.files.empty());
  EXPECT_TRUE(m.windows.empty());
  EXPECT_EQ(m.installer.effect, InstallerEffect::Leave);
  EXPECT_EQ(m.windowsVersion, "6.1");
  EXPECT_EQ(m.updaterBits, 32);
}

struct ErrorCase {
  const char* name;
  std::string json;
  int line;
  const char* message;
};

class DescriptionErrorCase : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DescriptionErrorCase, NamesFileLineAndProblem) {
  const ErrorCase& c = GetParam();
  try {
    ReadDescription(c.json, "machine.json");
    FAIL() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_EQ(e.file(), "machine.json");
    EXPECT_EQ(e.line(), c.line) << e.what();
    EXPECT_NE(e.message().find(c.message), std::string::npos) << e.what();
    // Line 0: a problem of the whole file, which names no line.
    const std::string where =
        c.line ? "machine.json:" + std::to_string(c.line) + ":" : "machine.json: error: ";
    EXPECT_EQ(std::string(e.what()).rfind(where, 0), 0u) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, DescriptionErrorCase,
    ::testing::Values(
        ErrorCase{"MissingComma", "{\n  \"windows_bits\": 64,\n  \"arguments\": \"/en\"\n  \"files\": []\n}",
                  4, "invalid JSON"},
        ErrorCase{"UnclosedObject", "{\n  \"arguments\": \"/en\",\n", 3, "invalid JSON"},
        ErrorCase{"NotJson", "windows: 7\n", 1, "invalid JSON"},
        ErrorCase{"Empty", "", 1, "invalid JSON"},
        ErrorCase{"UnknownTopField", "{\n  \"arguments\": \"/en\",\n  \"colour\": \"blue\"\n}", 3,
                  "unknown field \"colour\""},
        ErrorCase{"UnknownNestedField",
                  "{\n  \"files\": [\n    { \"path\": \"C:\\\\a\" },\n    { \"path\": \"C:\\\\b\",\n"
                  "      \"size\": 3 }\n  ]\n}",
                  5, "files[1].size: unknown field"},
        ErrorCase{"TopLevelArray", "[1, 2]", 1, "expected an object"},
        ErrorCase{"BitsAsString", "{\n\n  \"windows_bits\": \"64\"\n}", 3,
                  "windows_bits: expected an integer, got a string"},
        ErrorCase{"BitsOutOfSet", "{\n  \"updater_bits\": 48\n}", 2, "expected 32 or 64"},
        ErrorCase{"BitsNegative", "{\n  \"windows_bits\": -64\n}", 2, "expected 32 or 64, got -64"},
        ErrorCase{"UnknownCodePage", "{\n  \"arguments\": \"\",\n  \"code_page\": 437\n}", 3,
                  "code_page: expected a system code page the simulation knows"},
        ErrorCase{"BitsFraction", "{\n  \"windows_bits\": 64.5\n}", 2, "got a number with a fraction"},
        ErrorCase{"WindowsVersionWord", "{\n  \"windows_version\": \"seven\"\n}", 2, "major.minor"},
        ErrorCase{"Updater64On32", "{\n  \"windows_bits\": 32,\n  \"updater_bits\": 64\n}", 3,
                  "cannot run on 32-bit Windows"},
        ErrorCase{"ArgumentsNumber", "{\n  \"arguments\": 5\n}", 2, "expected a string, got an integer"},
        ErrorCase{"FileVersionShort",
                  "{\n  \"files\": [\n    { \"path\": \"C:\\\\QVApp.exe\",\n      \"version\": \"3.10.0\" }\n  ]\n}",
                  4, "files[0].version: expected a version"},
        ErrorCase{"FileVersionTooBig",
                  "{\n  \"files\": [ { \"path\": \"C:\\\\x\", \"version\": \"1.2.3.70000\" } ]\n}", 2,
                  "expected a version"},
        ErrorCase{"FileWithoutPath", "{\n  \"files\": [\n    { \"version\": \"1.2.3.4\" }\n  ]\n}", 3,
                  "needs \"path\""},
        ErrorCase{"BadAttribute",
                  "{\n  \"files\": [ { \"path\": \"C:\\\\x\",\n    \"attributes\": [\"archive\"] } ]\n}", 3,
                  "unknown attribute \"archive\""},
        ErrorCase{"BadAnswer", "{\n  \"answers\": [\n    \"confirm\",\n    \"maybe\"\n  ]\n}", 4,
                  "answers[1]: unknown answer \"maybe\""},
        ErrorCase{"BadSpecialFolderValue", "{\n  \"special_folders\": {\n    \"23\": \"nowhere\"\n  }\n}",
                  3, "expected a folder path"},
        ErrorCase{"BadSpecialFolderName", "{\n  \"special_folders\": { \"desktop\": \"C:\\\\x\" }\n}",
                  2, "unknown special folder \"desktop\""},
        ErrorCase{"RaiseWithoutVersion", "{\n  \"installer\": {\n    \"effect\": \"raise\"\n  }\n}", 2,
                  "needs \"version\""},
        ErrorCase{"UnknownEffect", "{\n  \"installer\": {\n    \"effect\": \"explode\"\n  }\n}", 3,
                  "unknown effect"},
        ErrorCase{"FaultWithoutFunction", "{\n  \"faults\": [\n    { \"nth\": 2 }\n  ]\n}", 3,
                  "needs \"function\""},
        ErrorCase{"FaultNegativeNth", "{\n  \"faults\": [ { \"function\": \"X\",\n \"nth\": -1 } ]\n}", 3,
                  "out of range"},
        ErrorCase{"WindowChildWrongType", "{\n  \"windows\": [ { \"class\": \"A\",\n    \"children\": 3 } ]\n}",
                  3, "expected an array"},
        ErrorCase{"BothRegistries",
                  "{\n  \"registry\": \"Windows Registry Editor Version 5.00\\n\",\n  \"registry_file\": \"x.reg\"\n}",
                  3, "not both"},
        // Inline regedit text: an array of lines points at the bad line itself ...
        ErrorCase{"RegistryLineArray",
                  "{\n  \"registry\": [\n    \"Windows Registry Editor Version 5.00\",\n    \"\",\n"
                  "    \"[HKEY_CURRENT_USER\\\\X]\",\n    \"\\\"a\\\"=dword:xyz\"\n  ]\n}",
                  6, "registry[3]: dword: needs"},
        // ... a single string points at the field and names the line inside it.
        ErrorCase{"RegistryString",
                  "{\n  \"arguments\": \"\",\n  \"registry\": \"Windows Registry Editor Version 5.00\\n\\n[HKEY_NOWHERE\\\\X]\\n\"\n}",
                  3, "line 3 of the regedit text: unknown root key"},
        ErrorCase{"RegistryWrongType", "{\n  \"registry\": 5\n}", 2, "expected regedit text"},
        ErrorCase{"RegistryFileMissing", "{\n  \"registry_file\": \"no-such-file.reg\"\n}", 2,
                  "cannot read the registry file"},
        ErrorCase{"ContentNotText",
                  "{\n  \"files\": [ { \"path\": \"C:\\\\x\",\n    \"content\": 5 } ]\n}",
                  3, "files[0].content: expected a string"},
        ErrorCase{"FolderWithContent",
                  "{\n  \"files\": [ { \"path\": \"C:\\\\x\", \"attributes\": [\"folder\"],\n    \"content\": \"x\" } ]\n}",
                  2, "a folder has no content"},
        ErrorCase{"EmptyUpdaterPackage", "{\n  \"updater_package\": \"\"\n}", 2,
                  "expected the package's SHA-256"},
        ErrorCase{"UnknownMoment",
                  "{\n  \"user_writes\": [\n    { \"moment\": \"later\", \"path\": \"C:\\\\x\" } ]\n}", 3,
                  "unknown moment \"later\""},
        ErrorCase{"DeletedWithContent",
                  "{\n  \"user_writes\": [\n    { \"moment\": \"before-run\", \"path\": \"C:\\\\x\",\n"
                  "      \"delete\": true, \"content\": \"k\" } ]\n}",
                  3, "a deleted file has no content"},
        // A description of the time when releases were pinned to a key is told so.
        ErrorCase{"FormerPin", "{\n  \"updater_pin\": \"publisher\"\n}", 2, "updater_pin: unknown field"},
        // A key given twice names both lines; the parser alone would keep the last.
        ErrorCase{"DuplicateKey", "{\n  \"arguments\": \"/en\",\n  \"windows_bits\": 64,\n"
                                  "  \"arguments\": \"\"\n}",
                  4, "arguments: given twice, on line 2 and on line 4"},
        ErrorCase{"DuplicateKeyInAFile",
                  "{\n  \"files\": [ { \"path\": \"C:\\\\a\",\n    \"path\": \"C:\\\\b\" } ]\n}", 3,
                  "files[0].path: given twice, on line 2 and on line 3"},
        ErrorCase{"DuplicateKeyEscaped", "{\n  \"arguments\": \"\",\n  \"\\u0061rguments\": \"/en\"\n}",
                  3, "arguments: given twice"},
        // Numbers where an integer belongs say what they are.
        ErrorCase{"BitsWithExponent", "{\n  \"windows_bits\": 1e99\n}", 2,
                  "expected an integer, got a number too large for an integer (1e+99)"},
        ErrorCase{"BitsWithDecimalPoint", "{\n  \"windows_bits\": 64.0\n}", 2,
                  "got a number written with an exponent or a decimal point (64.0)"},
        ErrorCase{"UnknownUiLanguage", "{\n  \"ui_language\": \"fr-FR\"\n}", 2,
                  "ui_language: expected a Windows UI language the simulation knows: \"en-US\""},
        ErrorCase{"UiLanguageNumber", "{\n  \"ui_language\": 1031\n}", 2,
                  "ui_language: expected a string, got an integer"},
        // The encoding: UTF-8 only, with or without a byte-order mark.
        ErrorCase{"Latin1Byte", "{\n  \"description\": \"M\xE4" "chine\"\n}", 2,
                  "the byte 0xE4 is not UTF-8"},
        ErrorCase{"Utf16LittleEndian", "\xFF\xFE{\0}\0", 0,
                  "the file is UTF-16 (little-endian, with a byte-order mark); a description must "
                  "be UTF-8"},
        ErrorCase{"Utf16WithoutMark", std::string("{\0\"\0}\0", 6), 0,
                  "UTF-16 (little-endian, without a byte-order mark)"},
        ErrorCase{"Utf16BigEndian", std::string("\xFE\xFF\0{\0}", 6), 0, "UTF-16 (big-endian"},
        ErrorCase{"Utf8MarkThenMistake", "\xEF\xBB\xBF{\n  \"colour\": 1\n}", 2,
                  "unknown field \"colour\""}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST(DescriptionErrorColumn, PointsAtTheTokenWhereJsonWentWrong) {
  try {
    ReadDescription("{\n  \"windows_bits\": 64\n  \"arguments\": \"/en\"\n}\n", "m.json");
    FAIL() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_EQ(e.column(), 3);  // the opening quote of "arguments"
  }
  try {
    ReadDescription("{\n  \"files\": [\n    { \"path\": 12 }\n  ]\n}", "m.json");
    FAIL() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_EQ(e.column(), 7);  // the key "path"
  }
}

// A temporary folder with a description and a registry file beside it.
class DescriptionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv3sim_desc_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  fs::path dir_;
};

TEST_F(DescriptionFiles, RegistryFileIsReadBesideTheDescription) {
  Write("machine.reg", ToRegeditBytes("Windows Registry Editor Version 5.00\n\n"
                                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia]\n"
                                      "\"AppPath\"=\"C:\\\\Q\\\\\"\n"));
  const std::string json = Write("machine.json", "{ \"registry_file\": \"machine.reg\" }");
  const MachineDescription m = ReadDescriptionFile(json);
  const RegFile flat = Flatten(m.registry);
  ASSERT_FALSE(flat.keys.empty());
  EXPECT_EQ(flat.keys.back().path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia");
  ASSERT_EQ(flat.keys.back().values.size(), 1u);
  EXPECT_EQ(flat.keys.back().values[0].name, "AppPath");
}

TEST_F(DescriptionFiles, ErrorInRegistryFileNamesThatFileAndLine) {
  const std::string reg = Write("broken.reg", "Windows Registry Editor Version 5.00\n\n"
                                              "[HKEY_CURRENT_USER\\X]\n\"ok\"=\"1\"\n"
                                              "\"bad\"=hex:1,2,zz\n");
  const std::string json = Write("machine.json", "{\n  \"registry_file\": \"broken.reg\"\n}");
  try {
    ReadDescriptionFile(json);
    FAIL() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_EQ(fs::path(e.file()), fs::path(reg));
    EXPECT_EQ(e.line(), 5);
    EXPECT_NE(e.message().find("hex byte"), std::string::npos) << e.what();
  }
}

TEST_F(DescriptionFiles, MissingDescriptionFile) {
  try {
    ReadDescriptionFile((dir_ / "absent.json").string());
    FAIL() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find(
                  "absent.json: error: cannot read the description: there is no such file"),
              std::string::npos)
        << e.what();
  }
}

// Any damage to a description gives a description error or a machine, never anything else.
TEST(DescriptionRobustness, DamagedTextGivesOnlyDescriptionErrors) {
  const std::string text = DescriptionToJson(DefaultMachine());
  std::size_t errors = 0;
  for (std::size_t cut = 0; cut < text.size(); cut += 3) {
    try {
      ReadDescription(text.substr(0, cut), "cut.json");
    } catch (const DescriptionError& e) {
      ++errors;
      EXPECT_GE(e.line(), 1);
    }
  }
  EXPECT_GT(errors, 0u);
  for (std::size_t at = 0; at < text.size(); at += 2) {
    for (char c : {'"', '1', '{', ']', 'x', '\\', '-'}) {
      std::string damaged = text;
      damaged[at] = c;
      try {
        ReadDescription(damaged, "damaged.json");
      } catch (const DescriptionError& e) {
        EXPECT_GE(e.line(), 1);
      }
    }
  }
  // Deep nesting is refused, not followed into a crash.
  EXPECT_THROW(ReadDescription("{\"windows\":" + std::string(100000, '[') , "deep.json"),
               DescriptionError);
}

}  // namespace
}  // namespace qv3sim
