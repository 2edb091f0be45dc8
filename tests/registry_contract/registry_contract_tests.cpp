// Registry behaviour the updater relies on, pinned against whichever registry the backend
// gives: cRegistry end to end, and the Windows functions' own rules that cRegistry builds on
// (views, strings without terminator, ERROR_MORE_DATA, enumeration). Every test works below
// HKCU\Software\QVContractTest or HKLM\Software\QVContractTest and removes what it made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backend.h"
#include "platform/handles.h"
#include "registry/cRegistry.h"

namespace qv::contract {
namespace {

using win::DWORD;
using win::HKEY;
using win::LONG;

constexpr std::int32_t kHKCU = static_cast<std::int32_t>(0x80000001u);
constexpr std::int32_t kHKLM = static_cast<std::int32_t>(0x80000002u);
constexpr const char* kScratchParent = "Software\\QVContractTest";

struct Raw {
  DWORD type = 0;
  std::string bytes;
  bool operator==(const Raw& o) const { return type == o.type && bytes == o.bytes; }
};

std::ostream& operator<<(std::ostream& os, const Raw& r) {
  os << "type " << r.type << " bytes [";
  for (unsigned char c : r.bytes) os << ' ' << static_cast<int>(c);
  return os << " ]";
}

}  // namespace
}  // namespace qv::contract

namespace qv {
// Failure messages show a dynamic value as its kind and text.
static void PrintTo(const Variant& v, std::ostream* os) {
  *os << "variant#" << v.storage().index() << " \"" << TextToUtf8(v.ToText()) << "\"";
}
}  // namespace qv

namespace qv::contract {
namespace {

win::IRegistry& Reg() { return GetBackend().registry; }

// Removes the key `name` below `parent` with everything below it, in the given view; quiet
// when it is missing. Works relative to handles, so long names never make long paths.
bool DeleteTree(HKEY parent, const std::string& name, win::REGSAM view) {
  {
    win::UniqueHkey key(Reg());
    if (Reg().RegOpenKeyExA(parent, name.c_str(), 0, win::KEY_ENUMERATE_SUB_KEYS | view,
                            key.put()) != win::ERROR_SUCCESS)
      return false;
    char child[260];
    while (Reg().RegEnumKeyA(key.get(), 0, child, sizeof child) == win::ERROR_SUCCESS)
      if (!DeleteTree(key.get(), child, view)) return false;
  }
  return Reg().RegDeleteKeyExA(parent, name.c_str(), view, 0) == win::ERROR_SUCCESS;
}

std::string Sanitize(std::string s) {
  std::replace(s.begin(), s.end(), '/', '_');
  return s;
}

class Contract : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    leaf_ = Sanitize(std::string(info->test_suite_name()) + "." + info->name());
    scratch_ = std::string(kScratchParent) + "\\" + leaf_;
    CleanUp();
  }
  void TearDown() override {
    CleanUp();
    // The shared parents go when the last test has left them empty.
    Reg().RegDeleteKeyExA(win::HKEY_CURRENT_USER, kScratchParent, 0, 0);
    for (win::REGSAM view : {win::KEY_WOW64_32KEY, win::KEY_WOW64_64KEY})
      Reg().RegDeleteKeyExA(win::HKEY_LOCAL_MACHINE, kScratchParent, view, 0);
    const long open = GetBackend().openKeyHandles();
    if (open >= 0) {
      EXPECT_EQ(open, 0) << "key handles left open";
    }
  }
  void CleanUp() {
    DeleteTree(win::HKEY_CURRENT_USER, scratch_, 0);
    for (win::REGSAM view : {win::KEY_WOW64_32KEY, win::KEY_WOW64_64KEY})
      DeleteTree(win::HKEY_LOCAL_MACHINE, std::string(kScratchParent) + "\\" + leaf_, view);
  }

  Text ScratchText() const { return Utf8ToText(scratch_); }
  Text LeafUnderHklm() const { return Utf8ToText(std::string(kScratchParent) + "\\" + leaf_); }

  cRegistry Object() {
    return cRegistry(GetBackend().codePage, Reg(), u"QVContract", GetBackend().processBits);
  }

  // Stores the bytes as given. The byte after them is `after`: Windows looks at it when a
  // string comes without its terminator.
  void SetRaw(HKEY root, const std::string& path, const char* name, const Raw& value,
              char after = 'X') {
    win::UniqueHkey key(Reg());
    ASSERT_EQ(Reg().RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, 0x3F, nullptr, key.put(),
                                    nullptr),
              win::ERROR_SUCCESS);
    const std::string buffer = value.bytes + after;
    ASSERT_EQ(Reg().RegSetValueExA(key.get(), name, 0, value.type,
                                   reinterpret_cast<const win::BYTE*>(buffer.data()),
                                   static_cast<DWORD>(value.bytes.size())),
              win::ERROR_SUCCESS);
  }

  // Creates subkeys of the scratch key one by one, relative to its handle, so that long names
  // do not make long paths.
  void CreateSubkeys(const std::vector<std::string>& names) {
    win::UniqueHkey parent(Reg());
    ASSERT_EQ(Reg().RegCreateKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, 0x3F,
                                    nullptr, parent.put(), nullptr),
              win::ERROR_SUCCESS);
    for (const std::string& n : names) {
      win::UniqueHkey key(Reg());
      ASSERT_EQ(Reg().RegCreateKeyExA(parent.get(), n.c_str(), 0, nullptr, 0, 0x3F, nullptr,
                                      key.put(), nullptr),
                win::ERROR_SUCCESS)
          << n.size();
    }
  }

  std::optional<Raw> GetRaw(HKEY root, const std::string& path, const char* name,
                            win::REGSAM view = 0) {
    win::UniqueHkey key(Reg());
    if (Reg().RegOpenKeyExA(root, path.c_str(), 0, win::KEY_QUERY_VALUE | view, key.put()) !=
        win::ERROR_SUCCESS)
      return std::nullopt;
    std::string buffer(4096, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD type = 0;
    if (Reg().RegQueryValueExA(key.get(), name, nullptr, &type,
                               reinterpret_cast<win::BYTE*>(buffer.data()),
                               &size) != win::ERROR_SUCCESS)
      return std::nullopt;
    buffer.resize(size);
    return Raw{type, buffer};
  }

  bool Exists(HKEY root, const std::string& path, win::REGSAM view = 0) {
    win::UniqueHkey key(Reg());
    return Reg().RegOpenKeyExA(root, path.c_str(), 0, win::KEY_QUERY_VALUE | view, key.put()) ==
           win::ERROR_SUCCESS;
  }

  std::string leaf_;
  std::string scratch_;
};

