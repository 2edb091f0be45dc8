// The simulated registry as the program sees it through the seam: views, case, handles, planned
// failures, denied keys, the code page, environment expansion and the record of changes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/sim/sim_registry.h"

namespace qv::sim {
namespace {

using win::DWORD;
using win::HKEY;
using win::LONG;

const win::BYTE* Bytes(const char* s) { return reinterpret_cast<const win::BYTE*>(s); }
RegValue Sz(const std::string& s) {
  RegValue v{win::REG_SZ, {}};
  v.data.assign(s.begin(), s.end());
  v.data.push_back(0);
  return v;
}

// --- code page ------------------------------------------------------------------------------

struct CodePageCase {
  const char16_t* text;
  const char* ansi;
};

class CodePageToAnsi : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageToAnsi, ConvertsAsWindows1252) {
  SimCodePage cp;
  EXPECT_EQ(cp.ToAnsi(GetParam().text).bytes(), std::string(GetParam().ansi));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageToAnsi,
    ::testing::Values(CodePageCase{u"abc", "abc"}, CodePageCase{u"Gr\u00FC\u00DFe", "Gr\xFC\xDF" "e"},
                      CodePageCase{u"\u20AC", "\x80"}, CodePageCase{u"\u017D\u017E", "\x8E\x9E"},
                      CodePageCase{u"\u0178\u00FF", "\x9F\xFF"}, CodePageCase{u"\u2122", "\x99"},
                      CodePageCase{u"\u03A9", "?"}, CodePageCase{u"a\u4E2Db", "a?b"},
                      CodePageCase{u"\U0001F600", "?"}, CodePageCase{u"\u0081", "\x81"}));

class CodePageFromAnsi : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageFromAnsi, ConvertsAsWindows1252) {
  SimCodePage cp;
  EXPECT_EQ(cp.FromAnsi(AnsiString(GetParam().ansi)), Text(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageFromAnsi,
    ::testing::Values(CodePageCase{u"abc", "abc"}, CodePageCase{u"\u20AC", "\x80"},
                      CodePageCase{u"\u201A\u0192", "\x82\x83"}, CodePageCase{u"\u0178", "\x9F"},
                      CodePageCase{u"\u00E4\u00F6\u00FC", "\xE4\xF6\xFC"},
                      CodePageCase{u"\u008D", "\x8D"}, CodePageCase{u"\u00A0", "\xA0"}));

// --- views -----------------------------------------------------------------------------------

struct ViewCase {
  const char* name;
  int windowsBits;
  int processBits;
  HKEY root;
  const char* subKey;
  win::REGSAM flags;
  const char* physical;    // where the key lands
  const char* notThere;    // where it must not land (nullptr: nothing to check)
};

class Views : public ::testing::TestWithParam<ViewCase> {};

TEST_P(Views, CreateLandsAtThePhysicalPathOfTheView) {
  const ViewCase& c = GetParam();
  SimKernel kernel;
  SimRegistry reg(kernel, c.windowsBits, c.processBits);
  HKEY key{};
  DWORD disposition = 0;
  ASSERT_EQ(reg.RegCreateKeyExA(c.root, c.subKey, 0, "", 0, 0x3F | c.flags, nullptr, &key,
                                &disposition),
            win::ERROR_SUCCESS);
  EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
  EXPECT_TRUE(reg.KeyExists(c.physical));
  if (c.notThere) {
    EXPECT_FALSE(reg.KeyExists(c.notThere));
  }
  EXPECT_EQ(reg.RegCloseKey(key), win::ERROR_SUCCESS);
  // Opening in the same view finds it again.
  ASSERT_EQ(reg.RegOpenKeyExA(c.root, c.subKey, 0, win::KEY_QUERY_VALUE | c.flags, &key),
            win::ERROR_SUCCESS);
  reg.RegCloseKey(key);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

constexpr const char* kHklm32 = "HKLM\\SOFTWARE\\Wow6432Node\\QV\\A";
constexpr const char* kHklm64 = "HKLM\\SOFTWARE\\QV\\A";

INSTANTIATE_TEST_SUITE_P(
    Table, Views,
    ::testing::Values(
        ViewCase{"Win64Proc32Default", 64, 32, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A", 0,
                 kHklm32, kHklm64},
        ViewCase{"Win64Proc64Default", 64, 64, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A", 0,
                 kHklm64, kHklm32},
        ViewCase{"Win64Proc64Asks32", 64, 64, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A",
                 win::KEY_WOW64_32KEY, kHklm32, kHklm64},
        ViewCase{"Win64Proc32Asks64", 64, 32, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A",
                 win::KEY_WOW64_64KEY, kHklm64, kHklm32},
        ViewCase{"Win32Asks64", 32, 32, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A",
                 win::KEY_WOW64_64KEY, kHklm64, kHklm32},
        ViewCase{"Win32Asks32", 32, 32, win::HKEY_LOCAL_MACHINE, "Software\\QV\\A",
                 win::KEY_WOW64_32KEY, kHklm64, kHklm32},
        ViewCase{"ClsidWin64Proc32", 64, 32, win::HKEY_CLASSES_ROOT, "CLSID\\{1}", 0,
                 "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{1}", "HKCR\\CLSID\\{1}"},
        ViewCase{"ClsidWin64Proc64Asks64", 64, 64, win::HKEY_CLASSES_ROOT, "CLSID\\{1}",
                 win::KEY_WOW64_64KEY, "HKCR\\CLSID\\{1}", "HKCR\\Wow6432Node\\CLSID\\{1}"},
        ViewCase{"ClsidWin32", 32, 32, win::HKEY_CLASSES_ROOT, "CLSID\\{1}", win::KEY_WOW64_32KEY,
                 "HKCR\\CLSID\\{1}", "HKCR\\Wow6432Node\\CLSID\\{1}"},
        ViewCase{"CurrentUserIsShared", 64, 32, win::HKEY_CURRENT_USER, "Software\\QV\\A", 0,
                 "HKEY_CURRENT_USER\\Software\\QV\\A", "HKCU\\Software\\Wow6432Node\\QV\\A"},
        ViewCase{"ExplicitWow6432NodeNotDoubled", 64, 32, win::HKEY_LOCAL_MACHINE,
                 "Software\\Wow6432Node\\QV\\A", 0, kHklm32,
                 "HKLM\\SOFTWARE\\Wow6432Node\\Wow6432Node\\QV\\A"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ViewsOfHandles, RelativeOpensKeepTheViewOfTheirHandle) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  HKEY software{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, "Software", 0,
                              win::KEY_CREATE_SUB_KEY | win::KEY_WOW64_32KEY, &software),
            win::ERROR_SUCCESS);
  HKEY rel{};
  ASSERT_EQ(reg.RegCreateKeyExA(software, "QV\\Rel", 0, "", 0, 0x3F, nullptr, &rel, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_TRUE(reg.KeyExists("HKLM\\Software\\Wow6432Node\\QV\\Rel"));
  EXPECT_FALSE(reg.KeyExists("HKLM\\Software\\QV\\Rel"));
  reg.RegCloseKey(rel);
  reg.RegCloseKey(software);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

TEST(ViewsOfHandles, DeleteKeyExChoosesTheView) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.CreateKey("HKLM\\Software\\QV\\Gone");
  reg.CreateKey("HKLM\\Software\\Wow6432Node\\QV\\Gone");
  EXPECT_EQ(reg.RegDeleteKeyExA(win::HKEY_LOCAL_MACHINE, "Software\\QV\\Gone",
                                win::KEY_WOW64_32KEY, 0),
            win::ERROR_SUCCESS);
  EXPECT_FALSE(reg.KeyExists("HKLM\\Software\\Wow6432Node\\QV\\Gone"));
  EXPECT_TRUE(reg.KeyExists("HKLM\\Software\\QV\\Gone"));
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_LOCAL_MACHINE, "Software\\QV\\Gone"), win::ERROR_SUCCESS);
  EXPECT_FALSE(reg.KeyExists("HKLM\\Software\\QV\\Gone"));
}

// --- names and case --------------------------------------------------------------------------

TEST(Names, KeysAndValuesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  HKEY key{};
  ASSERT_EQ(reg.RegCreateKeyExA(win::HKEY_CURRENT_USER, "Software\\Gr\xFC\xDF" "e\\\x8A" "bc", 0,
                                "", 0, 0x3F, nullptr, &key, nullptr),
            win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExA(key, "MyValue", 0, win::REG_SZ, Bytes("x"), 2), win::ERROR_SUCCESS);
  reg.RegCloseKey(key);
  // Upper-case spelling of the same names (cp1252: fc/dc, 8a/9a; sharp s has no capital).
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "SOFTWARE\\GR\xDC\xDF" "E\\\x9A" "BC", 0,
                              win::KEY_QUERY_VALUE, &key),
            win::ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(reg.RegQueryValueExA(key, "MYVALUE", nullptr, nullptr, nullptr, &size),
            win::ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  reg.RegCloseKey(key);
  EXPECT_EQ(reg.GetValue("hkcu\\software\\GR\xDC\xDF" "E\\\x8A" "BC", "myvalue"), Sz("x"));
  bool found = false;
  for (const RegKeyDump& d : reg.Dump())
    if (d.path == "HKEY_CURRENT_USER\\Software\\Gr\xFC\xDF" "e\\\x8A" "bc") {
      found = true;
      ASSERT_EQ(d.values.size(), 1u);
      EXPECT_EQ(d.values[0].first, "MyValue");
    }
  EXPECT_TRUE(found);
}

// --- value queries ---------------------------------------------------------------------------

struct QueryCase {
  const char* name;
  RegValue stored;
  bool passBuffer;
  DWORD offered;
  LONG result;
  DWORD sizeAfter;
};

class QueryValue : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryValue, AnswersAsWindows) {
  const QueryCase& c = GetParam();
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.SetValue("HKCU\\Software\\Q", "v", c.stored);
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\Q", 0, win::KEY_QUERY_VALUE,
                              &key),
            win::ERROR_SUCCESS);
  win::BYTE buffer[16];
  std::memset(buffer, 0xCC, sizeof buffer);
  DWORD type = 99;
  DWORD size = c.offered;
  EXPECT_EQ(reg.RegQueryValueExA(key, "v", nullptr, &type, c.passBuffer ? buffer : nullptr, &size),
            c.result);
  EXPECT_EQ(size, c.sizeAfter);
  EXPECT_EQ(type, c.stored.type);
  if (c.passBuffer && c.result == win::ERROR_SUCCESS && !c.stored.data.empty()) {
    EXPECT_EQ(0, std::memcmp(buffer, c.stored.data.data(), c.stored.data.size()));
  }
  reg.RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QueryValue,
    ::testing::Values(
        QueryCase{"NullDataGivesSize", Sz("abc"), false, 0, win::ERROR_SUCCESS, 4},
        QueryCase{"ZeroSizeGivesMoreData", Sz("abc"), true, 0, win::ERROR_MORE_DATA, 4},
        QueryCase{"TooSmallGivesMoreData", Sz("abc"), true, 3, win::ERROR_MORE_DATA, 4},
        QueryCase{"ExactFits", Sz("abc"), true, 4, win::ERROR_SUCCESS, 4},
        QueryCase{"LargerGivesStoredSize", Sz("abc"), true, 16, win::ERROR_SUCCESS, 4},
        QueryCase{"NoTerminatorAsStored", RegValue{win::REG_SZ, {'a', 'b', 'c'}}, true, 16,
                  win::ERROR_SUCCESS, 3},
        QueryCase{"EmptyValueSucceedsWithZero", RegValue{win::REG_BINARY, {}}, true, 0,
                  win::ERROR_SUCCESS, 0},
        QueryCase{"Dword", RegValue{win::REG_DWORD, {1, 2, 3, 4}}, true, 4, win::ERROR_SUCCESS,
                  4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryValueErrors, MissingValueDataWithoutSizeAndReserved) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.SetValue("HKCU\\Software\\Q", "v", Sz("x"));
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\Q", 0, win::KEY_QUERY_VALUE,
                              &key),
            win::ERROR_SUCCESS);
  win::BYTE buffer[4];
  DWORD size = 4;
  DWORD reserved = 0;
  EXPECT_EQ(reg.RegQueryValueExA(key, "nope", nullptr, nullptr, buffer, &size),
            win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.RegQueryValueExA(key, "v", nullptr, nullptr, buffer, nullptr),
            win::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.RegQueryValueExA(key, "v", &reserved, nullptr, buffer, &size),
            win::ERROR_INVALID_PARAMETER);
  reg.RegCloseKey(key);
}

