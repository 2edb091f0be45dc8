// The version mark of QVApp.exe and the completion report in both styles and languages.
#include <gtest/gtest.h>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

// --- which version changes are reported --------------------------------------------------------

struct VersionCase {
  const char* name;
  std::optional<sim::FileVersion> before;  // none: no version data
  std::optional<sim::FileVersion> after;
  bool appExists;
  bool reported;
};

class VersionCompareTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionCompareTest, OnlyTheFourthNumberCounts) {
  const VersionCase& c = GetParam();
  MachineOptions options;
  options.appVersion = c.before;
  options.patchedVersion = c.after;
  StandardMachine m(options);
  if (!c.appExists) m->RemoveFile(m.appExe());
  const RunOutcome outcome = m.Run(u"/en");
  EXPECT_EQ(outcome, c.reported ? RunOutcome::Updated : RunOutcome::VersionUnchanged);
  EXPECT_EQ(m->Dialogs().size(), c.reported ? 2u : 1u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionCompareTest,
    ::testing::Values(VersionCase{"Revision68To69", sim::FileVersion{3, 10, 0, 68},
                                  sim::FileVersion{3, 10, 0, 69}, true, true},
                      VersionCase{"Revision4To5", sim::FileVersion{1, 2, 3, 4},
                                  sim::FileVersion{1, 2, 3, 5}, true, true},
                      VersionCase{"OtherNumbersOnly", sim::FileVersion{1, 2, 3, 5},
                                  sim::FileVersion{1, 3, 0, 5}, true, false},
                      VersionCase{"RevisionDown", sim::FileVersion{1, 2, 3, 5},
                                  sim::FileVersion{1, 2, 3, 4}, true, true},
                      VersionCase{"NotApplied", sim::FileVersion{3, 10, 0, 68},
                                  sim::FileVersion{3, 10, 0, 68}, true, false},
                      VersionCase{"LostVersionDataKeepsFirstRead", sim::FileVersion{3, 10, 0, 68},
                                  std::nullopt, true, false},
                      VersionCase{"NoVersionBeforeReadableAfter", std::nullopt,
                                  sim::FileVersion{3, 10, 0, 69}, true, true},
                      VersionCase{"NoVersionBeforeRevision0After", std::nullopt,
                                  sim::FileVersion{3, 10, 0, 0}, true, false},
                      VersionCase{"NoVersionEither", std::nullopt, std::nullopt, true, false},
                      VersionCase{"MissingBeforeAndAfter", std::nullopt, std::nullopt, false,
                                  false},
                      VersionCase{"HighRevisionsCompareAsWords", sim::FileVersion{1, 0, 0, 65535},
                                  sim::FileVersion{1, 0, 0, 32768}, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the completion texts and both dialog styles -------------------------------------------------

struct ReportTexts {
  const char16_t* productTitle;
  const char16_t* headline;
  const char16_t* firstLine;
  const char16_t* sentence1;
  const char16_t* sentence2;
  int breaksBetween;  // line breaks between the two sentences in the text itself
};

const ReportTexts kEnglishReport{u"Quorvia 3",
                                 u"Quorvia 3 update successfully installed",
                                 u"The Quorvia 3 update has been successfully installed.",
                                 u"You're now using the latest version of Quorvia 3.",
                                 u"Thank you very much for using and recommending Quorvia!",
                                 2};
const ReportTexts kGermanReport{u"Querlix 3",
                                u"Querlix 3-Update erfolgreich installiert",
                                u"Das Querlix 3-Update wurde erfolgreich installiert.",
                                u"Sie verwenden jetzt die neueste Querlix 3-Version.",
                                u"Vielen Dank, dass Sie Querlix nutzen und weiterempfehlen!",
                                1};

struct ReportCase {
  const char* name;
  WindowsKind windows;
  bool english;
  sim::Answer answer;
};

class CompletionReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(CompletionReportTest, EveryField) {
  const ReportCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  StandardMachine m(options);
  m->QueueAnswer(sim::Answer::Confirm);
  m->QueueAnswer(c.answer);
  EXPECT_EQ(m.Run(c.english ? u"/en" : u""), RunOutcome::Updated);
  const ReportTexts& t = c.english ? kEnglishReport : kGermanReport;
  ASSERT_EQ(m->Dialogs().size(), 2u);
  const sim::DialogRecord& d = m->Dialogs()[1];
  ExpectEverythingReleased(m.machine());

  if (c.windows.major < 6) {
    ASSERT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
    EXPECT_TRUE(win::IsNull(d.owner));
    EXPECT_EQ(d.caption, t.productTitle);
    EXPECT_EQ(d.type, 0x40u);
    // Doubled line breaks become single ones: both sentences on adjacent lines.
    EXPECT_EQ(d.text, Text(t.firstLine) + kCrLf + kCrLf + t.sentence1 + kCrLf + t.sentence2);
    return;
  }
  ASSERT_EQ(d.kind, sim::DialogRecord::Kind::TaskDialog);
  EXPECT_EQ(d.cbSize, sizeof(win::TASKDIALOGCONFIG));
  EXPECT_TRUE(win::IsNull(d.hwndParent));
  EXPECT_TRUE(win::IsNull(d.hInstance));
  EXPECT_EQ(d.dwFlags, 0x0008u);
  EXPECT_EQ(d.dwCommonButtons, 0x0020u);
  EXPECT_EQ(d.windowTitle, t.productTitle);
  EXPECT_EQ(d.mainIcon, 0xFFFDu);
  EXPECT_EQ(d.mainInstruction, t.headline);
  Text content = Text(kCrLf) + t.sentence1;
  for (int i = 0; i < t.breaksBetween; ++i) content += kCrLf;
  content += t.sentence2;
  EXPECT_EQ(d.content, content);
  EXPECT_TRUE(d.buttons.empty());
  EXPECT_EQ(d.nDefaultButton, 0);
  EXPECT_EQ(d.cRadioButtons, 0u);
  EXPECT_FALSE(d.hasVerificationText);
  EXPECT_FALSE(d.hasExpandedInformation);
  EXPECT_EQ(d.footerIcon, 0u);
  EXPECT_TRUE(d.footer.empty());
  EXPECT_FALSE(d.hasCallback);
  EXPECT_EQ(d.cxWidth, 220u);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, CompletionReportTest,
    ::testing::Values(ReportCase{"Win2000_En", kWindows2000, true, sim::Answer::Confirm},
                      ReportCase{"Win2000_De", kWindows2000, false, sim::Answer::Confirm},
                      ReportCase{"XP_En", kWindowsXp, true, sim::Answer::Confirm},
                      ReportCase{"XP_De_CannotShow", kWindowsXp, false, sim::Answer::CannotShow},
                      ReportCase{"Win7x86_En_Close", kWindows7x86, true, sim::Answer::Close},
                      ReportCase{"Win7x64_En_Escape", kWindows7x64, true, sim::Answer::Escape},
                      ReportCase{"Win7x64_De_CloseBox", kWindows7x64, false, sim::Answer::CloseBox},
                      ReportCase{"Win7x64_De_CannotShow", kWindows7x64, false,
                                 sim::Answer::CannotShow}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