template <typename Case>
void PrintCaseName(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::optional<Error> Raised(const std::function<void()>& op) {
  try {
    op();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

// --- cRegistry: write, then look at what was stored and read it back -------------------------

struct RoundTripCase {
  const char* name;
  std::int32_t valueType;
  Variant input;
  Raw stored;
  Variant readBack;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { PrintCaseName(c, os); }

class WriteRead : public Contract, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(WriteRead, StoresTheSelectedFormAndReadsItBack) {
  const RoundTripCase& c = GetParam();
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"v");
  r.ValueType(c.valueType);
  r.Value(c.input);
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "v"), c.stored);
  r.ValueType(0);
  EXPECT_EQ(r.Value(), c.readBack);
  EXPECT_EQ(r.ValueType(), static_cast<std::int32_t>(c.stored.type));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteRead,
    ::testing::Values(
        RoundTripCase{"Sz", 1, Variant(Text(u"abc")), Raw{1, std::string("abc\0", 4)},
                      Variant(Text(u"abc"))},
        RoundTripCase{"ExpandTypePlainText", 2, Variant(Text(u"abc")),
                      Raw{1, std::string("abc\0", 4)}, Variant(Text(u"abc"))},
        RoundTripCase{"UndefinedVariableStays", 1, Variant(Text(u"%QV_NOT_SET%\\x")),
                      Raw{2, std::string("%QV_NOT_SET%\\x\0", 15)},
                      Variant(Text(u"%QV_NOT_SET%\\x"))},
        RoundTripCase{"AdjacentPercentsStayPlain", 2, Variant(Text(u"%%")),
                      Raw{1, std::string("%%\0", 3)}, Variant(Text(u"%%"))},
        RoundTripCase{"PercentInProse", 1, Variant(Text(u"50% of 60")),
                      Raw{1, std::string("50% of 60\0", 10)}, Variant(Text(u"50% of 60"))},
        RoundTripCase{"NegativeIntegerAsText", 1, Variant(std::int32_t{-42}),
                      Raw{1, std::string("-42\0", 4)}, Variant(Text(u"-42"))},
        // A double is stored as its text: fifteen significant digits, a two-digit exponent
        // where two suffice, C99's names for infinity and NaN.
        RoundTripCase{"DoubleAsText", 1, Variant(0.1), Raw{1, std::string("0.1\0", 4)},
                      Variant(Text(u"0.1"))},
        RoundTripCase{"DoubleRounded", 1, Variant(2.0 / 3.0),
                      Raw{1, std::string("0.666666666666667\0", 18)},
                      Variant(Text(u"0.666666666666667"))},
        RoundTripCase{"DoubleLargeExponent", 1, Variant(-1.5e20),
                      Raw{1, std::string("-1.5E+20\0", 9)}, Variant(Text(u"-1.5E+20"))},
        RoundTripCase{"DoubleSmallExponent", 1, Variant(2.5e-7),
                      Raw{1, std::string("2.5E-07\0", 8)}, Variant(Text(u"2.5E-07"))},
        RoundTripCase{"DoubleThreeDigitExponent", 1, Variant(1e100),
                      Raw{1, std::string("1E+100\0", 7)}, Variant(Text(u"1E+100"))},
        RoundTripCase{"DoubleSixteenDigits", 1, Variant(1234567890123456.0),
                      Raw{1, std::string("1.23456789012346E+15\0", 21)},
                      Variant(Text(u"1.23456789012346E+15"))},
        RoundTripCase{"DoubleInfinity", 1, Variant(-HUGE_VAL), Raw{1, std::string("-INF\0", 5)},
                      Variant(Text(u"-INF"))},
        RoundTripCase{"DoubleNaN", 1, Variant(std::nan("")), Raw{1, std::string("NAN\0", 4)},
                      Variant(Text(u"NAN"))},
        RoundTripCase{"EmptyTextReadsAsDefault", 1, Variant(Text()), Raw{1, std::string("\0", 1)},
                      Variant(Text())},
        RoundTripCase{"CodePageText", 1, Variant(Text(u"Gr\u00FC\u00DFe \u20AC")),
                      Raw{1, std::string("Gr\xFC\xDF" "e \x80\0", 8)},
                      Variant(Text(u"Gr\u00FC\u00DFe \u20AC"))},
        RoundTripCase{"Binary", 3, Variant(ByteArray{0, 1, 255}), Raw{3, std::string("\0\x01\xFF", 3)},
                      Variant(ByteArray{0, 1, 255, 0})},
        RoundTripCase{"Dword16", 4, Variant(std::int16_t{8000}), Raw{4, std::string("\x40\x1F\0\0", 4)},
                      Variant(std::int32_t{8000})},
        RoundTripCase{"DwordNegative", 4, Variant(std::int16_t{-2}), Raw{4, "\xFE\xFF\xFF\xFF"},
                      Variant(std::int32_t{-2})},
        RoundTripCase{"BigEndianWrittenAsDword", 5, Variant(std::int32_t{0x01020304}),
                      Raw{4, "\x04\x03\x02\x01"}, Variant(std::int32_t{0x01020304})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Contract, ExpandableTextIsStoredAsSuchAndExpandedOnRead) {
  char root[260] = {};
  ASSERT_GT(Reg().ExpandEnvironmentStringsA("%SystemRoot%", root, sizeof root), 1u);
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"e");
  r.ValueType(1);
  r.Value(Variant(Text(u"%SystemRoot%\\x")));
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "e"),
            (Raw{2, std::string("%SystemRoot%\\x\0", 15)}));
  AnsiCodec codec(GetBackend().codePage, u"QVContract");
  EXPECT_EQ(r.Value(), Variant(codec.FromAnsi(AnsiString(std::string(root))) + u"\\x"));
  EXPECT_EQ(r.ValueType(), 2);
}