// --- enumeration and key information ---------------------------------------------------------

TEST(Enumeration, ValueNameBufferCountsCharactersWithTerminator) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.SetValue("HKCU\\Software\\E", "abc", Sz("1"));
  reg.SetValue("HKCU\\Software\\E", "", Sz("default"));
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\E", 0, win::KEY_QUERY_VALUE,
                              &key),
            win::ERROR_SUCCESS);
  char name[8] = {};
  DWORD cch = 3;
  EXPECT_EQ(reg.RegEnumValueA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            win::ERROR_MORE_DATA);
  cch = 4;
  DWORD type = 0;
  EXPECT_EQ(reg.RegEnumValueA(key, 0, name, &cch, nullptr, &type, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(cch, 3u);
  EXPECT_STREQ(name, "abc");
  EXPECT_EQ(type, win::REG_SZ);
  cch = 1;
  EXPECT_EQ(reg.RegEnumValueA(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(cch, 0u);
  cch = 8;
  EXPECT_EQ(reg.RegEnumValueA(key, 2, name, &cch, nullptr, nullptr, nullptr, nullptr),
            win::ERROR_NO_MORE_ITEMS);
  reg.RegCloseKey(key);
}

TEST(Enumeration, SubkeysComeSortedAndA255CharacterNameNeeds256) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  const std::string longName(255, 'm');
  for (const std::string& n : {std::string("zeta"), longName, std::string("Alpha"),
                               std::string("beta")})
    reg.CreateKey("HKCU\\Software\\S\\" + n);
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\S", 0,
                              win::KEY_ENUMERATE_SUB_KEYS, &key),
            win::ERROR_SUCCESS);
  char name[300] = {};
  EXPECT_EQ(reg.RegEnumKeyA(key, 0, name, 255), win::ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  EXPECT_EQ(reg.RegEnumKeyA(key, 1, name, 255), win::ERROR_SUCCESS);
  EXPECT_STREQ(name, "beta");
  EXPECT_EQ(reg.RegEnumKeyA(key, 2, name, 255), win::ERROR_MORE_DATA);
  EXPECT_EQ(reg.RegEnumKeyA(key, 2, name, 256), win::ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), longName);
  EXPECT_EQ(reg.RegEnumKeyA(key, 3, name, 255), win::ERROR_SUCCESS);
  EXPECT_STREQ(name, "zeta");
  EXPECT_EQ(reg.RegEnumKeyA(key, 4, name, 255), win::ERROR_NO_MORE_ITEMS);
  reg.RegCloseKey(key);
}

