// The matrix of qv3sim: every combination is run once, and the lines say how each run went.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "matrix.h"

namespace qv3sim {
namespace {

using qv::sim::Answer;

TEST(Matrix, HasEveryCombinationOnce) {
  const auto cases = MatrixCases();
  // Seven Windows / word-size pairs times two choices for each of five variations, and four
  // other system code pages in two languages.
  EXPECT_EQ(cases.size(), 7u * 2 * 2 * 2 * 2 * 2 + 4 * 2);
  std::set<std::string> names;
  for (const MatrixCase& c : cases) {
    EXPECT_TRUE(names.insert(CaseName(c)).second) << CaseName(c);
    EXPECT_FALSE(c.updaterBits == 64 && c.windowsBits == 32) << CaseName(c);
  }
}

TEST(Matrix, MachineOfACaseFollowsIt) {
  MatrixCase c;
  c.windowsVersion = "5.1";
  c.windowsBits = 32;
  c.english = false;
  c.running = false;
  c.shortcut = true;
  c.answer = Answer::Cancel;
  c.raised = false;
  const MachineDescription m = MachineFor(c);
  EXPECT_EQ(m.windowsVersion, "5.1");
  EXPECT_EQ(m.windowsBits, 32);
  EXPECT_EQ(m.arguments, "");
  EXPECT_TRUE(m.windows.empty());
  ASSERT_EQ(m.answers.size(), 1u);
  EXPECT_EQ(m.answers[0], Answer::Cancel);
  EXPECT_EQ(m.installer.effect, InstallerEffect::Leave);
  EXPECT_EQ(Flatten(m.registry).keys.back().path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia");
  bool germanLink = false;
  for (const FileSpec& f : m.files)
    germanLink = germanLink ||
                 f.path.find("\\Querlix 3\\Synchronisation zweier Sammlungen.lnk") != std::string::npos;
  EXPECT_TRUE(germanLink);
}

// Every word the lines use to name a machine is in the legend.
TEST(Matrix, LegendExplainsEveryWordOfTheLines) {
  const std::string legend = MatrixLegend(232);
  std::set<std::string> words;
  for (const MatrixCase& c : MatrixCases()) {
    std::istringstream name(CaseName(c));
    for (std::string word; name >> word;) {
      if (word.rfind("cp", 0) == 0) word = "cpN";
      else if (word.find('/') != std::string::npos) word = word.substr(0, 3);  // "6.1/64"
      words.insert(word);
    }
  }
  EXPECT_GT(words.size(), 12u);
  for (const std::string& word : words)
    EXPECT_NE(legend.find(word), std::string::npos) << word;
  for (const char* column : {"outcome (N)", "dialogs", "started", "values", "TD task dialog"})
    EXPECT_NE(legend.find(column), std::string::npos) << column;
}

struct LineCase {
  const char* name;  // the case's name, as CaseName gives it
  std::vector<const char*> parts;
};

class MatrixRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::ostringstream out;
    summary_ = RunMatrix(out);
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines_->push_back(line);
  }
  static std::string LineOf(const std::string& name) {
    for (const std::string& l : *lines_)
      if (l.rfind(name + " | ", 0) == 0) return l;
    return "";
  }
  static MatrixSummary summary_;
  static std::vector<std::string>* lines_;
};
MatrixSummary MatrixRun::summary_;
std::vector<std::string>* MatrixRun::lines_ = new std::vector<std::string>;

TEST_F(MatrixRun, RunsEveryCaseAndCountsThem) {
  EXPECT_EQ(summary_.runs, 232u);
  EXPECT_EQ(summary_.failures, 0u);
  // The legend, then one line per run and the count.
  const std::string legend = MatrixLegend(232);
  const std::size_t legendLines = static_cast<std::size_t>(std::count(legend.begin(), legend.end(), '\n'));
  ASSERT_EQ(lines_->size(), legendLines + 233u);
  EXPECT_EQ(lines_->front(), "qv3sim --matrix: the default machine in 232 variations, one run each");
  EXPECT_EQ(lines_->back().rfind("232 runs in ", 0), 0u) << lines_->back();
  EXPECT_NE(lines_->back().find(" runs per second"), std::string::npos);
  for (std::size_t i = 0; i + 1 < lines_->size(); ++i)
    EXPECT_EQ((*lines_)[i].find("FAILURE"), std::string::npos) << (*lines_)[i];
}

TEST_F(MatrixRun, LinesTellHowEachRunWent) {
  const std::vector<LineCase> cases = {
      {"6.1/64 u32 en running shortcut confirm raised",
       {"| updated (0)", "dialogs: TD,TD", "started: msiexec.exe,QVInit.exe", "64-bit=6",
        "32-bit=21"}},
      {"6.1/64 u64 en running shortcut confirm raised",
       {"| updated (0)", "dialogs: TD,TD", "64-bit=6", "32-bit=21"}},
      {"6.1/32 u32 de closed  no-link  confirm raised",
       {"| updated (0)", "dialogs: TD,TD", "values: all=25"}},
      {"6.1/64 u32 en running shortcut confirm same  ",
       {"| version unchanged (1642)", "dialogs: TD |", "started: msiexec.exe,QVInit.exe"}},
      {"6.1/64 u32 en running shortcut cancel  raised",
       {"| cancelled (1602)", "dialogs: TD |", "started: - |", "values: -"}},
      {"5.1/64 u32 en running shortcut confirm raised",
       {"| updated (0)", "dialogs: MB,MB", "started: msiexec.exe |"}},
      {"5.1/32 u32 de running no-link  confirm raised", {"| updated (0)", "dialogs: MB,MB"}},
      {"5.0/32 u32 en closed  shortcut cancel  same  ",
       {"| cancelled (1602)", "dialogs: MB |", "started: - |"}},
      // Every system code page runs the whole update as 1252 does.
      {"6.1/64 u32 de running shortcut confirm raised cp932",
       {"| updated (0)", "dialogs: TD,TD", "started: msiexec.exe,QVInit.exe", "64-bit=6",
        "32-bit=21"}},
      {"6.1/64 u32 en running shortcut confirm raised cp65001",
       {"| updated (0)", "dialogs: TD,TD", "started: msiexec.exe,QVInit.exe", "64-bit=6",
        "32-bit=21"}},
      {"5.0/32 u32 de running shortcut confirm same  ",
       {"| version unchanged (1642)", "dialogs: MB |", "started: msiexec.exe |", "values: all=22"}},
  };
  for (const LineCase& c : cases) {
    const std::string line = LineOf(c.name);
    ASSERT_FALSE(line.empty()) << "no line for " << c.name;
    for (const char* part : c.parts)
      EXPECT_NE(line.find(part), std::string::npos) << "missing " << part << " in\n" << line;
  }
}

}  // namespace
}  // namespace qv3sim