// --- cRegistry: data stored by others, read --------------------------------------------------

struct StoredCase {
  const char* name;
  Raw stored;
  Variant expected;
};

void PrintTo(const StoredCase& c, std::ostream* os) { PrintCaseName(c, os); }

class StoredRead : public Contract, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredRead, ReadsAsTheProgramDoes) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "v", GetParam().stored);
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"v");
  r.Default(Variant(Text(u"dflt")));
  EXPECT_EQ(r.Value(), GetParam().expected);
  EXPECT_EQ(r.ValueType(), static_cast<std::int32_t>(GetParam().stored.type));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredRead,
    ::testing::Values(
        StoredCase{"SzWithoutTerminatorLosesLastChar", Raw{1, "abc"}, Variant(Text(u"ab"))},
        StoredCase{"MultiSzKeepsSeparators", Raw{7, std::string("a\0b\0\0", 5)},
                   Variant(Text(u"a\0b\0", 4))},
        StoredCase{"EmptySzGivesDefault", Raw{1, ""}, Variant(Text(u"dflt"))},
        StoredCase{"EmptyExpandSzGivesEmptyText", Raw{2, ""}, Variant(Text())},
        StoredCase{"ShortDword", Raw{4, "\x05\x01"}, Variant(std::int32_t{261})},
        StoredCase{"BigEndian", Raw{5, std::string("\0\0\x01\0", 4)}, Variant(std::int32_t{256})},
        StoredCase{"BinaryGetsOneMoreByte", Raw{3, "\x01\x02\x03"}, Variant(ByteArray{1, 2, 3, 0})},
        StoredCase{"EmptyBinary", Raw{3, ""}, Variant(ByteArray{0})},
        StoredCase{"NoneType", Raw{0, "ab"}, Variant(ByteArray{'a', 'b', 0})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Contract, MissingValueGivesDefaultAndKeepsTheType) {
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"none");
  r.ValueType(9);
  EXPECT_EQ(r.Value(), Variant());
  r.Default(Variant(std::int32_t{5}));
  EXPECT_EQ(r.Value(), Variant(std::int32_t{5}));
  EXPECT_EQ(r.ValueType(), 9);
}

// --- cRegistry: keys -------------------------------------------------------------------------

TEST_F(Contract, KeyLifecycle) {
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText() + u"\\a\\b");
  EXPECT_FALSE(r.KeyExists());
  EXPECT_TRUE(r.CreateKey());
  EXPECT_TRUE(r.KeyExists());
  EXPECT_TRUE(r.CreateKey());
  r.SectionKey(ScratchText() + u"\\a");
  const auto error = Raised([&] { r.DeleteKey(); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), 26001);
  EXPECT_EQ(error->source(), u"QVContract.cRegistry");
  EXPECT_EQ(error->description(),
            u"Failed to delete registry Key: '-2147483647',Section: '" + ScratchText() + u"\\a");
  r.SectionKey(ScratchText() + u"\\a\\b");
  EXPECT_TRUE(r.DeleteKey());
  EXPECT_FALSE(r.KeyExists());
  r.SectionKey(ScratchText() + u"\\A");  // names match without regard to case
  EXPECT_TRUE(r.KeyExists());
  EXPECT_TRUE(r.DeleteKey());
  r.SectionKey(u"");
  EXPECT_TRUE(r.KeyExists());
}

TEST_F(Contract, DeleteValueAndItsErrors) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "", Raw{1, std::string("d\0", 2)});
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "named", Raw{1, std::string("n\0", 2)});
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"");
  EXPECT_TRUE(r.DeleteValue());
  EXPECT_FALSE(GetRaw(win::HKEY_CURRENT_USER, scratch_, ""));
  EXPECT_TRUE(GetRaw(win::HKEY_CURRENT_USER, scratch_, "named"));
  r.ValueKey(u"NAMED");
  EXPECT_TRUE(r.DeleteValue());
  EXPECT_FALSE(GetRaw(win::HKEY_CURRENT_USER, scratch_, "named"));

  auto missingValue = Raised([&] { r.DeleteValue(); });
  ASSERT_TRUE(missingValue.has_value());
  EXPECT_EQ(missingValue->number(), 26001);
  EXPECT_EQ(missingValue->description(), u"Failed to delete registry Key: '-2147483647',Section: '" +
                                             ScratchText() + u"',Key: 'NAMED");
  r.SectionKey(ScratchText() + u"\\none");
  auto missingKey = Raised([&] { r.DeleteValue(); });
  ASSERT_TRUE(missingKey.has_value());
  EXPECT_EQ(missingKey->description(), u"Failed to open key '-2147483647',Section: '" +
                                           ScratchText() + u"\\none' for delete access");
}

struct RefusedWriteCase {
  const char* name;
  std::int32_t valueType;
  Variant input;
  std::int32_t number;
  const char16_t* shownValue;  // nullptr: the error carries no description
};

void PrintTo(const RefusedWriteCase& c, std::ostream* os) { PrintCaseName(c, os); }

class RefusedWrite : public Contract, public ::testing::WithParamInterface<RefusedWriteCase> {};

