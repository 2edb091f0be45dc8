// The regedit reader and writer of qv3sim: what each kind of value line holds, the round trip of
// a file through the model, and the line of every error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win_types.h"
#include "regfile.h"

namespace qv3sim {
namespace {

namespace win = qv::win;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\T]\n";

struct ValueCase {
  const char* line;
  bool isDefault;
  const char* name;
  win::DWORD type;
  std::vector<std::uint8_t> data;
};

class ValueLine : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueLine, ReadsTypeAndData) {
  const ValueCase& c = GetParam();
  const RegFile file = ParseRegFile(kHeader + c.line + "\n");
  ASSERT_EQ(file.keys.size(), 1u);
  ASSERT_EQ(file.keys[0].values.size(), 1u);
  const RegFileValue& v = file.keys[0].values[0];
  EXPECT_EQ(v.isDefault, c.isDefault);
  EXPECT_EQ(v.name, c.name);
  EXPECT_FALSE(v.deleted);
  EXPECT_EQ(v.value.type, c.type);
  EXPECT_EQ(v.value.data, c.data);
  EXPECT_EQ(v.line, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ValueLine,
    ::testing::Values(
        ValueCase{R"("a"="plain")", false, "a", win::REG_SZ, Bytes(std::string("plain") + '\0')},
        ValueCase{R"("q\"uote\\d"="C:\\Dir\\\"x\"")", false, "q\"uote\\d", win::REG_SZ,
                  Bytes(std::string("C:\\Dir\\\"x\"") + '\0')},
        ValueCase{R"(@="Quorvia Toolbar")", true, "", win::REG_SZ,
                  Bytes(std::string("Quorvia Toolbar") + '\0')},
        // Text in the file is Unicode; the machine keeps code page 1252 bytes.
        ValueCase{"\"de\"=\"Querlix-Symbolleiste f\xC3\xBCr \xC3\xA4\"", false, "de", win::REG_SZ,
                  Bytes(std::string("Querlix-Symbolleiste f\xFCr \xE4") + '\0')},
        ValueCase{R"("d"=dword:00002af8)", false, "d", win::REG_DWORD, {0xF8, 0x2A, 0, 0}},
        ValueCase{R"("d"=dword:1f)", false, "d", win::REG_DWORD, {0x1F, 0, 0, 0}},
        ValueCase{R"("d"=dword:FFFFFFFF)", false, "d", win::REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        ValueCase{R"("b"=hex:00,ff,10)", false, "b", win::REG_BINARY, {0x00, 0xFF, 0x10}},
        ValueCase{R"("b"=hex:)", false, "b", win::REG_BINARY, {}},
        ValueCase{R"("n"=hex(0):)", false, "n", win::REG_NONE, {}},
        ValueCase{R"("q"=hex(b):01,02,03,04,05,06,07,08)", false, "q", win::REG_QWORD,
                  {1, 2, 3, 4, 5, 6, 7, 8}},
        // hex(2) and hex(7) are UTF-16LE in the file, code page bytes on the machine.
        ValueCase{R"("e"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00)", false, "e",
                  win::REG_EXPAND_SZ, Bytes(std::string("%TEMP%") + '\0')},
        ValueCase{R"("e"=hex(2):e4,00,ac,20,00,00)", false, "e", win::REG_EXPAND_SZ,
                  {0xE4, 0x80, 0}},
        ValueCase{R"("m"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00)", false, "m",
                  win::REG_MULTI_SZ, {'a', 0, 'b', 'c', 0, 0}},
        // Hex data continues over lines that end with a backslash.
        ValueCase{"\"w\"=hex:01,02,\\\n  03,04,\\\n     05", false, "w", win::REG_BINARY,
                  {1, 2, 3, 4, 5}},
        ValueCase{R"(  "blank" = "around"  )", false, "blank", win::REG_SZ,
                  Bytes(std::string("around") + '\0')}));

TEST(RegFileReader, KeySectionsDeletionsAndComments) {
  const RegFile file = ParseRegFile(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"
      "\"gone\"=-\r\n"
      "@=-\r\n");
  ASSERT_EQ(file.keys.size(), 2u);
  EXPECT_TRUE(file.keys[0].deleted);
  EXPECT_EQ(file.keys[0].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Old");
  EXPECT_EQ(file.keys[0].line, 4);
  EXPECT_FALSE(file.keys[1].deleted);
  ASSERT_EQ(file.keys[1].values.size(), 2u);
  EXPECT_TRUE(file.keys[1].values[0].deleted);
  EXPECT_EQ(file.keys[1].values[0].name, "gone");
  EXPECT_TRUE(file.keys[1].values[1].deleted);
  EXPECT_TRUE(file.keys[1].values[1].isDefault);
}

// A file as regedit exports it, with every kind of value: read and written back unchanged.
const char kRoundTrip[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia]\n"
    "@=\"Quorvia 3\"\n"
    "\"AppPath\"=\"C:\\\\Program Files (x86)\\\\Quorvia 3\\\\\"\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\n"
    "\"Umlaut\"=\"Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln\"\n"
    "\"Empty\"=\"\"\n"
    "\"Count\"=dword:0000001f\n"
    "\"Big\"=dword:80000000\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
    "  2f,30,31\n"
    "\"NoData\"=hex:\n"
    "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\n"
    "  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00\n"
    "\"Multi\"=hex(7):43,00,3a,00,5c,00,44,00,61,00,74,00,61,00,00,00,44,00,3a,00,5c,\\\n"
    "  00,41,00,72,00,63,00,68,00,69,00,76,00,00,00,00,00\n"
    "\"Stamp\"=hex(b):00,80,3e,d5,de,b1,9d,01\n"
    "\"Nothing\"=hex(0):\n"
    "\"Link\"=hex(6):5c,00,52,00\n"
    "\"Removed\"=-\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}]\n"
    "@=\"Querlix-Symbolleiste\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Empty Key]\n"
    "\n"
    "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
    "\n";

TEST(RegFileRoundTrip, WritesBackWhatItRead) {
  const RegFile file = ParseRegFile(kRoundTrip);
  EXPECT_EQ(WriteRegFile(file), kRoundTrip);
}

TEST(RegFileRoundTrip, Utf16FileAsRegeditExportsIt) {
  const std::string bytes = ToRegeditBytes(kRoundTrip);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFEW\0", 4));
  // CR LF line ends in the file.
  EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
  const RegFile file = ParseRegFile(DecodeRegFileBytes(bytes));
  EXPECT_EQ(ToRegeditBytes(WriteRegFile(file)), bytes);
}

TEST(RegFileWriter, WrapsHexLinesAsRegeditDoes) {
  RegFileValue v;
  v.name = "DataFolders";
  v.value.type = win::REG_BINARY;
  v.value.data.assign(80, 0xAB);
  const std::string text = FormatRegValue(v);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  lines.push_back(text.substr(start));
  // "DataFolders"=hex: is 18 characters; 20 bytes fill the first line, 25 each further one.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), 18u + 20 * 3 + 1);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    EXPECT_EQ(lines[i].back(), '\\');
  }
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(0, 2), "  ");
  EXPECT_EQ(lines[1].size(), 2u + 25 * 3 + 1);
  EXPECT_EQ(lines[3], "  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab");
}

