// The entry point's text handling: the argument text it hands to Main, the executable name the
// registry errors carry as their source, and the top-level error report.
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

struct ReportCase {
  const char* name;
  std::int32_t number;
  const char16_t* description;
  const char16_t* source;
  const char16_t* report;
};

class ErrorReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReportTest, ShowsNumberDescriptionAndSource) {
  const ReportCase& c = GetParam();
  EXPECT_EQ(ErrorReport(c.number, c.description, c.source), Text(c.report));
}

const ReportCase kReportCases[] = {
    {"NegativeNumber", -2147194455, u"Schlüssel kann nicht geöffnet werden",
     u"QV3Update.cRegistry",
     u"Run-time error '-2147194455':\r\n\r\nSchlüssel kann nicht geöffnet werden\r\n\r\n"
     u"Source: QV3Update.cRegistry"},
    {"SmallestNumber", INT32_MIN, u"x", u"QV3Update_x64.cRegistry",
     u"Run-time error '-2147483648':\r\n\r\nx\r\n\r\nSource: QV3Update_x64.cRegistry"},
    {"PositiveNumber", 75, u"Path/File access error", u"QV3Update",
     u"Run-time error '75':\r\n\r\nPath/File access error\r\n\r\nSource: QV3Update"},
    {"NoSource", 5, u"Invalid procedure call", u"",
     u"Run-time error '5':\r\n\r\nInvalid procedure call"},
};

INSTANTIATE_TEST_SUITE_P(Errors, ErrorReportTest, ::testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailureReportTest, CarriesTheMessageDecodedFromUtf8) {
  EXPECT_EQ(FailureReport("vector::_M_range_check: Größe"),
            Text(u"Run-time error:\r\n\r\nvector::_M_range_check: Größe"));
  EXPECT_EQ(FailureReport(""), Text(u"Run-time error:\r\n\r\nUnexpected failure"));
}

TEST(OutOfMemoryReportTest, IsErrorSeven) {
  EXPECT_EQ(OutOfMemoryReport(), Text(u"Run-time error '7':\r\n\r\nOut of memory"));
}

}  // namespace
}  // namespace qv::app