TEST_P(RefusedWrite, RaisesAndWritesNothing) {
  const RefusedWriteCase& c = GetParam();
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  r.ValueKey(u"v");
  r.ValueType(c.valueType);
  const auto error = Raised([&] { r.Value(c.input); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), c.number);
  if (c.shownValue) {
    EXPECT_EQ(error->description(), u"Failed to set registry value Key: '-2147483647',Section: '" +
                                        ScratchText() + u"',Key: 'v' to value: '" +
                                        Text(c.shownValue) + u"'");
  } else {
    EXPECT_EQ(error->description(), u"");
  }
  EXPECT_FALSE(GetRaw(win::HKEY_CURRENT_USER, scratch_, "v"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedWrite,
    ::testing::Values(RefusedWriteCase{"TypeNone", 0, Variant(Text(u"x")), -2147194455, u"x"},
                      RefusedWriteCase{"TypeMultiSz", 7, Variant(Text(u"x")), -2147194455, u"x"},
                      RefusedWriteCase{"DwordGivenText", 4, Variant(Text(u"5")), -2147194455, u"5"},
                      RefusedWriteCase{"BinaryGivenText", 3, Variant(Text(u"x")), 26001, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// --- cRegistry: enumeration ------------------------------------------------------------------

TEST_F(Contract, EnumerateValuesListsEveryName) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "alpha", Raw{1, std::string("1\0", 2)});
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "", Raw{1, std::string("d\0", 2)});
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "a much longer value name", Raw{4, "\0\0\0\0"});
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  std::vector<Text> names{u"stale"};
  std::int32_t count = 0;
  EXPECT_TRUE(r.EnumerateValues(names, count));
  EXPECT_EQ(count, 3);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{u"", u"a much longer value name", u"alpha"}));
}

TEST_F(Contract, EnumerateSectionsStopsAtAFullLengthName) {
  CreateSubkeys({"b", "A", std::string(254, 'k'), std::string(255, 'm'), "z"});
  cRegistry r = Object();
  r.ClassKey(kHKCU);
  r.SectionKey(ScratchText());
  std::vector<Text> names;
  std::int32_t count = 0;
  EXPECT_TRUE(r.EnumerateSections(names, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<Text>{u"A", u"b", Text(254, u'k')}));
}

// --- views -----------------------------------------------------------------------------------

// 64-bit Windows keeps two views of HKLM\Software; 32-bit Windows ignores KEY_WOW64_32KEY and
// KEY_WOW64_64KEY and has one, without Wow6432Node.
bool TwoViews() { return GetBackend().windowsBits == 64; }

TEST_F(Contract, ValueGoesTo32BitViewAndValue64bitTo64BitView) {
  cRegistry r = Object();
  r.ClassKey(kHKLM);
  r.SectionKey(LeafUnderHklm());
  r.ValueKey(u"Isolation");
  r.ValueType(1);
  r.Value(Variant(Text(u"PMIL")));
  r.ValueKey(u"Isolation64Bit");
  r.ValueType(4);
  r.Value64bit(Variant(std::int32_t{0}));
  const std::string path = std::string(kScratchParent) + "\\" + leaf_;
  const std::string wow = std::string("Software\\Wow6432Node\\QVContractTest\\") + leaf_;
  const Raw pmil{1, std::string("PMIL\0", 5)};
  const Raw zero{4, std::string(4, '\0')};
  if (!TwoViews()) {
    // One key, whichever view is named; nothing below a Wow6432Node key.
    for (win::REGSAM view : {win::REGSAM{0}, win::KEY_WOW64_32KEY, win::KEY_WOW64_64KEY}) {
      EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation", view), pmil) << view;
      EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation64Bit", view), zero) << view;
    }
    EXPECT_FALSE(GetRaw(win::HKEY_LOCAL_MACHINE, wow, "Isolation", win::KEY_WOW64_64KEY));
    EXPECT_TRUE(r.KeyExists());
    EXPECT_TRUE(r.DeleteKey());
    EXPECT_FALSE(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_32KEY));
    EXPECT_FALSE(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_64KEY));
    return;
  }
  EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation", win::KEY_WOW64_32KEY), pmil);
  EXPECT_FALSE(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation", win::KEY_WOW64_64KEY));
  EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation64Bit", win::KEY_WOW64_64KEY), zero);
  EXPECT_FALSE(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation64Bit", win::KEY_WOW64_32KEY));
  // The 32-bit view is the Wow6432Node key as the 64-bit view shows it.
  EXPECT_TRUE(GetRaw(win::HKEY_LOCAL_MACHINE, wow, "Isolation", win::KEY_WOW64_64KEY));
  // Without a view flag a program sees its own view: the 32-bit one for a 32-bit program (which
  // is how the 32-bit release's Value reaches it), the 64-bit one for a 64-bit program.
  EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation", 0).has_value(),
            GetBackend().processBits == 32);
  EXPECT_EQ(GetRaw(win::HKEY_LOCAL_MACHINE, path, "Isolation64Bit", 0).has_value(),
            GetBackend().processBits == 64);
  // KeyExists and DeleteKey work in the 32-bit view too.
  EXPECT_TRUE(r.KeyExists());
  EXPECT_TRUE(r.DeleteKey());
  EXPECT_FALSE(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_32KEY));
  EXPECT_TRUE(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_64KEY));
}

TEST_F(Contract, RelativeOpensKeepTheViewOfTheirHandle) {
  win::UniqueHkey software(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, "Software", 0,
                                win::KEY_CREATE_SUB_KEY | win::KEY_WOW64_32KEY, software.put()),
            win::ERROR_SUCCESS);
  win::UniqueHkey made(Reg());
  const std::string sub = std::string("QVContractTest\\") + leaf_;
  ASSERT_EQ(Reg().RegCreateKeyExA(software.get(), sub.c_str(), 0, nullptr, 0, 0x3F, nullptr,
                                  made.put(), nullptr),
            win::ERROR_SUCCESS);
  const std::string path = std::string(kScratchParent) + "\\" + leaf_;
  EXPECT_TRUE(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_32KEY));
  // On 32-bit Windows both flags name the one view.
  EXPECT_EQ(Exists(win::HKEY_LOCAL_MACHINE, path, win::KEY_WOW64_64KEY), !TwoViews());
}