TEST(RegFileWriter, StringsThatCannotBeQuotedBecomeHex) {
  RegFileValue v;
  v.name = "two lines";
  v.value.type = win::REG_SZ;
  v.value.data = {'a', '\r', '\n', 'b', 0};
  EXPECT_EQ(FormatRegValue(v), "\"two lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00");
  v.value.type = win::REG_DWORD;
  v.value.data = {1, 2};  // not four bytes
  EXPECT_EQ(FormatRegValue(v), "\"two lines\"=hex(4):01,02");
}

struct ErrorCase {
  const char* text;
  int line;
  const char* message;
};

class RegFileError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegFileError, NamesLineAndProblem) {
  const ErrorCase& c = GetParam();
  try {
    ParseRegFile(c.text);
    FAIL() << "no error for:\n" << c.text;
  } catch (const RegParseError& e) {
    EXPECT_EQ(e.line(), c.line) << e.what();
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
  }
}

#define HDR "Windows Registry Editor Version 5.00\n\n"
INSTANTIATE_TEST_SUITE_P(
    Problems, RegFileError,
    ::testing::Values(
        ErrorCase{"", 1, "empty file"},
        ErrorCase{"\n\n[HKEY_CURRENT_USER\\X]\n", 3, "expected the header"},
        ErrorCase{"REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n", 1, "REGEDIT4"},
        ErrorCase{HDR "\"a\"=\"b\"\n", 3, "before the first [key]"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X\n", 3, "without closing"},
        ErrorCase{HDR "[HKEY_NOWHERE\\X]\n", 3, "unknown root key \"HKEY_NOWHERE\""},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X\\]\n", 3, "ends with"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X\\\\Y]\n", 3, "empty key name"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=dword:123456789\n", 4, "more than 8"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=dword:\n", 4, "1 to 8 hex digits"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,zz\n", 4, "hex byte"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=hex:012\n", 4, "more than two digits"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=hex(2):41\n", 4, "even number"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=hex(7:41,00\n", 4, "\")\""},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=\"open\n", 4, "unterminated string value"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=\"x\\ny\"\n", 4, "unknown escape \\n"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\" trailing\n", 4, "after the value data"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\" \"b\"\n", 4, "expected \"=\""},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=word:1\n", 4, "expected value data"},
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\nname=1\n", 4, "expected [key]"},
        ErrorCase{HDR "[-HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n", 4, "key deletion section"},
        // An error in a continued line is reported at the line where the value starts.
        ErrorCase{HDR "[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,\\\n  02,x3\n", 4, "hex byte"}));