TEST(Enumeration, QueryInfoKeyGivesCountsAndLengthsWithoutTerminator) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.CreateKey("HKCU\\Software\\I\\sub");
  reg.CreateKey("HKCU\\Software\\I\\longer_sub");
  reg.SetValue("HKCU\\Software\\I", "name", RegValue{win::REG_BINARY, {1, 2, 3, 4, 5, 6, 7}});
  reg.SetValue("HKCU\\Software\\I", "n", Sz("abc"));
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\I", 0, win::KEY_QUERY_VALUE,
                              &key),
            win::ERROR_SUCCESS);
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  EXPECT_EQ(reg.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr,
                                 &values, &maxName, &maxData, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 10u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 4u);
  EXPECT_EQ(maxData, 7u);
  reg.RegCloseKey(key);
}

// --- key creation and deletion ---------------------------------------------------------------

TEST(KeyLifetime, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.CreateKey("HKCU\\Software\\D\\child");
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_CURRENT_USER, "Software\\D"), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_CURRENT_USER, "Software\\D\\none"),
            win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_CURRENT_USER, "Software\\D\\child"), win::ERROR_SUCCESS);
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_CURRENT_USER, "Software\\D"), win::ERROR_SUCCESS);
  EXPECT_FALSE(reg.KeyExists("HKCU\\Software\\D"));
}