// --- the Windows functions' own rules ----------------------------------------------------------

struct QueryCase {
  const char* name;
  Raw stored;
  bool passBuffer;
  DWORD offered;
  LONG result;
  DWORD sizeAfter;
};

void PrintTo(const QueryCase& c, std::ostream* os) { PrintCaseName(c, os); }

class Query : public Contract, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(Query, SizesAndResults) {
  const QueryCase& c = GetParam();
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "v", c.stored);
  win::UniqueHkey key(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0,
                                win::KEY_QUERY_VALUE, key.put()),
            win::ERROR_SUCCESS);
  win::BYTE buffer[32];
  std::memset(buffer, 0xCC, sizeof buffer);
  DWORD type = 99;
  DWORD size = c.offered;
  EXPECT_EQ(Reg().RegQueryValueExA(key.get(), "v", nullptr, &type, c.passBuffer ? buffer : nullptr,
                                   &size),
            c.result);
  EXPECT_EQ(size, c.sizeAfter);
  EXPECT_EQ(type, c.stored.type);
  if (c.result == win::ERROR_SUCCESS && c.passBuffer) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), c.stored.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Query,
    ::testing::Values(
        QueryCase{"ZeroSizeGivesMoreData", Raw{1, std::string("abc\0", 4)}, true, 0,
                  win::ERROR_MORE_DATA, 4},
        QueryCase{"TooSmallGivesMoreData", Raw{1, std::string("abc\0", 4)}, true, 3,
                  win::ERROR_MORE_DATA, 4},
        QueryCase{"ExactFits", Raw{1, std::string("abc\0", 4)}, true, 4, win::ERROR_SUCCESS, 4},
        QueryCase{"LargerGivesStoredSize", Raw{1, std::string("abc\0", 4)}, true, 32,
                  win::ERROR_SUCCESS, 4},
        QueryCase{"NoTerminatorAsStored", Raw{1, "abc"}, true, 32, win::ERROR_SUCCESS, 3},
        QueryCase{"NoTerminatorProbe", Raw{1, "abc"}, true, 0, win::ERROR_MORE_DATA, 3},
        QueryCase{"CodePageTextProbe", Raw{1, std::string("\xE4\x80\0", 3)}, true, 0,
                  win::ERROR_MORE_DATA, 3},
        QueryCase{"EmptyValue", Raw{3, ""}, true, 0, win::ERROR_SUCCESS, 0},
        QueryCase{"BinaryNullData", Raw{3, "\x01\x02\x03"}, false, 0, win::ERROR_SUCCESS, 3},
        QueryCase{"DwordTooSmall", Raw{4, "\x01\x02\x03\x04"}, true, 2, win::ERROR_MORE_DATA, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Contract, AStringWithoutTerminatorGetsOneWhenTheNextByteIsZero) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "guarded", Raw{1, "abc"}, 'X');
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "offByOne", Raw{1, "abc"}, '\0');
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "binary", Raw{3, "abc"}, '\0');
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "empty", Raw{1, ""}, '\0');
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "guarded"), (Raw{1, "abc"}));
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "offByOne"), (Raw{1, std::string("abc\0", 4)}));
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "binary"), (Raw{3, "abc"}));
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "empty"), (Raw{1, ""}));
}

TEST_F(Contract, EnumValueNameBufferCountsTheTerminator) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "abc", Raw{1, std::string("1\0", 2)});
  win::UniqueHkey key(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0,
                                win::KEY_QUERY_VALUE, key.put()),
            win::ERROR_SUCCESS);
  char name[16] = {};
  DWORD cch = 3;
  EXPECT_EQ(Reg().RegEnumValueA(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            win::ERROR_MORE_DATA);
  cch = 4;
  DWORD type = 0;
  EXPECT_EQ(Reg().RegEnumValueA(key.get(), 0, name, &cch, nullptr, &type, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(cch, 3u);
  EXPECT_STREQ(name, "abc");
  EXPECT_EQ(type, win::REG_SZ);
  cch = 16;
  EXPECT_EQ(Reg().RegEnumValueA(key.get(), 1, name, &cch, nullptr, nullptr, nullptr, nullptr),
            win::ERROR_NO_MORE_ITEMS);
}

TEST_F(Contract, EnumKeyNeedsRoomForTheTerminatorAndSortsNames) {
  const std::string longName(255, 'q');
  CreateSubkeys({"Zed", longName, "alpha"});
  win::UniqueHkey key(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0,
                                win::KEY_ENUMERATE_SUB_KEYS | win::KEY_QUERY_VALUE, key.put()),
            win::ERROR_SUCCESS);
  char name[300] = {};
  EXPECT_EQ(Reg().RegEnumKeyA(key.get(), 0, name, 255), win::ERROR_SUCCESS);
  EXPECT_STREQ(name, "alpha");
  EXPECT_EQ(Reg().RegEnumKeyA(key.get(), 1, name, 255), win::ERROR_MORE_DATA);
  EXPECT_EQ(Reg().RegEnumKeyA(key.get(), 1, name, 256), win::ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), longName);
  EXPECT_EQ(Reg().RegEnumKeyA(key.get(), 2, name, 255), win::ERROR_SUCCESS);
  EXPECT_STREQ(name, "Zed");
  EXPECT_EQ(Reg().RegEnumKeyA(key.get(), 3, name, 255), win::ERROR_NO_MORE_ITEMS);

  DWORD subKeys = 0, maxSub = 0, values = 9, maxName = 9, maxData = 9;
  char className[1] = {0};
  DWORD classLength = 0;
  EXPECT_EQ(Reg().RegQueryInfoKeyA(key.get(), className, &classLength, nullptr, &subKeys, &maxSub,
                                   nullptr, &values, &maxName, &maxData, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxSub, 255u);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(maxName, 0u);
  EXPECT_EQ(maxData, 0u);
}

TEST_F(Contract, QueryInfoKeyGivesValueLengthsInCharactersWithoutTerminator) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "four", Raw{3, "\x01\x02\x03\x04\x05\x06\x07"});
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "x", Raw{1, std::string("ab\0", 3)});
  win::UniqueHkey key(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0,
                                win::KEY_QUERY_VALUE, key.put()),
            win::ERROR_SUCCESS);
  DWORD values = 0, maxName = 0, maxData = 0;
  char className[1] = {0};
  DWORD classLength = 0;
  EXPECT_EQ(Reg().RegQueryInfoKeyA(key.get(), className, &classLength, nullptr, nullptr, nullptr,
                                   nullptr, &values, &maxName, &maxData, nullptr, nullptr),
            win::ERROR_SUCCESS);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 4u);
  EXPECT_EQ(maxData, 7u);
}

