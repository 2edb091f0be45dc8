// Dialogs on the simulated machine: what each scripted answer gives for each kind of message box
// and task dialog, and that every field the program passed is recorded.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ui_language.h"

namespace qv::sim {
namespace {

// --- message boxes ---------------------------------------------------------------------------------

struct BoxCase {
  const char* name;
  win::UINT type;
  Answer answer;
  int expected;
};

class MessageBoxAnswers : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxAnswers, GiveWhatWindowsGives) {
  const BoxCase& c = GetParam();
  SimMachine m;
  m.QueueAnswer(c.answer);
  EXPECT_EQ(m.platform().dialogs.MessageBoxW(win::HWND{}, u"text", u"caption", c.type), c.expected);
  ASSERT_EQ(m.Dialogs().size(), 1u);
  EXPECT_EQ(m.Dialogs()[0].result, c.expected);
  EXPECT_EQ(m.Dialogs()[0].answer, c.answer);
}

constexpr win::UINT kPrompt = win::MB_OKCANCEL | win::MB_ICONINFORMATION | win::MB_SETFOREGROUND;
constexpr win::UINT kYesNo = 4;
constexpr win::UINT kDefButton2 = 0x100;

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxAnswers,
    ::testing::Values(BoxCase{"OkCancelConfirm", kPrompt, Answer::Confirm, win::IDOK},
                      BoxCase{"OkCancelCancel", kPrompt, Answer::Cancel, win::IDCANCEL},
                      BoxCase{"OkCancelEscape", kPrompt, Answer::Escape, win::IDCANCEL},
                      BoxCase{"OkCancelCloseBox", kPrompt, Answer::CloseBox, win::IDCANCEL},
                      BoxCase{"OkCancelCannotShow", kPrompt, Answer::CannotShow, 0},
                      BoxCase{"OkCancelDefaultSecond", kPrompt | kDefButton2, Answer::Confirm, win::IDCANCEL},
                      BoxCase{"OkConfirm", win::MB_ICONERROR, Answer::Confirm, win::IDOK},
                      BoxCase{"OkEscapeGivesOk", win::MB_ICONERROR, Answer::Escape, win::IDOK},
                      BoxCase{"OkCloseBoxGivesOk", win::MB_OK, Answer::CloseBox, win::IDOK},
                      BoxCase{"OkCancelAnswerGivesOk", win::MB_OK, Answer::Cancel, win::IDOK},
                      BoxCase{"OkCannotShow", win::MB_OK, Answer::CannotShow, 0},
                      BoxCase{"YesNoEscapeDoesNothing", kYesNo, Answer::Escape, win::IDYES},
                      BoxCase{"YesNoDefaultNo", kYesNo | kDefButton2, Answer::Confirm, 7}),
    [](const ::testing::TestParamInfo<BoxCase>& i) { return std::string(i.param.name); });

TEST(MessageBox, RecordsFieldsAndTakesAnswersInOrder) {
  SimMachine m;
  m.QueueAnswer(Answer::Cancel);
  auto& d = m.platform().dialogs;
  EXPECT_EQ(d.MessageBoxW(win::HWND{}, u"Querlix 3 ist nicht installiert.", u"Querlix 3-Update-Installation",
                          win::MB_ICONERROR | win::MB_OKCANCEL),
            win::IDCANCEL);
  // The queue is empty now: Confirm.
  EXPECT_EQ(d.MessageBoxW(win::HWND{}, u"second", nullptr, win::MB_OKCANCEL), win::IDOK);
  ASSERT_EQ(m.Dialogs().size(), 2u);
  const DialogRecord& r = m.Dialogs()[0];
  EXPECT_EQ(r.kind, DialogRecord::Kind::MessageBox);
  EXPECT_EQ(r.text, u"Querlix 3 ist nicht installiert.");
  EXPECT_EQ(r.caption, u"Querlix 3-Update-Installation");
  EXPECT_EQ(r.type, win::MB_ICONERROR | win::MB_OKCANCEL);
  EXPECT_TRUE(win::IsNull(r.owner));
  EXPECT_EQ(m.Dialogs()[1].caption, u"Error");  // Windows' caption when none is given

  MachineConfig german;
  german.uiLanguage = kUiGerman;
  SimMachine g(german);
  g.platform().dialogs.MessageBoxW(win::HWND{}, u"x", nullptr, win::MB_OK);
  EXPECT_EQ(g.Dialogs()[0].caption, u"Fehler");
}