TEST(KeyLifetime, HandleOfADeletedKeyAnswersKeyDeleted) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.CreateKey("HKCU\\Software\\D");
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\D", 0, 0x3F, &key),
            win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegDeleteKeyA(win::HKEY_CURRENT_USER, "Software\\D"), win::ERROR_SUCCESS);
  EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, win::REG_SZ, Bytes("x"), 2), win::ERROR_KEY_DELETED);
  EXPECT_EQ(reg.RegCloseKey(key), win::ERROR_SUCCESS);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

TEST(KeyLifetime, CreateMakesIntermediateKeysAndReportsDisposition) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  HKEY key{};
  DWORD disposition = 0;
  ASSERT_EQ(reg.RegCreateKeyExA(win::HKEY_CURRENT_USER, "Software\\A\\B\\C", 0, "", 0, 0x3F,
                                nullptr, &key, &disposition),
            win::ERROR_SUCCESS);
  EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
  reg.RegCloseKey(key);
  ASSERT_EQ(reg.RegCreateKeyExA(win::HKEY_CURRENT_USER, "software\\a\\b\\c", 0, "", 0, 0x3F,
                                nullptr, &key, &disposition),
            win::ERROR_SUCCESS);
  EXPECT_EQ(disposition, win::REG_OPENED_EXISTING_KEY);
  reg.RegCloseKey(key);
  ASSERT_EQ(reg.Changes().size(), 3u);
  EXPECT_EQ(reg.Changes()[0].keyPath, "HKEY_CURRENT_USER\\Software\\A");
  EXPECT_EQ(reg.Changes()[2].keyPath, "HKEY_CURRENT_USER\\Software\\A\\B\\C");
  for (const RegChange& ch : reg.Changes()) EXPECT_EQ(ch.kind, RegChange::Kind::KeyCreated);
}

