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

const auto kName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Valid, Utf8Decoding, ::testing::ValuesIn(kValidCases), kName);
INSTANTIATE_TEST_SUITE_P(Invalid, Utf8Decoding, ::testing::ValuesIn(kInvalidCases), kName);
INSTANTIATE_TEST_SUITE_P(Valid, Utf8RoundTrip, ::testing::ValuesIn(kValidCases), kName);

}  // namespace
}  // namespace qv