// The buttons a dialog shows, in order, labelled as Windows labels its own in each UI language.
struct ShownCase {
  const char* name;
  DialogRecord::Kind kind;
  win::UINT styleOrCommonButtons;
  int ownButton;  // a task dialog's own button "Los" with this id; 0: none
  win::LANGID language;
  std::u16string expected;  // "id label|id label"
};

class ButtonsShownCase : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ButtonsShownCase, AreWindowsButtonsInTheUiLanguage) {
  const ShownCase& c = GetParam();
  DialogRecord d;
  d.kind = c.kind;
  if (c.kind == DialogRecord::Kind::MessageBox) d.type = c.styleOrCommonButtons;
  else d.dwCommonButtons = c.styleOrCommonButtons;
  if (c.ownButton) d.buttons.emplace_back(c.ownButton, u"Los");
  std::u16string shown;
  for (const auto& [id, label] : ButtonsShown(d, c.language))
    shown += (shown.empty() ? u"" : u"|") + IntToText(id) + u" " + label;
  EXPECT_EQ(TextToUtf8(shown), TextToUtf8(c.expected));
}

constexpr auto kBox = DialogRecord::Kind::MessageBox;
constexpr auto kTask = DialogRecord::Kind::TaskDialog;

INSTANTIATE_TEST_SUITE_P(
    Languages, ButtonsShownCase,
    ::testing::Values(
        ShownCase{"OkCancelGerman", kBox, 0x00010041, 0, kUiGerman, u"1 OK|2 Abbrechen"},
        ShownCase{"AbortRetryIgnoreGerman", kBox, 2, 0, kUiGerman,
                  u"3 Abbrechen|4 Wiederholen|5 Ignorieren"},
        ShownCase{"YesNoCancelGerman", kBox, 3, 0, kUiGerman, u"6 Ja|7 Nein|2 Abbrechen"},
        ShownCase{"CancelTryContinueEnglish", kBox, 6, 0, kUiEnglish,
                  u"2 Cancel|10 Try Again|11 Continue"},
        ShownCase{"CancelTryContinueGerman", kBox, 6, 0, kUiGerman,
                  u"2 Abbrechen|10 Wiederholen|11 Weiter"},
        ShownCase{"AllCommonInWindowsOrderGerman", kTask, 0x3F, 0, kUiGerman,
                  u"1 OK|6 Ja|7 Nein|2 Abbrechen|4 Wiederholen|8 Schlie\u00DFen"},
        // An own button with a common button's id keeps the program's text; the common one
        // follows with Windows' label.
        ShownCase{"OwnButtonWithCommonId", kTask, win::TDCBF_CANCEL_BUTTON, win::IDCANCEL,
                  kUiGerman, u"2 Los|2 Abbrechen"},
        ShownCase{"NoButtonsShowsOkGerman", kTask, 0, 0, kUiGerman, u"1 OK"}),
    [](const ::testing::TestParamInfo<ShownCase>& i) { return std::string(i.param.name); });

TEST(MessageBox, PlannedFailureKeepsTheQueuedAnswerForTheNextBox) {
  SimMachine m;
  m.QueueAnswer(Answer::Cancel);
  m.kernel().AddFault(FaultRule{"MessageBoxW", 1, 0});
  auto& d = m.platform().dialogs;
  EXPECT_EQ(d.MessageBoxW(win::HWND{}, u"a", u"b", win::MB_OKCANCEL), 0);
  EXPECT_EQ(d.MessageBoxW(win::HWND{}, u"a", u"b", win::MB_OKCANCEL), win::IDCANCEL);
}

// --- task dialogs -------------------------------------------------------------------------------------

struct TaskCase {
  const char* name;
  win::DWORD flags;
  win::DWORD commonButtons;
  int ownButton;  // 0: none
  Answer answer;
  win::HRESULT hr;
  int expected;   // pressed button; -1: left untouched
};

class TaskDialogAnswers : public ::testing::TestWithParam<TaskCase> {};

TEST_P(TaskDialogAnswers, GiveWhatWindowsGives) {
  const TaskCase& c = GetParam();
  SimMachine m;
  m.QueueAnswer(c.answer);
  win::TASKDIALOG_BUTTON button{c.ownButton, u"Install update now"};
  win::TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.dwFlags = c.flags;
  config.dwCommonButtons = c.commonButtons;
  config.pszWindowTitle = u"Quorvia 3";
  if (c.ownButton) {
    config.cButtons = 1;
    config.pButtons = &button;
  }
  int pressed = -1, radio = -1;
  win::BOOL verified = -1;
  EXPECT_EQ(m.platform().dialogs.TaskDialogIndirect(&config, &pressed, &radio, &verified), c.hr);
  EXPECT_EQ(pressed, c.expected);
  if (c.hr == win::S_OK) {
    EXPECT_EQ(radio, 0);
    EXPECT_EQ(verified, win::FALSE);
  }
  ASSERT_EQ(m.Dialogs().size(), 1u);
  EXPECT_EQ(m.Dialogs()[0].hr, c.hr);
}