// --- handles ---------------------------------------------------------------------------------

using SeamCall = std::function<LONG(win::IRegistry&, HKEY)>;

struct HandleCase {
  const char* name;
  SeamCall call;
};

const HandleCase kEveryHandleCall[] = {
    {"RegOpenKeyExA",
     [](win::IRegistry& r, HKEY h) {
       HKEY out{};
       return r.RegOpenKeyExA(h, "Software", 0, win::KEY_QUERY_VALUE, &out);
     }},
    {"RegCreateKeyExA",
     [](win::IRegistry& r, HKEY h) {
       HKEY out{};
       return r.RegCreateKeyExA(h, "Software\\X", 0, "", 0, 0x3F, nullptr, &out, nullptr);
     }},
    {"RegCloseKey", [](win::IRegistry& r, HKEY h) { return r.RegCloseKey(h); }},
    {"RegDeleteKeyA", [](win::IRegistry& r, HKEY h) { return r.RegDeleteKeyA(h, "Software\\X"); }},
    {"RegDeleteKeyExA",
     [](win::IRegistry& r, HKEY h) { return r.RegDeleteKeyExA(h, "Software\\X", 0, 0); }},
    {"RegDeleteValueA", [](win::IRegistry& r, HKEY h) { return r.RegDeleteValueA(h, "v"); }},
    {"RegQueryValueExA",
     [](win::IRegistry& r, HKEY h) {
       DWORD size = 0;
       return r.RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size);
     }},
    {"RegSetValueExA",
     [](win::IRegistry& r, HKEY h) {
       return r.RegSetValueExA(h, "v", 0, win::REG_SZ, Bytes("x"), 2);
     }},
    {"RegQueryInfoKeyA",
     [](win::IRegistry& r, HKEY h) {
       DWORD values = 0;
       return r.RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                 nullptr, nullptr, nullptr, nullptr);
     }},
    {"RegEnumValueA",
     [](win::IRegistry& r, HKEY h) {
       char name[16];
       DWORD cch = 16;
       return r.RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
     }},
    {"RegEnumKeyA",
     [](win::IRegistry& r, HKEY h) {
       char name[16];
       return r.RegEnumKeyA(h, 0, name, 16);
     }},
};

class EveryHandleCall : public ::testing::TestWithParam<HandleCase> {};

TEST_P(EveryHandleCall, RejectsZeroAndUnknownHandles) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  EXPECT_EQ(GetParam().call(reg, HKEY{}), win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetParam().call(reg, win::MakeHandle<HKEY>(0x1234)), win::ERROR_INVALID_HANDLE);
  // A closed key handle is no longer valid either.
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, nullptr, 0, 0x3F, &key), win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegCloseKey(key), win::ERROR_SUCCESS);
  EXPECT_EQ(GetParam().call(reg, key), win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

TEST_P(EveryHandleCall, PlannedFailureGivesThePlannedCodeAndLeavesNothingOpen) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.SetValue("HKCU\\Software\\X", "v", Sz("x"));
  kernel.AddFault(FaultRule{GetParam().name, 0, 1450});
  EXPECT_EQ(GetParam().call(reg, win::HKEY_CURRENT_USER), 1450);
  ASSERT_FALSE(kernel.Calls().empty());
  EXPECT_EQ(kernel.Calls().back().function, GetParam().name);
  EXPECT_TRUE(kernel.Calls().back().failedByPlan);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
  EXPECT_TRUE(reg.KeyExists("HKCU\\Software\\X"));
  EXPECT_EQ(reg.GetValue("HKCU\\Software\\X", "v"), Sz("x"));
}

