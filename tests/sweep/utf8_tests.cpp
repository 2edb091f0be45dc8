// Hostile UTF-8: the decoding every reader of description and regedit files relies on. An
// invalid or overlong sequence must never decode to a character the text did not hold (an
// overlong "\" would split a registry path that was checked before decoding).
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace qv {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  Text text;
};

const Utf8Case kValidCases[] = {
    {"Ascii", "Software\\Q", u"Software\\Q"},
    {"TwoBytes", "\xC3\xA4", u"\u00e4"},
    {"ThreeBytes", "\xE2\x82\xAC", u"\u20ac"},
    {"FourBytesAsSurrogatePair", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"Mixed", "C:\\Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC", u"C:\\Gr\u00f6\u00dfe \u20ac"},
    // The edges of each form: the last character of one length and the first of the next.
    {"LastOfOneByte", "\x7F", u"\x7F"},
    {"FirstOfTwoBytes", "\xC2\x80", u"\u0080"},
    {"LastOfTwoBytes", "\xDF\xBF", u"\u07ff"},
    {"FirstOfThreeBytes", "\xE0\xA0\x80", u"\u0800"},
    {"LastBeforeSurrogates", "\xED\x9F\xBF", u"\ud7ff"},
    {"FirstAfterSurrogates", "\xEE\x80\x80", u"\ue000"},
    {"LastOfThreeBytes", "\xEF\xBF\xBF", u"\uffff"},
    {"FirstOfFourBytes", "\xF0\x90\x80\x80", u"\U00010000"},
    {"PairEndingInLastLowSurrogate", "\xF0\x9F\x8F\xBF", u"\U0001F3FF"},
    {"LastOfUnicode", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
};

const Utf8Case kInvalidCases[] = {
    {"OverlongBackslash", "\xC1\x9C", u"\uFFFD\uFFFD"},
    {"LeadByteBeforeABackslash", "a\xC1\\b", u"a\uFFFD\\b"},
    {"OverlongSlashInThreeBytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"BeyondUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"CutAtTheEnd", "x\xE2\x82", u"x\uFFFD\uFFFD"},
    {"LoneContinuation", "\x80z", u"\uFFFDz"},
    {"LeadByteBeforeAQuote", "\xE2\"\xAC", u"\uFFFD\"\uFFFD"},
    // Overlong forms at the edges (U+007F, U+0080, U+07FF and U+FFFF one byte longer than
    // their shortest form), and the last low surrogate, which is no character on its own.
    {"OverlongLastOfOneByte", "\xC1\xBF", u"\uFFFD\uFFFD"},
    {"OverlongFirstOfTwoBytes", "\xE0\x82\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"OverlongLastOfTwoBytes", "\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
    {"OverlongLastOfThreeBytes", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"EncodedLastLowSurrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
};

// Texts with unpaired surrogates (Windows' names and values may hold them): each one becomes
// U+FFFD (EF BF BD) and the characters around it are kept.
const Utf8Case kUnpairedCases[] = {
    {"LoneHighSurrogate", "a\xEF\xBF\xBD" "b", u"a\xD800" u"b"},
    {"LoneLastLowSurrogate", "a\xEF\xBF\xBD" "b", u"a\xDFFF" u"b"},
    {"HighSurrogateAtTheEnd", "a\xEF\xBF\xBD", u"a\xDBFF"},
    {"PairInTheWrongOrder", "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDFFF\xD83C"},
    {"TwoHighSurrogates", "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xD83C\xDBFF"},
    {"HighSurrogateBeforeANonSurrogate", "\xEF\xBF\xBD\xEE\x80\x80", u"\xD83C\xE000"},
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class Utf8Decoding : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decoding, GivesTheCharactersTheBytesHold) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(Utf8ToText(c.bytes), c.text);
}

class Utf8RoundTrip : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8RoundTrip, ValidTextComesBackUnchanged) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(TextToUtf8(Utf8ToText(c.bytes)), c.bytes);
}

class Utf8Encoding : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Encoding, GivesTheBytesOfTheText) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(TextToUtf8(c.text), c.bytes);
}

const auto kName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Valid, Utf8Decoding, ::testing::ValuesIn(kValidCases), kName);
INSTANTIATE_TEST_SUITE_P(Invalid, Utf8Decoding, ::testing::ValuesIn(kInvalidCases), kName);
INSTANTIATE_TEST_SUITE_P(Valid, Utf8RoundTrip, ::testing::ValuesIn(kValidCases), kName);
INSTANTIATE_TEST_SUITE_P(Unpaired, Utf8Encoding, ::testing::ValuesIn(kUnpairedCases), kName);

}  // namespace
}  // namespace qv