constexpr win::DWORD kPromptFlags = win::TDF_USE_HICON_MAIN | win::TDF_ALLOW_DIALOG_CANCELLATION;

INSTANTIATE_TEST_SUITE_P(
    Cases, TaskDialogAnswers,
    ::testing::Values(
        TaskCase{"PromptConfirm", kPromptFlags, win::TDCBF_CANCEL_BUTTON, win::IDYES, Answer::Confirm, win::S_OK, win::IDYES},
        TaskCase{"PromptCancel", kPromptFlags, win::TDCBF_CANCEL_BUTTON, win::IDYES, Answer::Cancel, win::S_OK, win::IDCANCEL},
        TaskCase{"PromptEscape", kPromptFlags, win::TDCBF_CANCEL_BUTTON, win::IDYES, Answer::Escape, win::S_OK, win::IDCANCEL},
        TaskCase{"PromptCloseBox", kPromptFlags, win::TDCBF_CANCEL_BUTTON, win::IDYES, Answer::CloseBox, win::S_OK, win::IDCANCEL},
        TaskCase{"PromptCannotShow", kPromptFlags, win::TDCBF_CANCEL_BUTTON, win::IDYES, Answer::CannotShow, win::E_FAIL, -1},
        TaskCase{"ReportConfirm", win::TDF_ALLOW_DIALOG_CANCELLATION, win::TDCBF_CLOSE_BUTTON, 0, Answer::Confirm, win::S_OK, win::IDCLOSE},
        TaskCase{"ReportClose", win::TDF_ALLOW_DIALOG_CANCELLATION, win::TDCBF_CLOSE_BUTTON, 0, Answer::Close, win::S_OK, win::IDCLOSE},
        TaskCase{"ReportEscape", win::TDF_ALLOW_DIALOG_CANCELLATION, win::TDCBF_CLOSE_BUTTON, 0, Answer::Escape, win::S_OK, win::IDCANCEL},
        TaskCase{"NoCancellationEscapeDoesNothing", 0, win::TDCBF_CLOSE_BUTTON, 0, Answer::Escape, win::S_OK, win::IDCLOSE},
        TaskCase{"NoCancellationCloseBoxDoesNothing", 0, 0, 100, Answer::CloseBox, win::S_OK, 100},
        TaskCase{"CancelButtonAllowsEscapeWithoutFlag", 0, win::TDCBF_CANCEL_BUTTON, 100, Answer::Escape, win::S_OK, win::IDCANCEL},
        TaskCase{"NoButtonsShowsOk", 0, 0, 0, Answer::Confirm, win::S_OK, win::IDOK},
        TaskCase{"CommonButtonsInWindowsOrder", 0, win::TDCBF_CLOSE_BUTTON | win::TDCBF_NO_BUTTON, 0, Answer::Confirm, win::S_OK, 7}),
    [](const ::testing::TestParamInfo<TaskCase>& i) { return std::string(i.param.name); });