INSTANTIATE_TEST_SUITE_P(Table, EveryHandleCall, ::testing::ValuesIn(kEveryHandleCall),
                         [](const auto& info) { return std::string(info.param.name); });

struct UsualFailureCase {
  const char* function;
  LONG usual;
};

class UsualFailure : public ::testing::TestWithParam<UsualFailureCase> {};

TEST_P(UsualFailure, PlannedFailureWithoutCodeGivesTheFunctionsUsualFailure) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.SetValue("HKCU\\Software\\X", "v", Sz("x"));
  kernel.AddFault(FaultRule{GetParam().function, 1, 0});
  for (const HandleCase& c : kEveryHandleCall)
    if (std::string(c.name) == GetParam().function) {
      EXPECT_EQ(c.call(reg, win::HKEY_CURRENT_USER), GetParam().usual);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsualFailure,
    ::testing::Values(UsualFailureCase{"RegOpenKeyExA", win::ERROR_ACCESS_DENIED},
                      UsualFailureCase{"RegCreateKeyExA", win::ERROR_ACCESS_DENIED},
                      UsualFailureCase{"RegDeleteValueA", win::ERROR_ACCESS_DENIED},
                      UsualFailureCase{"RegQueryValueExA", win::ERROR_FILE_NOT_FOUND},
                      UsualFailureCase{"RegSetValueExA", win::ERROR_ACCESS_DENIED},
                      UsualFailureCase{"RegEnumKeyA", win::ERROR_ACCESS_DENIED}),
    [](const auto& info) { return std::string(info.param.function); });

TEST(Handles, ClosingAPredefinedRootClosesNothing) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  for (HKEY root : {win::HKEY_CLASSES_ROOT, win::HKEY_CURRENT_USER, win::HKEY_LOCAL_MACHINE,
                    win::HKEY_USERS}) {
    EXPECT_EQ(reg.RegCloseKey(root), win::ERROR_SUCCESS);
    HKEY key{};
    EXPECT_EQ(reg.RegOpenKeyExA(root, "", 0, win::KEY_QUERY_VALUE, &key), win::ERROR_SUCCESS);
    EXPECT_FALSE(win::IsNull(key));
    EXPECT_EQ(kernel.OpenHandleCount(HandleKind::RegistryKey), 1u);
    reg.RegCloseKey(key);
  }
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

TEST(Handles, ARootNumberThatIsNotSignExtendedStillNamesTheRoot) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 64);
  reg.CreateKey("HKLM\\Software\\Z");
  HKEY key{};
  EXPECT_EQ(reg.RegOpenKeyExA(win::MakeHandle<HKEY>(0x80000002u), "Software\\Z", 0,
                              win::KEY_QUERY_VALUE, &key),
            win::ERROR_SUCCESS);
  reg.RegCloseKey(key);
  EXPECT_EQ(reg.RegOpenKeyExA(win::MakeHandle<HKEY>(0x80000007u), "Software\\Z", 0,
                              win::KEY_QUERY_VALUE, &key),
            win::ERROR_INVALID_HANDLE);
}

// --- denied keys and handle rights -----------------------------------------------------------

struct DenyCase {
  const char* name;
  bool denyRead;
  bool denyWrite;
  win::REGSAM sam;
  LONG open;
};

class Denied : public ::testing::TestWithParam<DenyCase> {};

