// cRegistry on the simulated registry: what it reads and writes, what it raises, which view it
// reaches on each Windows word size, and that it never leaves a key handle open.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <string>

#include "platform/sim/sim_registry.h"
#include "registry/cRegistry.h"

namespace qv {

// Failure messages show a dynamic value as its kind and text.
static void PrintTo(const Variant& v, std::ostream* os) {
  *os << "variant#" << v.storage().index() << " \"" << TextToUtf8(v.ToText()) << "\"";
}

namespace {

using sim::FaultRule;
using sim::RegValue;
using sim::SimCodePage;
using sim::SimKernel;
using sim::SimRegistry;

constexpr std::int32_t kHKCR = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kHKCU = static_cast<std::int32_t>(0x80000001u);
constexpr std::int32_t kHKLM = static_cast<std::int32_t>(0x80000002u);
constexpr const char16_t* kSource = u"QV3Update.cRegistry";

RegValue Raw(win::DWORD type, std::string bytes) {
  return RegValue{type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

// The updater's situation unless a test says otherwise: a 32-bit process on 64-bit Windows.
struct Machine {
  explicit Machine(int windowsBits = 64, int processBits = 32)
      : registry(kernel, windowsBits, processBits), object(codePage, registry, u"QV3Update",
                                                           processBits) {}
  void At(std::int32_t root, const char16_t* section, const char16_t* value = u"") {
    object.ClassKey(root);
    object.SectionKey(section);
    object.ValueKey(value);
  }
  SimKernel kernel;
  SimRegistry registry;
  SimCodePage codePage;
  cRegistry object;
};

// Runs `op` and gives the error it raised, if any.
std::optional<Error> Raised(const std::function<void()>& op) {
  try {
    op();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

// --- reading ---------------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  RegValue stored;
  Variant expected;
  std::int32_t typeAfter;
};

class Read : public ::testing::TestWithParam<ReadCase> {};

TEST_P(Read, ConvertsTheStoredDataByItsType) {
  const ReadCase& c = GetParam();
  Machine m;
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "v", c.stored);
  m.At(kHKLM, u"Software\\QV\\R", u"v");
  m.object.Default(Variant(Text(u"dflt")));
  m.object.ValueType(77);
  EXPECT_EQ(m.object.Value(), c.expected);
  EXPECT_EQ(m.object.ValueType(), c.typeAfter);
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
  EXPECT_TRUE(m.registry.Changes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Read,
    ::testing::Values(
        ReadCase{"SzWithTerminator", Raw(1, std::string("abc\0", 4)), Variant(Text(u"abc")), 1},
        ReadCase{"SzWithoutTerminator", Raw(1, "abc"), Variant(Text(u"ab")), 1},
        ReadCase{"SzInCodePage", Raw(1, std::string("Gr\xFC\xDF" "e\0", 6)),
                 Variant(Text(u"Gr\u00FC\u00DFe")), 1},
        ReadCase{"MultiSzKeepsSeparators", Raw(7, std::string("a\0b\0\0", 5)),
                 Variant(Text(u"a\0b\0", 4)), 7},
        ReadCase{"EmptySzGivesDefault", Raw(1, ""), Variant(Text(u"dflt")), 1},
        ReadCase{"EmptyMultiSzGivesDefault", Raw(7, ""), Variant(Text(u"dflt")), 7},
        ReadCase{"EmptyExpandSzGivesEmptyText", Raw(2, ""), Variant(Text()), 2},
        ReadCase{"ExpandSz", Raw(2, std::string("%SystemRoot%\\x\0", 15)),
                 Variant(Text(u"C:\\Windows\\x")), 2},
        ReadCase{"ExpandSzUndefinedStays", Raw(2, std::string("%NOPE%\\x\0", 9)),
                 Variant(Text(u"%NOPE%\\x")), 2},
        ReadCase{"Dword", Raw(4, std::string("\x40\x1F\0\0", 4)), Variant(std::int32_t{8000}), 4},
        ReadCase{"DwordNegative", Raw(4, "\xFF\xFF\xFF\xFF"), Variant(std::int32_t{-1}), 4},
        ReadCase{"DwordShortFillsLowBytes", Raw(4, "\x05\x01"), Variant(std::int32_t{261}), 4},
        ReadCase{"DwordLongerThanFourReadsNothing", Raw(4, "\x01\x02\x03\x04\x05\x06\x07\x08"),
                 Variant(std::int32_t{0}), 4},
        ReadCase{"BigEndian", Raw(5, std::string("\0\0\x01\0", 4)), Variant(std::int32_t{256}), 5},
        ReadCase{"BigEndianBytesReversed", Raw(5, "\x11\x22\x33\x44"),
                 Variant(std::int32_t{0x11223344}), 5},
        ReadCase{"BinaryGetsOneMoreByte", Raw(3, "\x01\x02\x03"),
                 Variant(ByteArray{1, 2, 3, 0}), 3},
        ReadCase{"EmptyBinary", Raw(3, ""), Variant(ByteArray{0}), 3},
        ReadCase{"NoneType", Raw(0, "ab"), Variant(ByteArray{'a', 'b', 0}), 0},
        ReadCase{"QwordAsBytes", Raw(11, std::string("\x01\0\0\0\0\0\0\0", 8)),
                 Variant(ByteArray{1, 0, 0, 0, 0, 0, 0, 0, 0}), 11}),
    [](const auto& info) { return std::string(info.param.name); });

struct FallbackCase {
  const char* name;
  std::function<void(Machine&)> setup;
};

class ReadFallsBack : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(ReadFallsBack, ToDefaultWithoutRaisingOrChangingTheType) {
  Machine m;
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "v", Raw(1, std::string("x\0", 2)));
  m.At(kHKLM, u"Software\\QV\\R", u"v");
  m.object.ValueType(42);
  m.object.Default(Variant(ByteArray{9, 8}));
  GetParam().setup(m);
  EXPECT_EQ(m.object.Value(), Variant(ByteArray{9, 8}));
  EXPECT_EQ(m.object.ValueType(), 42);
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadFallsBack,
    ::testing::Values(
        FallbackCase{"MissingValue", [](Machine& m) { m.object.ValueKey(u"other"); }},
        FallbackCase{"MissingKey", [](Machine& m) { m.object.SectionKey(u"Software\\QV\\None"); }},
        FallbackCase{"OtherView", [](Machine& m) { m.object.ClassKey(kHKCU); }},
        FallbackCase{"RootNeverSet", [](Machine& m) { m.object.ClassKey(0); }},
        FallbackCase{"InvalidRoot", [](Machine& m) { m.object.ClassKey(0x12345); }},
        FallbackCase{"ReadDenied",
                     [](Machine& m) {
                       m.registry.DenyAccess("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", true, false);
                     }},
        FallbackCase{"OpenFails",
                     [](Machine& m) { m.kernel.AddFault(FaultRule{"RegOpenKeyExA", 1, 0}); }},
        FallbackCase{"ProbeFails",
                     [](Machine& m) { m.kernel.AddFault(FaultRule{"RegQueryValueExA", 1, 0}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSecondCall, AFailedReadGivesThePrefilledBuffer) {
  Machine m;
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "s", Raw(1, std::string("abc\0", 4)));
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "d", Raw(4, "\x01\x02\x03\x04"));
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "b", Raw(3, "\x01\x02"));
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\R", "e", Raw(2, std::string("%TEMP%\0", 7)));
  m.kernel.AddFault(FaultRule{"RegQueryValueExA", 2, 0});
  m.kernel.AddFault(FaultRule{"RegQueryValueExA", 4, 0});
  m.kernel.AddFault(FaultRule{"RegQueryValueExA", 6, 0});
  m.kernel.AddFault(FaultRule{"ExpandEnvironmentStringsA", 1, 0});
  m.At(kHKLM, u"Software\\QV\\R", u"s");
  EXPECT_EQ(m.object.Value(), Variant(Text(3, u'\0')));
  m.object.ValueKey(u"d");
  EXPECT_EQ(m.object.Value(), Variant(std::int32_t{0}));
  m.object.ValueKey(u"b");
  EXPECT_EQ(m.object.Value(), Variant(ByteArray{0, 0, 0}));
  m.object.ValueKey(u"e");
  EXPECT_EQ(m.object.Value(), Variant(Text()));
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(ReadEx, SetsTheLocationAndReads) {
  Machine m;
  m.registry.SetValue("HKCU\\Software\\QV", "n", Raw(4, "\x07\0\0\0"));
  EXPECT_EQ(m.object.ValueEx(kHKCU, u"Software\\QV", u"n", 1, Variant()), Variant(std::int32_t{7}));
  EXPECT_EQ(m.object.ClassKey(), kHKCU);
  EXPECT_EQ(m.object.SectionKey(), u"Software\\QV");
  EXPECT_EQ(m.object.ValueKey(), u"n");
  EXPECT_EQ(m.object.ValueType(), 4);
  EXPECT_EQ(m.object.ValueEx(kHKCU, u"Software\\QV", u"missing", 1, Variant(Text(u"d"))),
            Variant(Text(u"d")));
  EXPECT_EQ(m.object.ValueType(), 1);
  EXPECT_EQ(m.object.Default(), Variant(Text(u"d")));
}

// --- writing ---------------------------------------------------------------------------------

struct WriteCase {
  const char* name;
  std::int32_t valueType;
  Variant input;
  RegValue stored;
};

class Write : public ::testing::TestWithParam<WriteCase> {};

TEST_P(Write, StoresTheFormTheTypeSelects) {
  const WriteCase& c = GetParam();
  Machine m;
  m.At(kHKLM, u"Software\\QV\\W", u"v");
  m.object.ValueType(c.valueType);
  m.object.Value(c.input);
  EXPECT_EQ(m.registry.GetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\W", "v"), c.stored);
  EXPECT_EQ(m.object.ValueType(), c.valueType);
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Write,
    ::testing::Values(
        WriteCase{"Sz", 1, Variant(Text(u"abc")), Raw(1, std::string("abc\0", 4))},
        WriteCase{"ExpandTypeWithPlainText", 2, Variant(Text(u"abc")), Raw(1, std::string("abc\0", 4))},
        WriteCase{"SzWithVariable", 1, Variant(Text(u"%TEMP%\\x")),
                  Raw(2, std::string("%TEMP%\\x\0", 9))},
        WriteCase{"DoublePercentThenThird", 1, Variant(Text(u"a%%b%")),
                  Raw(2, std::string("a%%b%\0", 6))},
        WriteCase{"AdjacentPercents", 2, Variant(Text(u"%%")), Raw(1, std::string("%%\0", 3))},
        WriteCase{"SinglePercent", 2, Variant(Text(u"100%")), Raw(1, std::string("100%\0", 5))},
        WriteCase{"PercentInProse", 1, Variant(Text(u"50% of 60")),
                  Raw(1, std::string("50% of 60\0", 10))},
        WriteCase{"EmptyText", 1, Variant(Text()), Raw(1, std::string("\0", 1))},
        WriteCase{"EmptyVariant", 1, Variant(), Raw(1, std::string("\0", 1))},
        WriteCase{"IntegerAsText", 1, Variant(std::int32_t{-42}), Raw(1, std::string("-42\0", 4))},
        WriteCase{"TextInCodePage", 1, Variant(Text(u"M\u00FCller \u20AC \u0178")),
                  Raw(1, std::string("M\xFCller \x80 \x9F\0", 11))},
        WriteCase{"Binary", 3, Variant(ByteArray{0, 1, 0xFF}), Raw(3, std::string("\0\x01\xFF", 3))},
        WriteCase{"EmptyBinary", 3, Variant(ByteArray{}), Raw(3, "")},
        WriteCase{"Dword16", 4, Variant(std::int16_t{8000}), Raw(4, std::string("\x40\x1F\0\0", 4))},
        WriteCase{"Dword16NegativeSignExtended", 4, Variant(std::int16_t{-2}),
                  Raw(4, "\xFE\xFF\xFF\xFF")},
        WriteCase{"Dword32", 4, Variant(std::int32_t{0x01020304}), Raw(4, "\x04\x03\x02\x01")},
        WriteCase{"BigEndianStoredAsDwordUnreversed", 5, Variant(std::int32_t{0x01020304}),
                  Raw(4, "\x04\x03\x02\x01")}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteFailureCase {
  const char* name;
  std::int32_t valueType;
  Variant input;
  std::int32_t number;
  const char16_t* source;
  const char16_t* description;
};

class WriteFailure : public ::testing::TestWithParam<WriteFailureCase> {};

TEST_P(WriteFailure, RaisesWritesNothingAndClosesTheKey) {
  const WriteFailureCase& c = GetParam();
  Machine m;
  m.At(kHKLM, u"Software\\QV\\W", u"v");
  m.object.ValueType(c.valueType);
  const auto error = Raised([&] { m.object.Value(c.input); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), c.number);
  EXPECT_EQ(error->source(), Text(c.source));
  EXPECT_EQ(error->description(), Text(c.description));
  EXPECT_FALSE(m.registry.GetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\W", "v").has_value());
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

#define QV_LOSSY(text)                                                                        \
  u"The text '" text u"' cannot be passed to Windows unchanged: the system code page 1252 lacks " \
  u"some of its characters."
#define QV_WRITE_FAILED(value) \
  u"Failed to set registry value Key: '-2147483646',Section: 'Software\\QV\\W',Key: 'v' to value: '" value u"'"

INSTANTIATE_TEST_SUITE_P(
    Table, WriteFailure,
    ::testing::Values(
        WriteFailureCase{"TypeNone", 0, Variant(Text(u"abc")), -2147194455, kSource,
                         QV_WRITE_FAILED(u"abc")},
        WriteFailureCase{"TypeLink", 6, Variant(Text(u"abc")), -2147194455, kSource,
                         QV_WRITE_FAILED(u"abc")},
        WriteFailureCase{"TypeMultiSz", 7, Variant(std::int32_t{5}), -2147194455, kSource,
                         QV_WRITE_FAILED(u"5")},
        WriteFailureCase{"TypeEight", 8, Variant(), -2147194455, kSource, QV_WRITE_FAILED(u"")},
        WriteFailureCase{"TypeNegative", -1, Variant(true), -2147194455, kSource,
                         QV_WRITE_FAILED(u"True")},
        // A number type given something that is no number is refused instead of being
        // reported as written.
        WriteFailureCase{"DwordGivenDigitText", 4, Variant(Text(u"5")), -2147194455, kSource,
                         QV_WRITE_FAILED(u"5")},
        WriteFailureCase{"DwordGivenDouble", 4, Variant(1.5), -2147194455, kSource,
                         QV_WRITE_FAILED(u"1.5")},
        WriteFailureCase{"BigEndianGivenEmpty", 5, Variant(), -2147194455, kSource,
                         QV_WRITE_FAILED(u"")},
        WriteFailureCase{"DwordGivenBytes", 4, Variant(ByteArray{0x0A, 0xFF}), -2147194455,
                         kSource, QV_WRITE_FAILED(u"0A FF")},
        WriteFailureCase{"BinaryGivenText", 3, Variant(Text(u"abc")), 26001, u"", u""},
        WriteFailureCase{"BinaryGivenInteger", 3, Variant(std::int32_t{1}), 26001, u"", u""},
        // A text the code page cannot carry unchanged is refused before the key is opened: it
        // would be stored with "?" or a look-alike (a fullwidth quotation mark becomes '"').
        WriteFailureCase{"TextTheCodePageLacks", 1, Variant(Text(u"M\u00FCller \u03A9")),
                         kErrAnsiText, kSource, QV_LOSSY(u"M\u00FCller \u03A9")},
        WriteFailureCase{"TextWithFullwidthQuote", 2, Variant(Text(u"\"C:\\x\uFF02 y\"")),
                         kErrAnsiText, kSource, QV_LOSSY(u"\"C:\\x\uFF02 y\"")},
        WriteFailureCase{"TextWithLoneSurrogate", 1, Variant(Text(u"a\xD800")), kErrAnsiText,
                         kSource, QV_LOSSY(u"a\xD800")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteRefused, BySystemRaisesWithTheValueAsText) {
  Machine m;
  m.registry.RefuseValueWrites("HKCU\\Software\\QV\\Quota", 1450);
  m.At(kHKCU, u"Software\\QV\\Quota", u"Name");
  m.object.ValueType(1);
  const auto error = Raised([&] { m.object.Value(Variant(Text(u"x"))); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), -2147194455);
  EXPECT_EQ(error->description(),
            u"Failed to set registry value Key: '-2147483647',Section: 'Software\\QV\\Quota',"
            u"Key: 'Name' to value: 'x'");
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(WriteRefused, KeyThatCannotBeOpenedWritesNothingSilently) {
  Machine m;
  m.registry.DenyAccess("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Locked", false, true);
  m.At(kHKLM, u"Software\\QV\\Locked", u"Name");
  m.object.ValueType(4);
  EXPECT_FALSE(Raised([&] { m.object.Value(Variant(std::int32_t{1})); }).has_value());
  EXPECT_FALSE(m.registry.GetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Locked", "Name"));
  EXPECT_EQ(m.object.PendingErrorText(),
            u"Failed to set registry value Key: Software\\QV\\Locked',Key: 'Name' to value: '1'");
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(WriteEx, EmptyTextTakesTheDefaultAndTheCallerSeesIt) {
  Machine m;
  Variant newValue{Text()};
  m.object.ValueEx(kHKCU, u"Software\\QV", u"n", 1, Variant(Text(u"fallback")), newValue);
  EXPECT_EQ(newValue, Variant(Text(u"fallback")));
  EXPECT_EQ(m.registry.GetValue("HKCU\\Software\\QV", "n"),
            Raw(1, std::string("fallback\0", 9)));
  // Only type 1 replaces an empty value.
  Variant empty2{Text()};
  m.object.ValueEx(kHKCU, u"Software\\QV", u"e", 2, Variant(Text(u"fallback")), empty2);
  EXPECT_EQ(empty2, Variant(Text()));
  EXPECT_EQ(m.registry.GetValue("HKCU\\Software\\QV", "e"), Raw(1, std::string("\0", 1)));
  EXPECT_EQ(m.object.ValueKey(), u"e");
  EXPECT_EQ(m.object.ValueType(), 2);
}

// --- key operations --------------------------------------------------------------------------

struct KeyOpFailureCase {
  const char* name;
  std::function<void(Machine&)> setup;
  std::function<void(cRegistry&)> op;
  const char16_t* description;
};

class KeyOpFailure : public ::testing::TestWithParam<KeyOpFailureCase> {};

TEST_P(KeyOpFailure, Raises26001WithItsDescription) {
  Machine m;
  m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K\\child");
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K", "here", Raw(1, "x"));
  GetParam().setup(m);
  const auto error = Raised([&] { GetParam().op(m.object); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), 26001);
  EXPECT_EQ(error->source(), kSource);
  EXPECT_EQ(error->description(), Text(GetParam().description));
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
  EXPECT_TRUE(m.registry.KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K\\child"));
  EXPECT_TRUE(m.registry.GetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K", "here").has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeyOpFailure,
    ::testing::Values(
        KeyOpFailureCase{"CreateUnderDeniedKey",
                         [](Machine& m) {
                           m.registry.DenyAccess("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K", false, true);
                           m.At(kHKLM, u"Software\\QV\\K\\New");
                         },
                         [](cRegistry& r) { r.CreateKey(); },
                         u"Failed to create registry Key: 'Software\\QV\\K\\New"},
        KeyOpFailureCase{"DeleteKeyWithSubkeys", [](Machine& m) { m.At(kHKLM, u"Software\\QV\\K"); },
                         [](cRegistry& r) { r.DeleteKey(); },
                         u"Failed to delete registry Key: '-2147483646',Section: 'Software\\QV\\K"},
        KeyOpFailureCase{"DeleteMissingKeyUnderClassesRoot",
                         [](Machine& m) { m.At(kHKCR, u"CLSID\\{none}"); },
                         [](cRegistry& r) { r.DeleteKey(); },
                         u"Failed to delete registry Key: '-2147483648',Section: 'CLSID\\{none}"},
        KeyOpFailureCase{"DeleteValueOfMissingKey",
                         [](Machine& m) { m.At(kHKCU, u"Software\\QV\\Missing", u"v"); },
                         [](cRegistry& r) { r.DeleteValue(); },
                         u"Failed to open key '-2147483647',Section: 'Software\\QV\\Missing' for "
                         u"delete access"},
        KeyOpFailureCase{"DeleteMissingValue",
                         [](Machine& m) { m.At(kHKLM, u"Software\\QV\\K", u"nope"); },
                         [](cRegistry& r) { r.DeleteValue(); },
                         u"Failed to delete registry Key: '-2147483646',Section: 'Software\\QV\\K',"
                         u"Key: 'nope"},
        KeyOpFailureCase{"DeleteValueOfWriteDeniedKey",
                         [](Machine& m) {
                           m.registry.DenyAccess("HKLM\\SOFTWARE\\Wow6432Node\\QV\\K", false, true);
                           m.At(kHKLM, u"Software\\QV\\K", u"here");
                         },
                         [](cRegistry& r) { r.DeleteValue(); },
                         u"Failed to open key '-2147483646',Section: 'Software\\QV\\K' for delete "
                         u"access"},
        KeyOpFailureCase{"CreateWithRootNeverSet", [](Machine& m) { m.At(0, u"Software\\QV\\X"); },
                         [](cRegistry& r) { r.CreateKey(); },
                         u"Failed to create registry Key: 'Software\\QV\\X"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyOps, ExistsCreateDeleteRoundTrip) {
  Machine m;
  m.At(kHKLM, u"Software\\QV\\New\\Deep");
  EXPECT_FALSE(m.object.KeyExists());
  EXPECT_TRUE(m.object.CreateKey());
  EXPECT_TRUE(m.registry.KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\QV\\New\\Deep"));
  EXPECT_TRUE(m.object.KeyExists());
  const auto changesAfterCreate = m.registry.Changes().size();
  EXPECT_TRUE(m.object.CreateKey());  // exists: nothing changes
  EXPECT_EQ(m.registry.Changes().size(), changesAfterCreate);
  EXPECT_TRUE(m.object.DeleteKey());
  EXPECT_FALSE(m.object.KeyExists());
  EXPECT_TRUE(m.registry.KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\QV\\New"));
  m.At(kHKLM, u"");
  EXPECT_TRUE(m.object.KeyExists());
  EXPECT_TRUE(m.object.CreateKey());
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(KeyOps, DeleteValueWithEmptyNameDeletesTheDefaultValue) {
  Machine m;
  m.registry.SetValue("HKCU\\Software\\QV", "", Raw(1, "d"));
  m.registry.SetValue("HKCU\\Software\\QV", "named", Raw(1, "n"));
  m.At(kHKCU, u"Software\\QV", u"");
  EXPECT_TRUE(m.object.DeleteValue());
  EXPECT_FALSE(m.registry.GetValue("HKCU\\Software\\QV", "").has_value());
  EXPECT_TRUE(m.registry.GetValue("HKCU\\Software\\QV", "named").has_value());
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(KeyOps, KeyExistsIsFalseForUnreadableKeysAndBadRoots) {
  Machine m;
  m.registry.DenyAccess("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Secret", true, false);
  m.At(kHKLM, u"Software\\QV\\Secret");
  EXPECT_FALSE(m.object.KeyExists());
  m.At(0, u"");
  EXPECT_FALSE(m.object.KeyExists());
  m.At(0x7FFF, u"Software");
  EXPECT_FALSE(m.object.KeyExists());
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(Properties, SettingThemNeverTouchesTheRegistry) {
  Machine m;
  m.object.ClassKey(kHKLM);
  m.object.SectionKey(u"Software\\X");
  m.object.ValueKey(u"v");
  m.object.ValueType(4);
  m.object.Default(Variant(std::int16_t{3}));
  EXPECT_EQ(m.kernel.CallCount(), 0u);
  EXPECT_EQ(m.object.ClassKey(), kHKLM);
  EXPECT_EQ(m.object.SectionKey(), u"Software\\X");
  EXPECT_EQ(m.object.ValueKey(), u"v");
  EXPECT_EQ(m.object.ValueType(), 4);
  EXPECT_EQ(m.object.Default(), Variant(std::int16_t{3}));
}

// --- planned failures of each call -----------------------------------------------------------

struct InjectedCase {
  const char* name;
  const char* function;
  std::uint64_t nth;
  std::function<void(Machine&)> check;  // runs the operation and checks its outcome
};

class Injected : public ::testing::TestWithParam<InjectedCase> {};

TEST_P(Injected, EachFailingCallHasItsOutcomeAndNoHandleStaysOpen) {
  Machine m;
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\I", "a", Raw(1, std::string("1\0", 2)));
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\I", "b", Raw(1, std::string("2\0", 2)));
  m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\I\\s1");
  m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\I\\s2");
  m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Leaf");
  m.At(kHKLM, u"Software\\QV\\I", u"a");
  m.object.Default(Variant(Text(u"dflt")));
  m.kernel.AddFault(FaultRule{GetParam().function, GetParam().nth, 0});
  GetParam().check(m);
  bool failed = false;
  for (const auto& call : m.kernel.Calls()) failed = failed || call.failedByPlan;
  EXPECT_TRUE(failed) << "the planned failure never happened";
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

std::int32_t RaisedNumber(const std::function<void()>& op) {
  const auto e = Raised(op);
  return e ? e->number() : 0;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Injected,
    ::testing::Values(
        InjectedCase{"KeyExistsOpen", "RegOpenKeyExA", 1,
                     [](Machine& m) { EXPECT_FALSE(m.object.KeyExists()); }},
        InjectedCase{"KeyExistsClose", "RegCloseKey", 1,
                     [](Machine& m) { EXPECT_TRUE(m.object.KeyExists()); }},
        InjectedCase{"CreateKeyCreate", "RegCreateKeyExA", 1,
                     [](Machine& m) {
                       EXPECT_EQ(RaisedNumber([&] { m.object.CreateKey(); }), 26001);
                     }},
        InjectedCase{"DeleteKey", "RegDeleteKeyA", 1,
                     [](Machine& m) {
                       m.object.SectionKey(u"Software\\QV\\Leaf");
                       EXPECT_EQ(RaisedNumber([&] { m.object.DeleteKey(); }), 26001);
                       EXPECT_TRUE(m.registry.KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Leaf"));
                     }},
        InjectedCase{"DeleteValueOpen", "RegOpenKeyExA", 1,
                     [](Machine& m) {
                       const auto e = Raised([&] { m.object.DeleteValue(); });
                       ASSERT_TRUE(e);
                       EXPECT_NE(e->description().find(u"for delete access"), Text::npos);
                     }},
        InjectedCase{"DeleteValueDelete", "RegDeleteValueA", 1,
                     [](Machine& m) {
                       const auto e = Raised([&] { m.object.DeleteValue(); });
                       ASSERT_TRUE(e);
                       EXPECT_NE(e->description().find(u"',Key: 'a"), Text::npos);
                     }},
        InjectedCase{"ReadSecondQuery", "RegQueryValueExA", 2,
                     [](Machine& m) { EXPECT_EQ(m.object.Value(), Variant(Text(1, u'\0'))); }},
        InjectedCase{"WriteCreate", "RegCreateKeyExA", 1,
                     [](Machine& m) {
                       m.object.ValueType(1);
                       EXPECT_EQ(RaisedNumber([&] { m.object.Value(Variant(Text(u"z"))); }), 0);
                       EXPECT_EQ(m.registry.GetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\I", "a"),
                                 Raw(1, std::string("1\0", 2)));
                     }},
        InjectedCase{"WriteSet", "RegSetValueExA", 1,
                     [](Machine& m) {
                       m.object.ValueType(1);
                       EXPECT_EQ(RaisedNumber([&] { m.object.Value(Variant(Text(u"z"))); }),
                                 -2147194455);
                     }},
        InjectedCase{"Write64Set", "RegSetValueExA", 1,
                     [](Machine& m) {
                       m.object.ValueType(4);
                       EXPECT_EQ(
                           RaisedNumber([&] { m.object.Value64bit(Variant(std::int32_t{0})); }),
                           -2147194455);
                     }},
        InjectedCase{"EnumerateValuesOpen", "RegOpenKeyExA", 1,
                     [](Machine& m) {
                       std::vector<Text> names{u"stale"};
                       std::int32_t count = 9;
                       EXPECT_TRUE(m.object.EnumerateValues(names, count));
                       EXPECT_EQ(count, 0);
                       EXPECT_TRUE(names.empty());
                     }},
        InjectedCase{"EnumerateValuesInfo", "RegQueryInfoKeyA", 1,
                     [](Machine& m) {
                       std::vector<Text> names;
                       std::int32_t count = 9;
                       EXPECT_TRUE(m.object.EnumerateValues(names, count));
                       EXPECT_EQ(count, 0);
                     }},
        InjectedCase{"EnumerateValuesSecond", "RegEnumValueA", 2,
                     [](Machine& m) {
                       std::vector<Text> names;
                       std::int32_t count = 0;
                       EXPECT_TRUE(m.object.EnumerateValues(names, count));
                       EXPECT_EQ(count, 1);
                       EXPECT_EQ(names, std::vector<Text>{u"a"});
                     }},
        InjectedCase{"EnumerateSectionsSecond", "RegEnumKeyA", 2,
                     [](Machine& m) {
                       std::vector<Text> names;
                       std::int32_t count = 0;
                       EXPECT_TRUE(m.object.EnumerateSections(names, count));
                       EXPECT_EQ(count, 1);
                       EXPECT_EQ(names, std::vector<Text>{u"s1"});
                     }},
        InjectedCase{"EnumerateSectionsClose", "RegCloseKey", 1,
                     [](Machine& m) {
                       std::vector<Text> names;
                       std::int32_t count = 0;
                       EXPECT_TRUE(m.object.EnumerateSections(names, count));
                       EXPECT_EQ(count, 2);
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- views -----------------------------------------------------------------------------------

struct ViewCase {
  const char* name;
  int windowsBits;
  int processBits;
  bool sixtyFour;  // Value64bit instead of Value
  const char* lands;
  const char* notThere;
};

class WriteView : public ::testing::TestWithParam<ViewCase> {};

TEST_P(WriteView, ValueLandsInTheViewOfThe32BitProgram) {
  const ViewCase& c = GetParam();
  Machine m(c.windowsBits, c.processBits);
  m.At(kHKLM, u"Software\\Microsoft\\Internet Explorer\\Main", u"Isolation");
  m.object.ValueType(1);
  if (c.sixtyFour)
    m.object.Value64bit(Variant(Text(u"PMIL")));
  else
    m.object.Value(Variant(Text(u"PMIL")));
  EXPECT_EQ(m.registry.GetValue(c.lands, "Isolation"), Raw(1, std::string("PMIL\0", 5)));
  if (c.notThere) {
    EXPECT_FALSE(m.registry.GetValue(c.notThere, "Isolation").has_value());
  }
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

constexpr const char* kMain64 = "HKLM\\SOFTWARE\\Microsoft\\Internet Explorer\\Main";
constexpr const char* kMain32 = "HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main";

INSTANTIATE_TEST_SUITE_P(
    Table, WriteView,
    ::testing::Values(ViewCase{"Win64Proc32Value", 64, 32, false, kMain32, kMain64},
                      ViewCase{"Win64Proc32Value64", 64, 32, true, kMain64, kMain32},
                      ViewCase{"Win64Proc64Value", 64, 64, false, kMain32, kMain64},
                      ViewCase{"Win64Proc64Value64", 64, 64, true, kMain64, kMain32},
                      ViewCase{"Win32Value", 32, 32, false, kMain64, nullptr},
                      ViewCase{"Win32Value64", 32, 32, true, kMain64, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProcessCase {
  const char* name;
  int windowsBits;
  int processBits;
};

class EveryOperationView : public ::testing::TestWithParam<ProcessCase> {};

TEST_P(EveryOperationView, ReachesTheSameKeysAsThe32BitProgram) {
  Machine m(GetParam().windowsBits, GetParam().processBits);
  const std::string base = GetParam().windowsBits == 64 ? "HKLM\\SOFTWARE\\Wow6432Node\\orvanta"
                                                         : "HKLM\\SOFTWARE\\orvanta";
  m.registry.SetValue(base + "\\Quorvia", "AppPath", Raw(1, std::string("C:\\Q\\\0", 6)));
  m.registry.CreateKey(base + "\\Quorvia\\Sub");
  m.At(kHKLM, u"Software\\orvanta\\Quorvia", u"AppPath");
  EXPECT_TRUE(m.object.KeyExists());
  EXPECT_EQ(m.object.Value(), Variant(Text(u"C:\\Q\\")));
  std::vector<Text> names;
  std::int32_t count = 0;
  m.object.EnumerateValues(names, count);
  EXPECT_EQ(names, std::vector<Text>{u"AppPath"});
  m.object.EnumerateSections(names, count);
  EXPECT_EQ(names, std::vector<Text>{u"Sub"});
  EXPECT_TRUE(m.object.DeleteValue());
  EXPECT_FALSE(m.registry.GetValue(base + "\\Quorvia", "AppPath").has_value());
  m.object.SectionKey(u"Software\\orvanta\\Quorvia\\Sub");
  EXPECT_TRUE(m.object.DeleteKey());
  EXPECT_FALSE(m.registry.KeyExists(base + "\\Quorvia\\Sub"));
  m.object.SectionKey(u"Software\\orvanta\\Quorvia\\Made");
  EXPECT_TRUE(m.object.CreateKey());
  EXPECT_TRUE(m.registry.KeyExists(base + "\\Quorvia\\Made"));
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, EveryOperationView,
                         ::testing::Values(ProcessCase{"Win64Proc32", 64, 32},
                                           ProcessCase{"Win64Proc64", 64, 64},
                                           ProcessCase{"Win32Proc32", 32, 32}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MaskCase {
  const char* name;
  int processBits;
  std::function<void(cRegistry&)> op;
  const char* function;
  const char* sam;
};

class AccessMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(AccessMask, EachOperationAsksForItsRights) {
  Machine m(64, GetParam().processBits);
  m.registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\M", "v", Raw(1, std::string("x\0", 2)));
  m.At(kHKLM, u"Software\\QV\\M", u"v");
  m.object.ValueType(1);
  GetParam().op(m.object);
  bool seen = false;
  for (const auto& call : m.kernel.Calls())
    if (call.function == GetParam().function) {
      seen = true;
      const auto at = call.detail.rfind(" sam=");
      ASSERT_NE(at, std::string::npos);
      EXPECT_EQ(call.detail.substr(at + 5), GetParam().sam);
    }
  EXPECT_TRUE(seen);
}

std::vector<Text> g_names;
std::int32_t g_count;

INSTANTIATE_TEST_SUITE_P(
    Table, AccessMask,
    ::testing::Values(
        MaskCase{"KeyExists32", 32, [](cRegistry& r) { r.KeyExists(); }, "RegOpenKeyExA", "0x1"},
        MaskCase{"KeyExists64", 64, [](cRegistry& r) { r.KeyExists(); }, "RegOpenKeyExA", "0x201"},
        MaskCase{"Read64", 64, [](cRegistry& r) { r.Value(); }, "RegOpenKeyExA", "0x201"},
        MaskCase{"Create32", 32, [](cRegistry& r) { r.CreateKey(); }, "RegCreateKeyExA", "0x3F"},
        MaskCase{"Create64", 64, [](cRegistry& r) { r.CreateKey(); }, "RegCreateKeyExA", "0x23F"},
        MaskCase{"DeleteValue64", 64, [](cRegistry& r) { r.DeleteValue(); }, "RegOpenKeyExA",
                 "0x23F"},
        MaskCase{"Write32", 32, [](cRegistry& r) { r.Value(Variant(Text(u"y"))); },
                 "RegCreateKeyExA", "0x3F"},
        MaskCase{"Write64", 64, [](cRegistry& r) { r.Value(Variant(Text(u"y"))); },
                 "RegCreateKeyExA", "0x23F"},
        MaskCase{"Write64bitFrom32", 32, [](cRegistry& r) { r.Value64bit(Variant(Text(u"y"))); },
                 "RegCreateKeyExA", "0x13F"},
        MaskCase{"Write64bitFrom64", 64, [](cRegistry& r) { r.Value64bit(Variant(Text(u"y"))); },
                 "RegCreateKeyExA", "0x13F"},
        MaskCase{"EnumerateValues64", 64,
                 [](cRegistry& r) { r.EnumerateValues(g_names, g_count); }, "RegOpenKeyExA",
                 "0x201"},
        MaskCase{"EnumerateSections32", 32,
                 [](cRegistry& r) { r.EnumerateSections(g_names, g_count); }, "RegOpenKeyExA",
                 "0x8"},
        MaskCase{"EnumerateSections64", 64,
                 [](cRegistry& r) { r.EnumerateSections(g_names, g_count); }, "RegOpenKeyExA",
                 "0x208"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeleteKeyCall, A64BitProcessUsesTheExFunctionFor32BitView) {
  for (int bits : {32, 64}) {
    Machine m(64, bits);
    m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\D");
    m.At(kHKLM, u"Software\\QV\\D");
    EXPECT_TRUE(m.object.DeleteKey());
    ASSERT_FALSE(m.kernel.Calls().empty());
    EXPECT_EQ(m.kernel.Calls().back().function, bits == 64 ? "RegDeleteKeyExA" : "RegDeleteKeyA");
  }
}

// --- enumeration -----------------------------------------------------------------------------

TEST(Enumerate, ValuesIncludingTheUnnamedOneAndASecondCallStartsAfresh) {
  Machine m;
  const char* key = "HKLM\\SOFTWARE\\Wow6432Node\\QV\\E";
  m.registry.SetValue(key, "first", Raw(1, "1"));
  m.registry.SetValue(key, "", Raw(1, "d"));
  m.registry.SetValue(key, "M\xFCller", Raw(4, "\0\0\0\0"));
  m.At(kHKLM, u"Software\\QV\\E");
  std::vector<Text> names{u"old1", u"old2"};
  std::int32_t count = 0;
  EXPECT_TRUE(m.object.EnumerateValues(names, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<Text>{u"first", u"", u"M\u00FCller"}));
  m.At(kHKLM, u"Software\\QV\\Nothing");
  EXPECT_TRUE(m.object.EnumerateValues(names, count));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(Enumerate, SectionsStopAtANameThatFillsThe255CharacterBuffer) {
  Machine m;
  const std::string base = "HKLM\\SOFTWARE\\Wow6432Node\\QV\\S\\";
  const std::string name254(254, 'k');
  for (const std::string& n : {std::string("b"), std::string("A"), name254,
                               std::string(255, 'm'), std::string("z")})
    m.registry.CreateKey(base + n);
  m.At(kHKLM, u"Software\\QV\\S");
  std::vector<Text> names;
  std::int32_t count = 0;
  EXPECT_TRUE(m.object.EnumerateSections(names, count));
  EXPECT_EQ(count, 3);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], u"A");
  EXPECT_EQ(names[1], u"b");
  EXPECT_EQ(names[2], Text(254, u'k'));
  EXPECT_EQ(m.kernel.OpenHandleCount(), 0u);
}

TEST(Enumerate, KeyWithoutSubkeysOrMissingGivesNothing) {
  Machine m;
  m.registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\Empty");
  std::vector<Text> names{u"x"};
  std::int32_t count = 5;
  m.At(kHKLM, u"Software\\QV\\Empty");
  EXPECT_TRUE(m.object.EnumerateSections(names, count));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(m.object.EnumerateValues(names, count));
  EXPECT_EQ(count, 0);
  m.At(kHKLM, u"Software\\QV\\Missing");
  EXPECT_TRUE(m.object.EnumerateSections(names, count));
  EXPECT_EQ(count, 0);
}

// A code page that runs out of memory after a number of conversions to UTF-16 (each text
// given to Windows is read back once, each text from Windows is converted once).
class StarvingCodePage : public win::ICodePage {
 public:
  explicit StarvingCodePage(int conversionsLeft) : left_(conversionsLeft) {}
  win::UINT GetACP() override { return inner_.GetACP(); }
  int WideCharToMultiByte(win::UINT cp, win::DWORD flags, const win::WCHAR* in, int cin, char* out,
                          int cout, const char* def, win::BOOL* used) override {
    return inner_.WideCharToMultiByte(cp, flags, in, cin, out, cout, def, used);
  }
  int MultiByteToWideChar(win::UINT cp, win::DWORD flags, const char* in, int cin,
                          win::WCHAR* out, int cout) override {
    if (cout != 0 && left_-- <= 0) throw std::bad_alloc();
    return inner_.MultiByteToWideChar(cp, flags, in, cin, out, cout);
  }
  win::DWORD GetLastError() override { return inner_.GetLastError(); }

 private:
  SimCodePage inner_;
  int left_;
};

TEST(Enumerate, SectionsTurnOtherFailuresIntoTheirOwnError) {
  SimKernel kernel;
  SimRegistry registry(kernel, 64, 32);
  registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\S\\one");
  registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\QV\\S\\two");
  StarvingCodePage codePage(2);  // the key path and the first name
  cRegistry object(codePage, registry, u"QV3Update", 32);
  object.ClassKey(kHKLM);
  object.SectionKey(u"Software\\QV\\S");
  std::vector<Text> names;
  std::int32_t count = 0;
  const auto error = Raised([&] { object.EnumerateSections(names, count); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), -2147194454);
  EXPECT_EQ(error->source(), kSource);
  EXPECT_EQ(error->description(), u"Out of memory");
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

TEST(Enumerate, ValuesLetOtherFailuresThroughAfterClosingTheKey) {
  SimKernel kernel;
  SimRegistry registry(kernel, 64, 32);
  registry.SetValue("HKLM\\SOFTWARE\\Wow6432Node\\QV\\V", "one", Raw(1, "1"));
  StarvingCodePage codePage(1);  // the key path only
  cRegistry object(codePage, registry, u"QV3Update", 32);
  object.ClassKey(kHKLM);
  object.SectionKey(u"Software\\QV\\V");
  std::vector<Text> names;
  std::int32_t count = 0;
  EXPECT_THROW(object.EnumerateValues(names, count), std::bad_alloc);
  EXPECT_EQ(kernel.OpenHandleCount(), 0u);
}

// A code page whose conversions to ANSI all fail, as WideCharToMultiByte fails for every text
// when it is given a flag the system code page does not allow.
class RefusingCodePage : public StarvingCodePage {
 public:
  RefusingCodePage() : StarvingCodePage(1000) {}
  int WideCharToMultiByte(win::UINT, win::DWORD, const win::WCHAR*, int, char*, int, const char*,
                          win::BOOL*) override {
    return 0;
  }
};

// A failed conversion never becomes an empty name: an empty key path would open the root key
// itself, so the product would seem installed and writes would aim at the roots.
TEST(CodePage, FailedConversionRaisesInsteadOfNamingTheRoot) {
  SimKernel kernel;
  SimRegistry registry(kernel, 64, 32);
  RefusingCodePage codePage;
  cRegistry object(codePage, registry, u"QV3Update", 32);
  object.ClassKey(kHKLM);
  object.SectionKey(u"Software\\orvanta\\Quorvia");
  object.ValueKey(u"AppPath");
  object.ValueType(1);
  for (const auto& operation : std::vector<std::function<void()>>{
           [&] { object.KeyExists(); }, [&] { object.CreateKey(); },
           [&] { object.Value(Variant(Text(u"x"))); }, [&] { object.Value(); }}) {
    const auto error = Raised(operation);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), kErrAnsiText);
    EXPECT_EQ(error->source(), kSource);
  }
  EXPECT_TRUE(registry.Changes().empty());
  EXPECT_EQ(kernel.CallCount(), 0u);
}

// --- the dynamic value -----------------------------------------------------------------------

struct TextFormCase {
  const char* name;
  Variant value;
  const char16_t* text;
};

class VariantText : public ::testing::TestWithParam<TextFormCase> {};

TEST_P(VariantText, ShowsEachKindAsText) {
  EXPECT_EQ(GetParam().value.ToText(), Text(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantText,
    ::testing::Values(TextFormCase{"Empty", Variant(), u""},
                      TextFormCase{"Text", Variant(Text(u"a b")), u"a b"},
                      TextFormCase{"Int16Negative", Variant(std::int16_t{-32768}), u"-32768"},
                      TextFormCase{"Int32Max", Variant(std::int32_t{2147483647}), u"2147483647"},
                      TextFormCase{"True", Variant(true), u"True"},
                      TextFormCase{"False", Variant(false), u"False"},
                      TextFormCase{"Double", Variant(0.1), u"0.1"},
                      TextFormCase{"DoubleWhole", Variant(-3.0), u"-3"},
                      TextFormCase{"Bytes", Variant(ByteArray{0x00, 0xAB, 0x7F}), u"00 AB 7F"},
                      TextFormCase{"NoBytes", Variant(ByteArray{}), u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VariantInteger, SixteenBitValuesAreSignExtended) {
  EXPECT_EQ(Variant(std::int16_t{-1}).AsInt32(), -1);
  EXPECT_EQ(Variant(std::int16_t{8000}).AsInt32(), 8000);
  EXPECT_EQ(Variant(std::int32_t{-2147483647 - 1}).AsInt32(), -2147483647 - 1);
  EXPECT_TRUE(Variant(std::int16_t{1}).IsInteger());
  EXPECT_FALSE(Variant(Text(u"1")).IsInteger());
  EXPECT_FALSE(Variant(1.0).IsInteger());
}

}  // namespace
}  // namespace qv
