// The close-programs prompt: the program list, both dialog styles field by field, and every way
// to cancel or confirm.
#include <gtest/gtest.h>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr WindowsKind kWindowsXp64{"WindowsXPx64", 5, 2, 64};

struct Lines {
  const char16_t* heading;
  const char16_t* product;
  const char16_t* browser;
  const char16_t* mail;
  const char16_t* folders;
};

const Lines kEnglishLines{
    u"Exit the following programs now so that the update can be installed without a Windows "
    u"restart required:",
    u"- Quorvia (right-click its icon in the notification area of the taskbar, and then click "
    u"Exit Quorvia.)",
    u"- Internet Explorer", u"- Microsoft Outlook (if you use the Quorvia Outlook Add-in)",
    u"- all open folder windows"};
const Lines kGermanLines{
    u"Damit das Update ohne Windows-Neustart installiert werden kann, beenden Sie jetzt bitte "
    u"folgende Programme:",
    u"- Querlix (klicken Sie mit der rechten Maustaste auf sein Symbol im Infobereich der "
    u"Taskleiste und danach auf \"Querlix beenden\")",
    u"- Internet Explorer",
    u"- Microsoft Outlook (sofern Sie das Querlix Outlook Add-In verwenden)",
    u"- alle ge\u00f6ffneten Ordnerfenster"};

// --- the program list in every combination ----------------------------------------------------

struct ListCase {
  WindowsKind windows;
  bool english;
  bool communicator;
};

using ListParam = std::tuple<WindowsKind, bool, bool>;

class ProgramListTest : public ::testing::TestWithParam<ListParam> {};

TEST_P(ProgramListTest, ListsWhatMustBeClosed) {
  const ListCase c{std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<2>(GetParam())};
  MachineOptions options;
  options.windows = c.windows;
  options.communicatorRunning = c.communicator;
  StandardMachine m(options);
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(c.english ? u"/en" : u"/de"), RunOutcome::Cancelled);

  const Lines& l = c.english ? kEnglishLines : kGermanLines;
  const bool level2 = c.windows.major >= 6;
  // Folder windows are listed unless 64-bit Windows was recognised, which happens at level 2.
  const bool folders = !(level2 && c.windows.windowsBits == 64);
  Text expected = Text(l.heading) + kCrLf + kCrLf;
  if (c.communicator) expected += Text(l.product) + kCrLf;
  expected += Text(l.browser) + kCrLf + l.mail;
  if (folders) expected += Text(kCrLf) + l.folders;

  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  if (level2) {
    ASSERT_EQ(d.kind, sim::DialogRecord::Kind::TaskDialog);
    EXPECT_EQ(d.footer, expected);
  } else {
    ASSERT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
    const Text intro =
        c.english ? u"This program updates your Quorvia 3 installation to the latest version."
                  : u"Dieses Programm aktualisiert Ihre Querlix 3-Installation auf die "
                    u"neueste Version.";
    EXPECT_EQ(d.text, intro + kCrLf + kCrLf + kCrLf + expected);
  }
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(Combinations, ProgramListTest,
                         ::testing::Combine(::testing::Values(kWindows2000, kWindowsXp,
                                                              kWindowsXp64, kWindows7x86,
                                                              kWindows7x64),
                                            ::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<ListParam>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_En" : "_De") +
                                  (std::get<2>(info.param) ? "_Running" : "_NotRunning");
                         });

// --- the dialog records field by field ---------------------------------------------------------

struct PromptTexts {
  const char16_t* productTitle;
  const char16_t* updateTitle;
  const char16_t* intro;
  const char16_t* installButton;
};

const PromptTexts kEnglishPrompt{u"Quorvia 3", u"Quorvia 3 Update",
                                 u"This program updates your Quorvia 3 installation to the "
                                 u"latest version.",
                                 u"Install update now"};
const PromptTexts kGermanPrompt{u"Querlix 3", u"Querlix 3-Update",
                                u"Dieses Programm aktualisiert Ihre Querlix 3-Installation auf "
                                u"die neueste Version.",
                                u"Update jetzt installieren"};

class PromptTaskDialogTest : public ::testing::TestWithParam<bool> {};