TEST_P(Denied, OpenAndCreateRefuseTheRightsTheKeyDenies) {
  const DenyCase& c = GetParam();
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.DenyAccess("HKLM\\Software\\Locked", c.denyRead, c.denyWrite);
  HKEY key{};
  EXPECT_EQ(reg.RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, "Software\\Locked", 0, c.sam, &key), c.open);
  if (c.open == win::ERROR_SUCCESS) reg.RegCloseKey(key);
  EXPECT_EQ(reg.RegCreateKeyExA(win::HKEY_LOCAL_MACHINE, "Software\\Locked", 0, "", 0, c.sam,
                                nullptr, &key, nullptr),
            c.open);
  if (c.open == win::ERROR_SUCCESS) reg.RegCloseKey(key);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Denied,
    ::testing::Values(
        DenyCase{"ReadDeniedQuery", true, false, win::KEY_QUERY_VALUE, win::ERROR_ACCESS_DENIED},
        DenyCase{"ReadDeniedEnumerate", true, false, win::KEY_ENUMERATE_SUB_KEYS,
                 win::ERROR_ACCESS_DENIED},
        DenyCase{"ReadDeniedSetOnly", true, false, win::KEY_SET_VALUE, win::ERROR_SUCCESS},
        DenyCase{"WriteDeniedAllSix", false, true, 0x3F, win::ERROR_ACCESS_DENIED},
        DenyCase{"WriteDeniedQuery", false, true, win::KEY_QUERY_VALUE, win::ERROR_SUCCESS},
        DenyCase{"WriteDeniedDelete", false, true, win::DELETE, win::ERROR_ACCESS_DENIED},
        DenyCase{"NothingDenied", false, false, 0x3F, win::ERROR_SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Denied, CreatingBelowAWriteDeniedKeyIsRefused) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.DenyAccess("HKLM\\Software\\Locked", false, true);
  HKEY key{};
  EXPECT_EQ(reg.RegCreateKeyExA(win::HKEY_LOCAL_MACHINE, "Software\\Locked\\New", 0, "", 0,
                                win::KEY_QUERY_VALUE, nullptr, &key, nullptr),
            win::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(reg.KeyExists("HKLM\\Software\\Locked\\New"));
  EXPECT_EQ(reg.RegDeleteKeyA(win::HKEY_LOCAL_MACHINE, "Software\\Locked"),
            win::ERROR_ACCESS_DENIED);
}

TEST(Denied, AHandleOnlyDoesWhatItWasOpenedFor) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.SetValue("HKCU\\Software\\R", "v", Sz("x"));
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\R", 0, win::KEY_QUERY_VALUE,
                              &key),
            win::ERROR_SUCCESS);
  EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, win::REG_SZ, Bytes("y"), 2), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.RegDeleteValueA(key, "v"), win::ERROR_ACCESS_DENIED);
  char name[8];
  EXPECT_EQ(reg.RegEnumKeyA(key, 0, name, 8), win::ERROR_ACCESS_DENIED);
  reg.RegCloseKey(key);
  EXPECT_EQ(reg.GetValue("HKCU\\Software\\R", "v"), Sz("x"));
}

TEST(Denied, RefusedValueWritesGiveTheirCode) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.RefuseValueWrites("HKCU\\Software\\Quota", 1450);
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software\\Quota", 0, 0x3F, &key),
            win::ERROR_SUCCESS);
  EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, win::REG_SZ, Bytes("y"), 2), 1450);
  reg.RegCloseKey(key);
  EXPECT_FALSE(reg.GetValue("HKCU\\Software\\Quota", "v").has_value());
  EXPECT_TRUE(reg.Changes().empty());
}

// --- environment -----------------------------------------------------------------------------

struct ExpandCase {
  const char* source;
  const char* expanded;
};

