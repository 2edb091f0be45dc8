// The entry point's text handling: the argument text it hands to Main, the executable name the
// registry errors carry as their source.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::app {
namespace {

struct ArgumentCase {
  const char* name;
  const char16_t* commandLine;
  const char16_t* arguments;
};

class ArgumentTextTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTextTest, SkipsTheProgramPathAndTheBlanksAfterIt) {
  EXPECT_EQ(ArgumentText(GetParam().commandLine), Text(GetParam().arguments));
}

const ArgumentCase kArgumentCases[] = {
    {"QuotedPathWithSpaces", u"\"C:\\Users\\Anna Berg\\Downloads\\QV3Update.exe\" /en",
     u"/en"},
    {"QuotedPathNoArguments", u"\"C:\\Temp\\QV3Update.exe\"", u""},
    {"QuotedPathTrailingBlanks", u"\"C:\\Temp\\QV3Update.exe\"   ", u""},
    {"UnquotedPath", u"C:\\Temp\\QV3Update.exe /EN", u"/EN"},
    {"UnquotedPathOnly", u"QV3Update.exe", u""},
    {"TabsAndSpacesAfterPath", u"QV3Update.exe \t  /en /de", u"/en /de"},
    {"ArgumentsKeepInnerAndTrailingBlanks", u"QV3Update  a  b  ", u"a  b  "},
    {"QuoteInsideUnquotedPath", u"C:\\\"Program Files\"\\QV3Update.exe /en", u"/en"},
    {"TextAfterClosingQuoteBelongsToPath", u"\"C:\\Temp\\QV3\"Update.exe /en", u"/en"},
    {"UnclosedQuoteTakesEverything", u"\"C:\\Temp\\QV3Update.exe /en", u""},
    {"QuotedArgumentsStayQuoted", u"QV3Update.exe \"/en\"", u"\"/en\""},
    {"EmptyCommandLine", u"", u""},
    {"UmlautsPassUnchanged", u"\"C:\\Büro\\QV3Update.exe\" /en Größe", u"/en Größe"},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, ArgumentTextTest, ::testing::ValuesIn(kArgumentCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
  const char* name;
  const char16_t* path;
  const char16_t* exeName;
};

class ExeBaseNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ExeBaseNameTest, DropsFolderAndExtension) {
  EXPECT_EQ(ExeBaseName(GetParam().path), Text(GetParam().exeName));
}

const NameCase kNameCases[] = {
    {"ReleaseName", u"C:\\Temp\\QV3Update.exe", u"QV3Update"},
    {"RenamedCopy", u"C:\\Users\\a\\Downloads\\QV3Update (1).exe", u"QV3Update (1)"},
    {"DotInFolderOnly", u"C:\\v3.10\\QV3Update", u"QV3Update"},
    {"LastExtensionOnly", u"C:\\x\\QV3Update.3.10.exe", u"QV3Update.3.10"},
    {"NoFolder", u"QV3Update.exe", u"QV3Update"},
    {"ForwardSlashes", u"Z:/tmp/qv/QV3Update.EXE", u"QV3Update"},
    {"LongPathPrefix", u"\\\\?\\C:\\Temp\\QV3Update.exe", u"QV3Update"},
    {"LeadingDotIsName", u"C:\\x\\.hidden", u".hidden"},
};

INSTANTIATE_TEST_SUITE_P(ModulePaths, ExeBaseNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::app