TEST_P(PromptTaskDialogTest, EveryField) {
  const bool english = GetParam();
  StandardMachine m;
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(english ? u"/en" : u""), RunOutcome::Cancelled);
  const PromptTexts& t = english ? kEnglishPrompt : kGermanPrompt;
  const Lines& l = english ? kEnglishLines : kGermanLines;

  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  ASSERT_EQ(d.kind, sim::DialogRecord::Kind::TaskDialog);
  EXPECT_EQ(d.cbSize, sizeof(win::TASKDIALOGCONFIG));
  EXPECT_TRUE(win::IsNull(d.hwndParent));
  EXPECT_TRUE(win::IsNull(d.hInstance));
  EXPECT_EQ(d.dwFlags, 0x000Au);
  EXPECT_EQ(d.dwCommonButtons, 0x0008u);
  EXPECT_EQ(d.windowTitle, t.productTitle);
  // The main icon is the program's icon 1, loaded as a handle (and destroyed after the dialog).
  EXPECT_NE(d.mainIcon, 0u);
  EXPECT_EQ(d.mainInstruction, t.updateTitle);
  EXPECT_EQ(d.content, t.intro);
  ASSERT_EQ(d.buttons.size(), 1u);
  EXPECT_EQ(d.buttons[0].first, 6);
  EXPECT_EQ(d.buttons[0].second, t.installButton);
  EXPECT_EQ(d.nDefaultButton, 0);
  EXPECT_EQ(d.cRadioButtons, 0u);
  EXPECT_EQ(d.nDefaultRadioButton, 0);
  EXPECT_FALSE(d.hasVerificationText);
  EXPECT_FALSE(d.hasExpandedInformation);
  EXPECT_FALSE(d.hasExpandedControlText);
  EXPECT_FALSE(d.hasCollapsedControlText);
  EXPECT_EQ(d.footerIcon, 0xFFFFu);
  EXPECT_EQ(d.footer, Text(l.heading) + kCrLf + kCrLf + l.browser + kCrLf + l.mail);
  EXPECT_FALSE(d.hasCallback);
  EXPECT_EQ(d.lpCallbackData, 0);
  EXPECT_EQ(d.cxWidth, 245u);
  EXPECT_EQ(m->kernel().OpenHandleCount(sim::HandleKind::Icon), 0u);
  // Icon group 1 of the program's own module.
  std::vector<std::string> loaded;
  for (const auto& call : m->kernel().Calls())
    if (call.function == "LoadIconW") loaded.push_back(call.detail);
  EXPECT_EQ(loaded, std::vector<std::string>{"#1"});
  std::vector<std::string> destroyed;
  for (const auto& call : m->kernel().Calls())
    if (call.function == "DestroyIcon") destroyed.push_back(call.detail);
  EXPECT_EQ(destroyed, std::vector<std::string>{std::to_string(d.mainIcon)});
  ExpectEverythingReleased(m.machine());
}

TEST(PromptTaskDialog, IconThatCannotBeLoadedLeavesNothingToRelease) {
  StandardMachine m;
  m->kernel().AddFault({"LoadIconW", 1, 0});
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Cancelled);
  ASSERT_EQ(m->Dialogs().size(), 1u);
  EXPECT_EQ(m->Dialogs()[0].mainIcon, 0u);
  EXPECT_EQ(CountCalls(m->kernel(), "DestroyIcon"), 0u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(Languages, PromptTaskDialogTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "En" : "De"; });

struct PromptBoxCase {
  const char* name;
  WindowsKind windows;
  bool english;
};

class PromptMessageBoxTest : public ::testing::TestWithParam<PromptBoxCase> {};