class Expand : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(Expand, ExpandsDefinedVariablesAndLeavesTheRest) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.SetEnvironment("QVDIR", "D:\\Q");
  const std::string expected = GetParam().expanded;
  EXPECT_EQ(reg.ExpandEnvironmentStringsA(GetParam().source, nullptr, 0), expected.size() + 1);
  char small[2] = {'#', '#'};
  EXPECT_EQ(reg.ExpandEnvironmentStringsA(GetParam().source, small, 1), expected.size() + 1);
  std::string buffer(expected.size() + 1, '#');
  EXPECT_EQ(reg.ExpandEnvironmentStringsA(GetParam().source, buffer.data(),
                                          static_cast<DWORD>(buffer.size())),
            expected.size() + 1);
  EXPECT_EQ(std::string(buffer.c_str()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Expand,
    ::testing::Values(ExpandCase{"%SystemRoot%\\x", "C:\\Windows\\x"},
                      ExpandCase{"%systemroot%", "C:\\Windows"},
                      ExpandCase{"%QVDIR%\\%windir%", "D:\\Q\\C:\\Windows"},
                      ExpandCase{"%UNDEFINED%\\x", "%UNDEFINED%\\x"},
                      ExpandCase{"100%", "100%"}, ExpandCase{"%%", "%%"},
                      ExpandCase{"%a%%QVDIR%", "%a%D:\\Q"}, ExpandCase{"", ""}));

struct ProgramFilesCase {
  int windowsBits;
  int processBits;
  const char* programFiles;
};

class ProgramFilesByWordSize : public ::testing::TestWithParam<ProgramFilesCase> {};

TEST_P(ProgramFilesByWordSize, FollowsTheProcessOnA64BitWindows) {
  SimKernel kernel;
  SimRegistry reg(kernel, GetParam().windowsBits, GetParam().processBits);
  char buffer[64] = {};
  reg.ExpandEnvironmentStringsA("%ProgramFiles%", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, GetParam().programFiles);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramFilesByWordSize,
                         ::testing::Values(ProgramFilesCase{32, 32, "C:\\Program Files"},
                                           ProgramFilesCase{64, 32, "C:\\Program Files (x86)"},
                                           ProgramFilesCase{64, 64, "C:\\Program Files"}));

// --- record of changes -----------------------------------------------------------------------

TEST(Changes, RecordsValuesWithTheirFormerContentAndDeletions) {
  SimKernel kernel;
  SimRegistry reg(kernel, 64, 32);
  reg.SetValue("HKLM\\Software\\Wow6432Node\\C", "v", Sz("old"));  // set up: not a change
  EXPECT_TRUE(reg.Changes().empty());
  HKEY key{};
  ASSERT_EQ(reg.RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, "Software\\C", 0, 0x3F, &key),
            win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExA(key, "V", 0, win::REG_SZ, Bytes("new"), 4), win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExA(key, "w", 0, win::REG_DWORD, Bytes("\x01\0\0\0"), 4),
            win::ERROR_SUCCESS);
  ASSERT_EQ(reg.RegDeleteValueA(key, "v"), win::ERROR_SUCCESS);
  reg.RegCloseKey(key);
  ASSERT_EQ(reg.RegDeleteKeyA(win::HKEY_LOCAL_MACHINE, "Software\\C"), win::ERROR_SUCCESS);

  const auto& ch = reg.Changes();
  ASSERT_EQ(ch.size(), 4u);
  EXPECT_EQ(ch[0].kind, RegChange::Kind::ValueSet);
  EXPECT_EQ(ch[0].keyPath, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\C");
  EXPECT_EQ(ch[0].before, Sz("old"));
  EXPECT_EQ(ch[0].after, Sz("new"));
  EXPECT_EQ(ch[1].kind, RegChange::Kind::ValueSet);
  EXPECT_FALSE(ch[1].before.has_value());
  EXPECT_EQ(ch[2].kind, RegChange::Kind::ValueDeleted);
  EXPECT_EQ(ch[2].before, Sz("new"));
  EXPECT_FALSE(ch[2].after.has_value());
  EXPECT_EQ(ch[3].kind, RegChange::Kind::KeyDeleted);
  EXPECT_EQ(ch[3].keyPath, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\C");
  reg.ClearChanges();
  EXPECT_TRUE(reg.Changes().empty());
}

TEST(Dump, ListsKeysDepthFirstInCreationOrderWithValuesInOrder) {
  SimKernel kernel;
  SimRegistry reg(kernel, 32, 32);
  reg.SetValue("HKU\\S\\b", "2", Sz("x"));
  reg.SetValue("HKU\\S\\b", "1", Sz("y"));
  reg.CreateKey("HKU\\S\\a");
  std::vector<std::string> paths;
  for (const RegKeyDump& d : reg.Dump()) {
    if (d.path.rfind("HKEY_USERS", 0) == 0) paths.push_back(d.path);
    if (d.path == "HKEY_USERS\\S\\b") {
      ASSERT_EQ(d.values.size(), 2u);
      EXPECT_EQ(d.values[0].first, "2");
      EXPECT_EQ(d.values[1].first, "1");
    }
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"HKEY_USERS", "HKEY_USERS\\S", "HKEY_USERS\\S\\b",
                                             "HKEY_USERS\\S\\a"}));
}

}  // namespace
}  // namespace qv::sim
