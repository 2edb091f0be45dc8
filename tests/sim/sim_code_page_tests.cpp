// The simulated machine's code page conversions, against Windows' documented behaviour: round
// trips per code page, best fit and the default character, flag rules per code page, counting
// and buffer sizes, invalid UTF-8 and Shift-JIS input.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/sim/sim_code_page.h"

namespace qv::sim {
namespace {

using namespace qv::win;

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

// Bytes <-> text with WC_NO_BEST_FIT_CHARS / MB_ERR_INVALID_CHARS: nothing lost either way.
struct RoundTripRow {
  const char* name;
  UINT acp, cp;
  std::u16string text;
  std::string bytes;
};
class CodePageRoundTrip : public ::testing::TestWithParam<RoundTripRow> {};

TEST_P(CodePageRoundTrip, ConvertsBothWaysUnchanged) {
  const RoundTripRow& r = GetParam();
  SimCodePage pages(r.acp);
  const bool utf8 = r.cp == CP_UTF8 || (r.cp == CP_ACP && r.acp == CP_UTF8);
  BOOL used = TRUE;
  char out[64];
  const int n = pages.WideCharToMultiByte(r.cp, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                          r.text.data(), static_cast<int>(r.text.size()), out,
                                          sizeof out, nullptr, utf8 ? nullptr : &used);
  EXPECT_EQ(std::string(out, n > 0 ? n : 0), r.bytes);
  if (!utf8) {
    EXPECT_EQ(used, FALSE);
  }
  char16_t back[64];
  const int m = pages.MultiByteToWideChar(r.cp, MB_ERR_INVALID_CHARS, r.bytes.data(),
                                          static_cast<int>(r.bytes.size()), back, 64);
  EXPECT_EQ(std::u16string(back, m > 0 ? m : 0), r.text);
}

const RoundTripRow kRoundTrips[] = {
    {"Cp1252LatinAndEuro", 1252, 1252, u"Grüße €", "Gr\xFC\xDF\x65 \x80"},
    {"Cp1252UndefinedBytesAreC1", 1252, 1252, u"\u0081\u008D\u008F\u0090\u009D",
     "\x81\x8D\x8F\x90\x9D"},
    {"Cp1250Polish", 1250, 1250, u"Łódź", "\xA3\xF3\x64\x9F"},
    {"Cp1250UndefinedBytesAreC1", 1250, 1250, u"\u0081\u0083\u0088\u0090\u0098",
     "\x81\x83\x88\x90\x98"},
    {"Cp1251Cyrillic", 1251, 1251, u"Привет\u0098", "\xCF\xF0\xE8\xE2\xE5\xF2\x98"},
    {"Cp932TrailByteIsBackslash", 932, 932, u"ソフト表", "\x83\x5C\x83\x74\x83\x67\x95\x5C"},
    {"Cp932HalfWidthKatakana", 932, 932, u"ｱa\\", "\xB1\x61\\"},
    {"Cp932WindowsSingleBytes", 932, 932, u"\u0080\uF8F0\uF8F1\uF8F3", "\x80\xA0\xFD\xFF"},
    {"Cp932UserDefinedArea", 932, 932, u"\uE000", "\xF0\x40"},
    {"Cp932JisBeforeNecRow13", 932, 932, u"\u2252", "\x81\xE0"},
    {"Cp932NecRow13BeforeIbm", 932, 932, u"\u2160", "\x87\x54"},
    {"Cp932IbmBeforeNecSelected", 932, 932, u"\u2170\uFFE4", "\xFA\x40\xFA\x55"},
    {"Utf8", 1252, CP_UTF8, u"Ż€\U0001F600", "\xC5\xBB\xE2\x82\xAC\xF0\x9F\x98\x80"},
    {"AcpIsTheMachinePage", 1251, CP_ACP, u"Ж", "\xC6"},
    {"AcpUtf8", CP_UTF8, CP_ACP, u"é", "\xC3\xA9"},
};
INSTANTIATE_TEST_SUITE_P(Pages, CodePageRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         RowName<RoundTripRow>);

// Every single byte of a page reads as a character that converts back to that byte.
class CodePageEveryByte : public ::testing::TestWithParam<UINT> {};

TEST_P(CodePageEveryByte, ReadsAndWritesBack) {
  SimCodePage pages;
  for (int b = 0; b < 256; ++b) {
    if (GetParam() == 932 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) continue;
    const char byte = static_cast<char>(b);
    char16_t c = 0;
    ASSERT_EQ(pages.MultiByteToWideChar(GetParam(), MB_ERR_INVALID_CHARS, &byte, 1, &c, 1), 1) << b;
    char out[2] = {};
    BOOL used = TRUE;
    EXPECT_EQ(
        pages.WideCharToMultiByte(GetParam(), WC_NO_BEST_FIT_CHARS, &c, 1, out, 2, nullptr, &used),
        1)
        << b;
    EXPECT_EQ(static_cast<unsigned char>(out[0]), b);
    EXPECT_EQ(used, FALSE) << b;
  }
}
INSTANTIATE_TEST_SUITE_P(Pages, CodePageEveryByte, ::testing::Values(1250u, 1251u, 1252u, 932u));

// Text to bytes: best fit, the default character, composite characters.
constexpr int kNotAsked = -1;  // lpUsedDefaultChar passed as NULL
constexpr DWORD kNoBestFit = WC_NO_BEST_FIT_CHARS, kCompose = WC_COMPOSITECHECK;
struct ToBytesRow {
  const char* name;
  UINT cp;
  DWORD flags;
  std::u16string text;
  const char* defaultChar;
  std::string bytes;
  int usedDefault;
};
class CodePageToBytes : public ::testing::TestWithParam<ToBytesRow> {};

TEST_P(CodePageToBytes, GivesTheBytesAndReportsTheDefaultChar) {
  const ToBytesRow& r = GetParam();
  SimCodePage pages;
  BOOL used = 7;
  BOOL* usedPtr = r.usedDefault == kNotAsked ? nullptr : &used;
  const int len = static_cast<int>(r.text.size());
  const int needed = pages.WideCharToMultiByte(r.cp, r.flags, r.text.data(), len, nullptr, 0,
                                               r.defaultChar, usedPtr);
  ASSERT_EQ(needed, static_cast<int>(r.bytes.size()));
  std::string out(r.bytes.size(), '\0');
  used = 7;
  EXPECT_EQ(pages.WideCharToMultiByte(r.cp, r.flags, r.text.data(), len, out.data(), needed,
                                      r.defaultChar, usedPtr),
            needed);
  EXPECT_EQ(out, r.bytes);
  if (usedPtr) {
    EXPECT_EQ(used, r.usedDefault);
  }
}

const ToBytesRow kToBytes[] = {
    {"FullwidthBestFits1252", 1252, 0, u"\uFF02x\uFF3C", nullptr, "\"x\\", FALSE},
    {"FullwidthBestFits1250", 1250, 0, u"\uFF01\uFF5E", nullptr, "!~", FALSE},
    {"FullwidthBestFits1251", 1251, 0, u"\uFF21", nullptr, "A", FALSE},
    {"PolishBestFits1252", 1252, 0, u"ŁłŃńŚśŹźŻżĆćĄąĘęČčŘřŐő", nullptr, "LlNnSsZzZzCcAaEeCcRrOo",
     FALSE},
    {"LatinOneBestFits1250", 1250, 0, u"àñ", nullptr, "an", FALSE},
    {"YenAndOverlineBestFit932", 932, 0, u"\u00A5\u203E", nullptr, "\x5C\x7E", FALSE},
    {"NoBestFit1252", 1252, kNoBestFit, u"\uFF02Ł", nullptr, "??", TRUE},
    {"NoBestFit1250", 1250, kNoBestFit, u"àx", nullptr, "?x", TRUE},
    {"NoBestFit932", 932, kNoBestFit, u"\u00A5", nullptr, "?", TRUE},
    {"NoLookAlikeGivesDefault", 1252, 0, u"a\u4E00", nullptr, "a?", TRUE},
    {"CallersDefaultChar", 1252, kNoBestFit, u"\u4E00", "*", "*", TRUE},
    {"DoubleByteDefaultChar932", 932, kNoBestFit, u"\u0101", "\x81\x45", "\x81\x45", TRUE},
    {"SurrogatePairIsOneDefault1252", 1252, 0, u"\U0001F600", nullptr, "?", TRUE},
    {"SurrogatePairIsOneDefault932", 932, 0, u"a\U0001F600", nullptr, "a?", TRUE},
    {"LoneSurrogateIsDefault1251", 1251, 0, std::u16string(1, 0xD800), nullptr, "?", TRUE},
    {"Utf8LoneSurrogateIsFffd", CP_UTF8, 0, u"a" + std::u16string(1, 0xDC00), nullptr,
     "a\xEF\xBF\xBD", kNotAsked},
    {"MarkWithoutCompositeCheck", 1252, kNoBestFit, u"e\u0301", nullptr, "e?", TRUE},
    {"CompositeCheckComposes", 1252, kCompose | kNoBestFit, u"e\u0301", nullptr, "\xE9", FALSE},
    {"ComposedThenBestFit", 1252, kCompose, u"C\u030C", nullptr, "C", FALSE},
    {"CompositeCheckKana932", 932, kCompose, u"\u304B\u3099", nullptr, "\x82\xAA", FALSE},
    {"SepCharsKeepsBoth", 1252, kCompose | WC_SEPCHARS | kNoBestFit, u"q\u0301", nullptr, "q?",
     TRUE},
    {"DiscardNsDropsMarks", 1252, kCompose | WC_DISCARDNS, u"q\u0301\u0302r", nullptr, "qr", FALSE},
    {"DefaultCharForThePair", 1252, kCompose | WC_DEFAULTCHAR, u"q\u0301", nullptr, "?", TRUE},
};
INSTANTIATE_TEST_SUITE_P(Rows, CodePageToBytes, ::testing::ValuesIn(kToBytes), RowName<ToBytesRow>);

// Bytes to text: replacement of invalid input, composite characters.
struct ToTextRow {
  const char* name;
  UINT cp;
  DWORD flags;
  std::string bytes;
  std::u16string text;
  bool valid;  // false: MB_ERR_INVALID_CHARS makes the call fail
};
class CodePageToText : public ::testing::TestWithParam<ToTextRow> {};

TEST_P(CodePageToText, GivesTheText) {
  const ToTextRow& r = GetParam();
  SimCodePage pages;
  char16_t out[16];
  const int len = static_cast<int>(r.bytes.size());
  const int n = pages.MultiByteToWideChar(r.cp, r.flags, r.bytes.data(), len, out, 16);
  EXPECT_EQ(std::u16string(out, n > 0 ? n : 0), r.text);
  const int strict =
      pages.MultiByteToWideChar(r.cp, r.flags | MB_ERR_INVALID_CHARS, r.bytes.data(), len, out, 16);
  EXPECT_EQ(strict, r.valid ? n : 0);
  EXPECT_EQ(pages.GetLastError(), r.valid ? 0u : static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

const ToTextRow kToText[] = {
    {"Utf8Overlong", CP_UTF8, 0, "\xC0\x80", u"\uFFFD\uFFFD", false},
    {"Utf8OverlongThreeBytes", CP_UTF8, 0, "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},
    {"Utf8BadLeadKeepsWhatFollows", CP_UTF8, 0, "\xC0\x41\x42", u"\uFFFDAB", false},
    {"Utf8EncodedSurrogate", CP_UTF8, 0, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
    {"Utf8BeyondMaximum", CP_UTF8, 0, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
    {"Utf8Truncated", CP_UTF8, 0, "a\xE2\x82", u"a\uFFFD", false},
    {"Utf8FourBytes", CP_UTF8, 0, "\xF0\x9F\x98\x80", u"\U0001F600", true},
    {"Cp932LeadByteAtEnd", 932, 0, "a\x81", u"a\u30FB", false},
    {"Cp932InvalidTrailByte", 932, 0, "\x81\x7F\x62", u"\u30FBb", false},
    {"Cp932PrecomposedAccepted", 932, MB_PRECOMPOSED, "\x83\x5C\x5C", u"ソ\\", true},
    {"Cp1252Composite", 1252, MB_COMPOSITE, "\xE9\x65", u"e\u0301e", true},
    {"Cp932CompositeKana", 932, MB_COMPOSITE, "\x82\xAA", u"\u304B\u3099", true},
};
INSTANTIATE_TEST_SUITE_P(Rows, CodePageToText, ::testing::ValuesIn(kToText), RowName<ToTextRow>);

// Result and last error of one call: flag rules, counting, buffer sizes, parameters.
enum Dir { kWc, kMb };
enum Extra { kNone, kNullIn, kNullOut, kSameBuffer, kDefaultChar, kUsedDefault };
constexpr int kAll = -100;  // the input's whole length
struct CallRow {
  const char* name;
  Dir dir;
  UINT cp;
  DWORD flags;
  std::u16string input;  // for kMb each code unit is one byte
  int inLen, outSize, result;
  LONG error;
  Extra extra = kNone;
};
class CodePageCalls : public ::testing::TestWithParam<CallRow> {};

TEST_P(CodePageCalls, GiveTheResultAndError) {
  const CallRow& r = GetParam();
  SimCodePage pages;
  alignas(char16_t) char buffer[64] = {};
  char16_t wide[32] = {};
  std::copy(r.input.begin(), r.input.end(), wide);
  std::copy(r.input.begin(), r.input.end(), buffer);  // the low byte of each unit
  const int inLen = r.inLen == kAll ? static_cast<int>(r.input.size()) : r.inLen;
  BOOL used = FALSE;
  int result = 0;
  if (r.dir == kWc) {
    char* out = r.extra == kNullOut      ? nullptr
                : r.extra == kSameBuffer ? reinterpret_cast<char*>(wide)
                                         : buffer;
    result = pages.WideCharToMultiByte(r.cp, r.flags, r.extra == kNullIn ? nullptr : wide, inLen,
                                       out, r.outSize, r.extra == kDefaultChar ? "?" : nullptr,
                                       r.extra == kUsedDefault ? &used : nullptr);
  } else {
    char16_t* out = r.extra == kNullOut      ? nullptr
                    : r.extra == kSameBuffer ? reinterpret_cast<char16_t*>(buffer)
                                             : wide;
    result = pages.MultiByteToWideChar(r.cp, r.flags, r.extra == kNullIn ? nullptr : buffer, inLen,
                                       out, r.outSize);
  }
  EXPECT_EQ(result, r.result);
  EXPECT_EQ(pages.GetLastError(), static_cast<DWORD>(r.error));
}

constexpr LONG kFlags = ERROR_INVALID_FLAGS, kParam = ERROR_INVALID_PARAMETER,
               kSmall = ERROR_INSUFFICIENT_BUFFER, kInvalid = ERROR_NO_UNICODE_TRANSLATION;
const CallRow kCalls[] = {
    {"WcUtf8NoBestFit", kWc, CP_UTF8, kNoBestFit, u"A", kAll, 8, 0, kFlags},
    {"WcUtf8ErrInvalidChars", kWc, CP_UTF8, WC_ERR_INVALID_CHARS, u"A", kAll, 8, 1, 0},
    {"WcUtf8DefaultChar", kWc, CP_UTF8, 0, u"A", kAll, 8, 0, kParam, kDefaultChar},
    {"WcUtf8UsedDefaultChar", kWc, CP_UTF8, 0, u"A", kAll, 8, 0, kParam, kUsedDefault},
    {"WcGb18030Composite", kWc, 54936, kCompose, u"A", kAll, 8, 0, kFlags},
    {"WcGb18030NotOnThisMachine", kWc, 54936, 0, u"A", kAll, 8, 0, kParam},
    {"Wc1252ErrInvalidChars", kWc, 1252, WC_ERR_INVALID_CHARS, u"A", kAll, 8, 0, kFlags},
    {"Wc932ErrInvalidChars", kWc, 932, WC_ERR_INVALID_CHARS, u"A", kAll, 8, 0, kFlags},
    {"Wc1250NoBestFit", kWc, 1250, kNoBestFit, u"A", kAll, 8, 1, 0, kUsedDefault},
    {"Wc1251NoBestFit", kWc, 1251, kNoBestFit, u"A", kAll, 8, 1, 0, kDefaultChar},
    {"Wc932NoBestFit", kWc, 932, kNoBestFit, u"A", kAll, 8, 1, 0, kUsedDefault},
    {"Wc50220NoBestFit", kWc, 50220, kNoBestFit, u"A", kAll, 8, 0, kFlags},
    {"Wc50220NotOnThisMachine", kWc, 50220, 0, u"A", kAll, 8, 0, kParam},
    {"Wc57002Flags", kWc, 57002, kNoBestFit, u"A", kAll, 8, 0, kFlags},
    {"WcSymbolFlags", kWc, 42, kNoBestFit, u"A", kAll, 8, 0, kFlags},
    {"WcUtf7Flags", kWc, CP_UTF7, kNoBestFit, u"A", kAll, 8, 0, kFlags},
    {"WcUnknownFlag", kWc, 1252, 0x1, u"A", kAll, 8, 0, kFlags},
    {"WcDiscardNsAlone", kWc, 1252, WC_DISCARDNS, u"A", kAll, 8, 0, kFlags},
    {"WcTwoCompositeRules", kWc, 1252, kCompose | WC_DISCARDNS | WC_DEFAULTCHAR, u"A", kAll, 8, 0,
     kFlags},
    {"WcUnknownPage", kWc, 12345, 0, u"A", kAll, 8, 0, kParam},
    {"MbUtf8Precomposed", kMb, CP_UTF8, MB_PRECOMPOSED, u"A", kAll, 8, 0, kFlags},
    {"MbUtf8ErrInvalidChars", kMb, CP_UTF8, MB_ERR_INVALID_CHARS, u"A", kAll, 8, 1, 0},
    {"MbGb18030Precomposed", kMb, 54936, MB_PRECOMPOSED, u"A", kAll, 8, 0, kFlags},
    {"Mb50220Precomposed", kMb, 50220, MB_PRECOMPOSED, u"A", kAll, 8, 0, kFlags},
    {"Mb1252Precomposed", kMb, 1252, MB_PRECOMPOSED, u"A", kAll, 8, 1, 0},
    {"Mb932AllowedFlags", kMb, 932, MB_PRECOMPOSED | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS, u"A",
     kAll, 8, 1, 0},
    {"MbPrecomposedAndComposite", kMb, 1252, MB_PRECOMPOSED | MB_COMPOSITE, u"A", kAll, 8, 0,
     kFlags},
    {"WcUtf8LoneSurrogate", kWc, CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xD800", kAll, 8, 0, kInvalid},
    {"Mb932LeadByteBeforeNul", kMb, 932, MB_ERR_INVALID_CHARS, u"\x81", -1, 8, 0, kInvalid},
    {"Mb932LeadByteKeepsTheNul", kMb, 932, 0, u"\x81", -1, 0, 2, 0},
    {"WcCountsTheTerminator", kWc, 1252, 0, u"Grüß", -1, 0, 5, 0},
    {"WcCountingTakesNullOutput", kWc, 1252, 0, u"Grüß", -1, 0, 5, 0, kNullOut},
    {"WcTerminatorFitsExactly", kWc, 1252, 0, u"Grüß", -1, 5, 5, 0},
    {"WcNoRoomForTerminator", kWc, 1252, 0, u"Grüß", -1, 4, 0, kSmall},
    {"WcLengthWithoutTerminator", kWc, 1252, 0, u"Grüß", kAll, 4, 4, 0},
    {"Wc932CountsDoubleBytes", kWc, 932, 0, u"ソ", kAll, 0, 2, 0},
    {"Wc932NoRoomForTrailByte", kWc, 932, 0, u"ソ", kAll, 1, 0, kSmall},
    {"WcUtf8Counts", kWc, CP_UTF8, 0, u"€\U0001F600", kAll, 0, 7, 0},
    {"WcUtf8TooSmall", kWc, CP_UTF8, 0, u"€\U0001F600", kAll, 6, 0, kSmall},
    {"MbCountsTheTerminator", kMb, 1252, 0, u"Gr\xFC\xDF", -1, 0, 5, 0},
    {"MbNoRoomForTerminator", kMb, 1252, 0, u"Gr\xFC\xDF", -1, 4, 0, kSmall},
    {"MbUtf8PairCountsTwo", kMb, CP_UTF8, 0, u"\xF0\x9F\x98\x80", kAll, 0, 2, 0},
    {"MbUtf8NoRoomForPair", kMb, CP_UTF8, 0, u"\xF0\x9F\x98\x80", kAll, 1, 0, kSmall},
    {"Mb932PairCountsOne", kMb, 932, 0, u"\x83\x5C", kAll, 0, 1, 0},
    {"WcZeroLength", kWc, 1252, 0, u"A", 0, 8, 0, kParam},
    {"WcNullInput", kWc, 1252, 0, u"A", kAll, 8, 0, kParam, kNullIn},
    {"WcNullOutputWithSize", kWc, 1252, 0, u"A", kAll, 8, 0, kParam, kNullOut},
    {"WcNegativeOutputSize", kWc, 1252, 0, u"A", kAll, -1, 0, kParam},
    {"WcSameBuffer", kWc, 1252, 0, u"ABCDEFGH", kAll, 8, 0, kParam, kSameBuffer},
    {"MbZeroLength", kMb, 1252, 0, u"A", 0, 8, 0, kParam},
    {"MbNullInput", kMb, 1252, 0, u"A", kAll, 8, 0, kParam, kNullIn},
    {"MbNullOutputWithSize", kMb, 1252, 0, u"A", kAll, 8, 0, kParam, kNullOut},
    {"MbNegativeOutputSize", kMb, 1252, 0, u"A", kAll, -1, 0, kParam},
    {"MbSameBuffer", kMb, 1252, 0, u"ABCDEFGHIJKLMNOP", kAll, 8, 0, kParam, kSameBuffer},
};
INSTANTIATE_TEST_SUITE_P(Rows, CodePageCalls, ::testing::ValuesIn(kCalls), RowName<CallRow>);

// The machine's own ANSI layer: CP_ACP, flags 0.
struct AnsiRow {
  const char* name;
  UINT acp;
  std::u16string text;
  std::string bytes;
  std::u16string back;
};
class CodePageAnsiLayer : public ::testing::TestWithParam<AnsiRow> {};

TEST_P(CodePageAnsiLayer, ConvertsWithTheMachinesPage) {
  const AnsiRow& r = GetParam();
  SimCodePage pages(r.acp);
  EXPECT_EQ(pages.GetACP(), r.acp);
  EXPECT_EQ(pages.ToAnsi(r.text).bytes(), r.bytes);
  EXPECT_EQ(pages.FromAnsi(AnsiString(r.bytes)), r.back);
}

const AnsiRow kAnsi[] = {
    {"Cp1252BestFits", 1252, u"\uFF02Ł€", "\"L\x80", u"\"L€"},
    {"Cp1252Default", 1252, u"a\u4E00", "a?", u"a?"},
    {"Cp1251", 1251, u"Ж\uFF3C", "\xC6\\", u"Ж\\"},
    {"Cp932", 932, u"ソ\u00A5", "\x83\x5C\x5C", u"ソ\\"},
    {"Utf8", CP_UTF8, u"Ł", "\xC5\x81", u"Ł"},
    {"Empty", 1252, u"", "", u""},
};
INSTANTIATE_TEST_SUITE_P(Rows, CodePageAnsiLayer, ::testing::ValuesIn(kAnsi), RowName<AnsiRow>);

struct SupportedRow {
  const char* name;
  UINT cp;
  bool supported;
};
class CodePageSupported : public ::testing::TestWithParam<SupportedRow> {};
TEST_P(CodePageSupported, KnowsThePage) {
  EXPECT_EQ(SimCodePage::Supported(GetParam().cp), GetParam().supported);
}
const SupportedRow kSupported[] = {
    {"Cp1250", 1250, true},    {"Cp1251", 1251, true},    {"Cp1252", 1252, true},
    {"Cp932", 932, true},      {"Utf8", CP_UTF8, true},   {"Cp1253", 1253, false},
    {"Gb18030", 54936, false}, {"Iso2022", 50220, false}, {"Acp", CP_ACP, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, CodePageSupported, ::testing::ValuesIn(kSupported),
                         RowName<SupportedRow>);

}  // namespace
}  // namespace qv::sim