TEST(TaskDialog, RecordsEveryField) {
  SimMachine m;
  const win::HICON icon = m.platform().windows.LoadIconW(m.ModuleHandle(), win::MAKEINTRESOURCEW(1));
  win::TASKDIALOG_BUTTON button{win::IDYES, u"Update jetzt installieren"};
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c;
  c.dwFlags = kPromptFlags;
  c.dwCommonButtons = win::TDCBF_CANCEL_BUTTON;
  c.pszWindowTitle = u"Querlix 3";
  c.hMainIcon = icon;
  c.pszMainInstruction = u"Querlix 3-Update";
  c.pszContent = u"Dieses Programm aktualisiert Ihre Querlix 3-Installation auf die neueste Version.";
  c.cButtons = 1;
  c.pButtons = &button;
  c.pszFooterIcon = win::MAKEINTRESOURCEW(0xFFFF);
  Text footer = u"Damit das Update \u00f6...";
  c.pszFooter = footer.c_str();
  c.cxWidth = 245;
  int pressed = 0;
  ASSERT_EQ(m.platform().dialogs.TaskDialogIndirect(&c, &pressed, nullptr, nullptr), win::S_OK);
  footer = u"changed after the call";
  ASSERT_EQ(m.Dialogs().size(), 1u);
  const DialogRecord& r = m.Dialogs()[0];
  EXPECT_EQ(r.kind, DialogRecord::Kind::TaskDialog);
  EXPECT_EQ(r.cbSize, sizeof(win::TASKDIALOGCONFIG));
  EXPECT_EQ(r.dwFlags, 0x000Au);
  EXPECT_EQ(r.dwCommonButtons, 0x0008u);
  EXPECT_EQ(r.windowTitle, u"Querlix 3");
  EXPECT_EQ(r.mainIcon, win::HandleValue(icon));
  EXPECT_EQ(r.mainInstruction, u"Querlix 3-Update");
  const win::WCHAR* content = c.pszContent;  // the record is packed: no reference to its field
  EXPECT_EQ(r.content, content);
  ASSERT_EQ(r.buttons.size(), 1u);
  EXPECT_EQ(r.buttons[0].first, win::IDYES);
  EXPECT_EQ(r.buttons[0].second, u"Update jetzt installieren");
  EXPECT_EQ(r.footerIcon, 0xFFFFu);
  EXPECT_EQ(r.footer, u"Damit das Update \u00f6...");
  EXPECT_EQ(r.cxWidth, 245u);
  EXPECT_FALSE(r.hasCallback);
  EXPECT_FALSE(r.hasVerificationText);
  EXPECT_EQ(r.cRadioButtons, 0u);
  EXPECT_EQ(r.result, win::IDYES);
  m.platform().windows.DestroyIcon(icon);
}

TEST(TaskDialog, MainIconIsAnIdentifierWithoutTheHandleFlag) {
  SimMachine m;
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c;
  c.dwFlags = win::TDF_ALLOW_DIALOG_CANCELLATION;
  c.dwCommonButtons = win::TDCBF_CLOSE_BUTTON;
  c.pszMainIcon = win::MAKEINTRESOURCEW(0xFFFD);
  c.pszWindowTitle = win::MAKEINTRESOURCEW(101);
  ASSERT_EQ(m.platform().dialogs.TaskDialogIndirect(&c, nullptr, nullptr, nullptr), win::S_OK);
  EXPECT_EQ(m.Dialogs()[0].mainIcon, 0xFFFDu);
  EXPECT_EQ(m.Dialogs()[0].windowTitle, u"#101");
}

TEST(TaskDialog, WrongSizeIsRefusedAndUnavailableCannotBeCalled) {
  SimMachine m;
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c - 4;
  int pressed = 0;
  EXPECT_EQ(m.platform().dialogs.TaskDialogIndirect(&c, &pressed, nullptr, nullptr), win::E_INVALIDARG);
  EXPECT_EQ(pressed, 0);
  m.SetTaskDialogAvailable(false);
  c.cbSize = sizeof c;
  EXPECT_TRUE(win::FAILED(m.platform().dialogs.TaskDialogIndirect(&c, &pressed, nullptr, nullptr)));
  EXPECT_EQ(pressed, 0);
  EXPECT_EQ(m.Dialogs().size(), 1u);  // the unavailable function showed nothing
}

TEST(TaskDialog, RadioButtonsAndVerificationFlag) {
  SimMachine m;
  win::TASKDIALOG_BUTTON radios[] = {{201, u"a"}, {202, u"b"}};
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c;
  c.dwFlags = 0x0100;  // TDF_VERIFICATION_FLAG_CHECKED
  c.cRadioButtons = 2;
  c.pRadioButtons = radios;
  c.nDefaultRadioButton = 202;
  int pressed = 0, radio = 0;
  win::BOOL checked = win::FALSE;
  ASSERT_EQ(m.platform().dialogs.TaskDialogIndirect(&c, &pressed, &radio, &checked), win::S_OK);
  EXPECT_EQ(radio, 202);
  EXPECT_EQ(checked, win::TRUE);
  c.nDefaultRadioButton = 0;
  c.dwFlags = 0;
  ASSERT_EQ(m.platform().dialogs.TaskDialogIndirect(&c, &pressed, &radio, &checked), win::S_OK);
  EXPECT_EQ(radio, 201);
  EXPECT_EQ(checked, win::FALSE);
}

TEST(CommonControls, InitialisationIsCounted) {
  SimMachine m;
  EXPECT_EQ(m.InitCommonControlsCount(), 0);
  m.platform().dialogs.InitCommonControls();
  EXPECT_EQ(m.InitCommonControlsCount(), 1);
}

}  // namespace
}  // namespace qv::sim