TEST_P(PromptMessageBoxTest, EveryField) {
  const PromptBoxCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  options.communicatorRunning = true;
  StandardMachine m(options);
  m->QueueAnswer(sim::Answer::Cancel);
  EXPECT_EQ(m.Run(c.english ? u"/EN" : u""), RunOutcome::Cancelled);
  const PromptTexts& t = c.english ? kEnglishPrompt : kGermanPrompt;
  const Lines& l = c.english ? kEnglishLines : kGermanLines;
  ASSERT_EQ(m->Dialogs().size(), 1u);
  const sim::DialogRecord& d = m->Dialogs()[0];
  ASSERT_EQ(d.kind, sim::DialogRecord::Kind::MessageBox);
  EXPECT_TRUE(win::IsNull(d.owner));
  EXPECT_EQ(d.caption, t.updateTitle);
  EXPECT_EQ(d.type, 0x00010041u);
  EXPECT_EQ(d.text, Text(t.intro) + kCrLf + kCrLf + kCrLf + l.heading + kCrLf + kCrLf + l.product +
                        kCrLf + l.browser + kCrLf + l.mail + kCrLf + l.folders);
  // No task dialog function and no icon are touched below Windows Vista.
  EXPECT_EQ(CountCalls(m->kernel(), "TaskDialogIndirect"), 0u);
  EXPECT_EQ(CountCalls(m->kernel(), "LoadIconW"), 0u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(Situations, PromptMessageBoxTest,
                         ::testing::Values(PromptBoxCase{"Win2000_En", kWindows2000, true},
                                           PromptBoxCase{"Win2000_De", kWindows2000, false},
                                           PromptBoxCase{"XP_En", kWindowsXp, true},
                                           PromptBoxCase{"XP_De", kWindowsXp, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- every way to cancel or confirm ----------------------------------------------------------

struct AnswerCase {
  const char* name;
  WindowsKind windows;
  sim::Answer answer;
  bool goesOn;
};

class PromptAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(PromptAnswerTest, CancelEndsTheRunWithoutAnyChange) {
  const AnswerCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  StandardMachine m(options);
  const auto filesBefore = m->FilePaths();
  m->QueueAnswer(c.answer);
  const RunOutcome outcome = m.Run(u"/en");
  if (c.goesOn) {
    EXPECT_EQ(outcome, RunOutcome::Updated);
    EXPECT_FALSE(m->Processes().empty());
    EXPECT_FALSE(m->registry().Changes().empty());
    // The prompt and the completion report.
    EXPECT_EQ(m->Dialogs().size(), 2u);
  } else {
    EXPECT_EQ(outcome, RunOutcome::Cancelled);
    EXPECT_EQ(m->Dialogs().size(), 1u);
    EXPECT_TRUE(m->Processes().empty());
    EXPECT_TRUE(m->registry().Changes().empty());
    EXPECT_TRUE(m->WerExclusions().empty());
    EXPECT_EQ(OtherFileChanges(m.machine()), std::vector<std::string>{});
    ExpectProtectedCopyCameAndWent(m.machine(), std::string(kUpdaterFolder) + "qvupdate.msp");
    EXPECT_EQ(m->FilePaths(), filesBefore);
  }
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PromptAnswerTest,
    ::testing::Values(
        AnswerCase{"TaskDialog_Cancel", kWindows7x64, sim::Answer::Cancel, false},
        AnswerCase{"TaskDialog_Escape", kWindows7x64, sim::Answer::Escape, false},
        AnswerCase{"TaskDialog_CloseBox", kWindows7x64, sim::Answer::CloseBox, false},
        AnswerCase{"TaskDialog_Install", kWindows7x64, sim::Answer::Confirm, true},
        AnswerCase{"TaskDialog_CannotShow", kWindows7x64, sim::Answer::CannotShow, true},
        AnswerCase{"TaskDialog32_Cancel", kWindows7x86, sim::Answer::Cancel, false},
        AnswerCase{"MessageBox_Cancel", kWindowsXp, sim::Answer::Cancel, false},
        AnswerCase{"MessageBox_Escape", kWindowsXp, sim::Answer::Escape, false},
        AnswerCase{"MessageBox_CloseBox", kWindows2000, sim::Answer::CloseBox, false},
        AnswerCase{"MessageBox_Ok", kWindowsXp, sim::Answer::Confirm, true},
        AnswerCase{"MessageBox_CannotShow", kWindows2000, sim::Answer::CannotShow, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PromptAnswer, TaskDialogThatIsMissingGoesOnAsConfirmed) {
  // Common controls 6 not bound: TaskDialogIndirect cannot be had, the button stays 0.
  StandardMachine m;
  m->SetTaskDialogAvailable(false);
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(m->Processes().size(), 2u);
  ExpectEverythingReleased(m.machine());
}

}  // namespace
}  // namespace qv