TEST_F(Contract, CreateReportsDispositionAndDeleteRefusesKeysWithSubkeys) {
  const std::string deep = scratch_ + "\\one\\two";
  win::UniqueHkey key(Reg());
  DWORD disposition = 0;
  ASSERT_EQ(Reg().RegCreateKeyExA(win::HKEY_CURRENT_USER, deep.c_str(), 0, nullptr, 0, 0x3F,
                                  nullptr, key.put(), &disposition),
            win::ERROR_SUCCESS);
  EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
  ASSERT_EQ(Reg().RegCreateKeyExA(win::HKEY_CURRENT_USER, (scratch_ + "\\ONE\\Two").c_str(), 0,
                                  nullptr, 0, 0x3F, nullptr, key.put(), &disposition),
            win::ERROR_SUCCESS);
  EXPECT_EQ(disposition, win::REG_OPENED_EXISTING_KEY);
  key.reset();
  EXPECT_EQ(Reg().RegDeleteKeyA(win::HKEY_CURRENT_USER, (scratch_ + "\\one").c_str()),
            win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg().RegDeleteKeyA(win::HKEY_CURRENT_USER, (scratch_ + "\\nothing").c_str()),
            win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegDeleteKeyA(win::HKEY_CURRENT_USER, deep.c_str()), win::ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegDeleteKeyA(win::HKEY_CURRENT_USER, (scratch_ + "\\one").c_str()),
            win::ERROR_SUCCESS);
}

TEST_F(Contract, HandlesThatAreNotKeys) {
  HKEY out{};
  EXPECT_EQ(Reg().RegOpenKeyExA(HKEY{}, "Software", 0, win::KEY_QUERY_VALUE, &out),
            win::ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(Reg().RegQueryValueExA(HKEY{}, "v", nullptr, nullptr, nullptr, &size),
            win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(Reg().RegCloseKey(win::HKEY_CURRENT_USER), win::ERROR_SUCCESS);
  // The root stays usable after that.
  win::UniqueHkey key(Reg());
  EXPECT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, "Software", 0, win::KEY_QUERY_VALUE,
                                key.put()),
            win::ERROR_SUCCESS);
}

TEST_F(Contract, AHandleOnlyDoesWhatItWasOpenedFor) {
  SetRaw(win::HKEY_CURRENT_USER, scratch_, "v", Raw{1, std::string("x\0", 2)});
  win::UniqueHkey key(Reg());
  ASSERT_EQ(Reg().RegOpenKeyExA(win::HKEY_CURRENT_USER, scratch_.c_str(), 0,
                                win::KEY_QUERY_VALUE, key.put()),
            win::ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegSetValueExA(key.get(), "v", 0, win::REG_SZ,
                                 reinterpret_cast<const win::BYTE*>("y"), 2),
            win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg().RegDeleteValueA(key.get(), "v"), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetRaw(win::HKEY_CURRENT_USER, scratch_, "v"), (Raw{1, std::string("x\0", 2)}));
}

struct ExpandCase {
  const char* source;
  const char* expanded;  // with "<root>" standing for %SystemRoot%
};

class Expand : public Contract, public ::testing::WithParamInterface<ExpandCase> {};