#undef HDR

TEST(RegFileDecode, OddUtf16FileIsAnError) {
  EXPECT_THROW(DecodeRegFileBytes(std::string("\xFF\xFEW\0W", 5)), RegParseError);
}

TEST(RegFileFlatten, AppliesSectionsInOrder) {
  const RegFile file = ParseRegFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\C]\n\"z\"=\"3\"\n\n"
      "[HKEY_CURRENT_USER\\software\\a\\b]\n\"X\"=\"changed\"\n\"y\"=-\n\n"
      "[-HKEY_CURRENT_USER\\Software\\C]\n\n");
  const RegFile flat = Flatten(file);
  // The parents of a key come with it; C and its value are gone.
  ASSERT_EQ(flat.keys.size(), 3u);
  EXPECT_EQ(flat.keys[0].path, "HKEY_CURRENT_USER\\Software");
  EXPECT_EQ(flat.keys[1].path, "HKEY_CURRENT_USER\\Software\\A");
  EXPECT_EQ(flat.keys[2].path, "HKEY_CURRENT_USER\\Software\\A\\B");
  ASSERT_EQ(flat.keys[2].values.size(), 1u);
  EXPECT_EQ(flat.keys[2].values[0].name, "x");
  EXPECT_EQ(flat.keys[2].values[0].value.data, Bytes(std::string("changed") + '\0'));
}

TEST(RegFileRobustness, TruncatedAndDamagedTextGivesOnlyParseErrors) {
  const std::string text = kRoundTrip;
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    try {
      ParseRegFile(text.substr(0, cut));
    } catch (const RegParseError&) {
    }
  }
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (char c : {'\\', '"', ',', '[', ']', '\n', '\0', '\xFF'}) {
      std::string damaged = text;
      damaged[at] = c;
      try {
        ParseRegFile(damaged);
      } catch (const RegParseError&) {
      }
    }
  }
}

}  // namespace
}  // namespace qv3sim