TEST_P(Expand, ReturnsTheSizeWithTerminatorAndLeavesUnknownNames) {
  char root[260] = {};
  const DWORD rootSize = Reg().ExpandEnvironmentStringsA("%SystemRoot%", root, sizeof root);
  ASSERT_GT(rootSize, 1u);
  EXPECT_EQ(rootSize, std::strlen(root) + 1);
  std::string expected = GetParam().expanded;
  for (std::size_t at; (at = expected.find("<root>")) != std::string::npos;)
    expected.replace(at, 6, root);
  char buffer[600];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(Reg().ExpandEnvironmentStringsA(GetParam().source, buffer, sizeof buffer),
            expected.size() + 1);
  EXPECT_EQ(std::string(buffer), expected);
  char none[1] = {0};
  EXPECT_EQ(Reg().ExpandEnvironmentStringsA(GetParam().source, none, 0), expected.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(Table, Expand,
                         ::testing::Values(ExpandCase{"%SystemRoot%\\x", "<root>\\x"},
                                           ExpandCase{"%SYSTEMROOT%", "<root>"},
                                           ExpandCase{"%QV_NOT_SET%\\x", "%QV_NOT_SET%\\x"},
                                           ExpandCase{"100%", "100%"},
                                           ExpandCase{"%%", "%%"},
                                           ExpandCase{"%QV_NOT_SET%%SystemRoot%",
                                                      "%QV_NOT_SET%<root>"},
                                           ExpandCase{"plain", "plain"}));

// --- the code page functions ------------------------------------------------------------------
// WideCharToMultiByte and MultiByteToWideChar by their documented rules. Wine follows most of
// them; where it does not (it accepts flags and arguments that Windows refuses for UTF-8 and the
// ISO 2022 pages, so the updater's own flag choice can never be proven under Wine), the row names
// the difference and pins Wine's behaviour, while the simulation follows Windows.

struct ToMultiByteCase {
  const char* name;
  win::UINT codePage;
  DWORD flags;
  const char16_t* text;
  bool askUsedDefault;  // pass lpUsedDefaultChar
  const char* bytes;    // the result; null: the call fails with `error`
  win::BOOL usedDefault;
  LONG error;
  const char* wineDiffers;  // where Wine does not follow Windows' documented rule
};

class ToMultiByte : public Contract, public ::testing::WithParamInterface<ToMultiByteCase> {};

TEST_P(ToMultiByte, FollowsTheDocumentedRules) {
  const ToMultiByteCase& c = GetParam();
  win::ICodePage& cp = GetBackend().codePage;
  const Text text(c.text);
  const int length = static_cast<int>(text.size());
  win::BOOL used = win::FALSE;
  win::BOOL* usedOut = c.askUsedDefault ? &used : nullptr;
  const int needed =
      cp.WideCharToMultiByte(c.codePage, c.flags, text.data(), length, nullptr, 0, nullptr, usedOut);
  if (GetBackend().isWine && c.wineDiffers) {
    // The known difference, pinned: should Wine start to refuse, the row can lose its note.
    EXPECT_TRUE(needed > 0 || cp.GetLastError() != static_cast<DWORD>(c.error))
        << "Wine no longer differs here (it " << c.wineDiffers << ")";
    return;
  }
  if (!c.bytes) {
    EXPECT_EQ(needed, 0);
    EXPECT_EQ(cp.GetLastError(), static_cast<DWORD>(c.error));
    return;
  }
  ASSERT_EQ(needed, static_cast<int>(std::strlen(c.bytes)));
  std::string out(static_cast<std::size_t>(needed), '\0');
  // One byte short: nothing fits, the call says so.
  if (needed > 1) {
    EXPECT_EQ(cp.WideCharToMultiByte(c.codePage, c.flags, text.data(), length, out.data(),
                                     needed - 1, nullptr, usedOut),
              0);
    EXPECT_EQ(cp.GetLastError(), static_cast<DWORD>(win::ERROR_INSUFFICIENT_BUFFER));
  }
  used = win::FALSE;
  ASSERT_EQ(cp.WideCharToMultiByte(c.codePage, c.flags, text.data(), length, out.data(), needed,
                                   nullptr, usedOut),
            needed);
  EXPECT_EQ(out, c.bytes);
  if (c.askUsedDefault) {
    EXPECT_EQ(used != win::FALSE, c.usedDefault != win::FALSE);
  }
}

constexpr DWORD kNoBestFit = win::WC_NO_BEST_FIT_CHARS;

INSTANTIATE_TEST_SUITE_P(
    Table, ToMultiByte,
    ::testing::Values(
        ToMultiByteCase{"Cp1252Umlauts", 1252, kNoBestFit, u"Gr\u00FC\u00DFe", true,
                        "Gr\xFC\xDF" "e", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Cp1252High", 1252, kNoBestFit, u"\u20AC\u2122\u0178", true, "\x80\x99\x9F",
                        win::FALSE, 0, nullptr},
        // Best fit (no flags): look-alikes, and no word of it in lpUsedDefaultChar.
        ToMultiByteCase{"Cp1252FullwidthQuoteBestFits", 1252, 0, u"x\uFF02 y=\uFF021", true,
                        "x\" y=\"1", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Cp1252FullwidthReverseSolidusBestFits", 1252, 0, u"a\uFF3Cb", true,
                        "a\\b", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Cp1252PolishLettersBestFit", 1252, 0, u"\u0141ukasz \u0141\u00F3d\u017A",
                        true, "Lukasz L\xF3" "dz", win::FALSE, 0, nullptr},
        // Without best fit: the default character, and the caller is told.
        ToMultiByteCase{"Cp1252NoBestFitQuote", 1252, kNoBestFit, u"x\uFF02y", true, "x?y",
                        win::TRUE, 0, nullptr},
        ToMultiByteCase{"Cp1252NoBestFitLStroke", 1252, kNoBestFit, u"\u0141", true, "?",
                        win::TRUE, 0, nullptr},
        ToMultiByteCase{"Cp1252NoBestFitCjk", 1252, kNoBestFit, u"a\u4E2Db", true, "a?b",
                        win::TRUE, 0, nullptr},
        ToMultiByteCase{"Cp1252RefusesInvalidCharsFlag", 1252, win::WC_ERR_INVALID_CHARS, u"a",
                        false, nullptr, win::FALSE, win::ERROR_INVALID_FLAGS,
                        "accepts WC_ERR_INVALID_CHARS for code pages other than UTF-8"},
        ToMultiByteCase{"Utf8", win::CP_UTF8, 0, u"\u0141\u00FC\uFF02", false,
                        "\xC5\x81\xC3\xBC\xEF\xBC\x82", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Utf8RefusesNoBestFit", win::CP_UTF8, kNoBestFit, u"a", false, nullptr,
                        win::FALSE, win::ERROR_INVALID_FLAGS, "accepts WC_NO_BEST_FIT_CHARS for UTF-8"},
        ToMultiByteCase{"Utf8RefusesUsedDefaultChar", win::CP_UTF8, 0, u"a", true, nullptr,
                        win::FALSE, win::ERROR_INVALID_PARAMETER,
                        "accepts lpUsedDefaultChar for UTF-8"},
        ToMultiByteCase{"Utf8LoneSurrogateReplaced", win::CP_UTF8, 0, u"a\xD800" u"b", false,
                        "a\xEF\xBF\xBD" "b", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Utf8LoneSurrogateRefused", win::CP_UTF8, win::WC_ERR_INVALID_CHARS,
                        u"a\xD800" u"b", false, nullptr, win::FALSE,
                        win::ERROR_NO_UNICODE_TRANSLATION, nullptr},
        ToMultiByteCase{"Iso2022JpTakesNoFlags", 50220, kNoBestFit, u"a", false, nullptr,
                        win::FALSE, win::ERROR_INVALID_FLAGS,
                        "has no ISO 2022 code pages (ERROR_INVALID_PARAMETER)"},
        ToMultiByteCase{"Cp932KatakanaWithBackslashTrailByte", 932, kNoBestFit, u"\u30BD", true,
                        "\x83\x5C", win::FALSE, 0, nullptr},
        ToMultiByteCase{"Cp932YenBestFitsToBackslash", 932, 0, u"\u00A5", true, "\\", win::FALSE,
                        0, nullptr}),
    [](const ::testing::TestParamInfo<ToMultiByteCase>& info) { return info.param.name; });

struct ToWideCase {
  const char* name;
  win::UINT codePage;
  DWORD flags;
  const char* bytes;
  const char16_t* text;  // null: the call fails with `error`
  LONG error;
  const char* wineDiffers;
};

class ToWide : public Contract, public ::testing::WithParamInterface<ToWideCase> {};

TEST_P(ToWide, FollowsTheDocumentedRules) {
  const ToWideCase& c = GetParam();
  win::ICodePage& cp = GetBackend().codePage;
  const int length = static_cast<int>(std::strlen(c.bytes));
  const int needed = cp.MultiByteToWideChar(c.codePage, c.flags, c.bytes, length, nullptr, 0);
  if (GetBackend().isWine && c.wineDiffers) {
    EXPECT_TRUE(needed > 0 || cp.GetLastError() != static_cast<DWORD>(c.error))
        << "Wine no longer differs here (it " << c.wineDiffers << ")";
    return;
  }
  if (!c.text) {
    EXPECT_EQ(needed, 0);
    EXPECT_EQ(cp.GetLastError(), static_cast<DWORD>(c.error));
    return;
  }
  ASSERT_GT(needed, 0);
  Text out(static_cast<std::size_t>(needed), u'\0');
  ASSERT_EQ(cp.MultiByteToWideChar(c.codePage, c.flags, c.bytes, length, out.data(), needed),
            needed);
  EXPECT_EQ(out, Text(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToWide,
    ::testing::Values(
        ToWideCase{"Cp1252", 1252, win::MB_ERR_INVALID_CHARS, "\x80\xE4\x9F", u"\u20AC\u00E4\u0178",
                   0, nullptr},
        ToWideCase{"Cp1252UndefinedByteIsItsControl", 1252, win::MB_ERR_INVALID_CHARS, "\x81\x8D",
                   u"\u0081\u008D", 0, nullptr},
        ToWideCase{"Utf8", win::CP_UTF8, win::MB_ERR_INVALID_CHARS, "\xC5\x81\xC3\xBC",
                   u"\u0141\u00FC", 0, nullptr},
        ToWideCase{"Utf8OverlongRefused", win::CP_UTF8, win::MB_ERR_INVALID_CHARS, "a\xC1\x9C",
                   nullptr, win::ERROR_NO_UNICODE_TRANSLATION, nullptr},
        ToWideCase{"Utf8RefusesPrecomposed", win::CP_UTF8, win::MB_PRECOMPOSED, "a", nullptr,
                   win::ERROR_INVALID_FLAGS, "accepts MB_PRECOMPOSED for UTF-8"},
        ToWideCase{"Cp932DoubleByte", 932, win::MB_ERR_INVALID_CHARS, "\x83\x5C\x93\xFA",
                   u"\u30BD\u65E5", 0, nullptr},
        ToWideCase{"Cp932LeadByteAtTheEndRefused", 932, win::MB_ERR_INVALID_CHARS, "a\x83",
                   nullptr, win::ERROR_NO_UNICODE_TRANSLATION, nullptr}),
    [](const ::testing::TestParamInfo<ToWideCase>& info) { return info.param.name; });

// The updater's rule over the system code page: a text reaches Windows unchanged or not at all.
struct CodecCase {
  const char* name;
  const char16_t* text;
  const char* bytes;  // null: kErrAnsiText is raised
};

class Codec : public Contract, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(Codec, PassesTextUnchangedOrRaises) {
  if (GetBackend().codePage.GetACP() != 1252) GTEST_SKIP() << "rows are for code page 1252";
  AnsiCodec codec(GetBackend().codePage, u"QVContract");
  const CodecCase& c = GetParam();
  if (!c.bytes) {
    try {
      codec.ToAnsi(c.text);
      ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrAnsiText);
      EXPECT_EQ(e.source(), u"QVContract");
      EXPECT_NE(e.description().find(c.text), Text::npos);
    }
    AnsiString out;
    EXPECT_FALSE(codec.TryToAnsi(c.text, out));
    EXPECT_TRUE(out.empty());
    return;
  }
  EXPECT_EQ(codec.ToAnsi(c.text).bytes(), std::string(c.bytes));
  EXPECT_EQ(codec.FromAnsi(AnsiString(c.bytes)), Text(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Codec,
    ::testing::Values(CodecCase{"Empty", u"", ""}, CodecCase{"Plain", u"plain", "plain"},
                      CodecCase{"Umlauts", u"Gr\u00FC\u00DFe", "Gr\xFC\xDF" "e"},
                      CodecCase{"High", u"\u20AC\u2122\u0178", "\x80\x99\x9F"},
                      CodecCase{"FullwidthQuote", u"C:\\x\uFF02 INJECTED=\uFF021", nullptr},
                      CodecCase{"FullwidthReverseSolidus", u"C:\\a\uFF3C..", nullptr},
                      CodecCase{"PolishLetters", u"C:\\Users\\\u0141ukasz \u0141\u00F3d\u017A",
                                nullptr},
                      CodecCase{"Cjk", u"a\u4E2Db", nullptr},
                      CodecCase{"LoneSurrogate", u"a\xDC00", nullptr}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qv::contract
