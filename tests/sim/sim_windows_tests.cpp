// Windows of other programs and of the updater on the simulated machine: FindWindowExA's
// matching, the foreground lock and thread input, the hidden form window and icons.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace qv::sim {
namespace {

constexpr win::DWORD kOtherThread = 3104, kOtherProcess = 3100;

struct Desktop {
  SimMachine m;
  win::HWND form{}, text{}, oldForm{}, oldText{}, hiddenForm{}, other{};
  Desktop() {
    // Created in this order: the finder must give them in creation order.
    oldForm = m.AddWindow({{}, "ThunderFormDC", "QVShellCommunicator2006", kOtherThread, kOtherProcess});
    oldText = m.AddWindow({oldForm, "ThunderTextBox", "", kOtherThread, kOtherProcess});
    form = m.AddWindow({{}, "ThunderRT6FormDC", "QVShellCommunicator2006", kOtherThread, kOtherProcess});
    m.AddWindow({form, "ThunderRT6CommandButton", "OK", kOtherThread, kOtherProcess});
    text = m.AddWindow({form, "ThunderRT6TextBox", "some text", kOtherThread, kOtherProcess});
    SimWindow hidden{{}, "ThunderRT6FormDC", "Hidden one", kOtherThread, kOtherProcess};
    hidden.visible = false;
    hiddenForm = m.AddWindow(hidden);
    other = m.AddWindow({{}, "Notepad", "Untitled - Notepad", 2204, 2200});
  }
  win::HWND Find(win::HWND parent, win::HWND after, const char* cls, const char* name) {
    return m.platform().windows.FindWindowExA(parent, after, cls, name);
  }
};

struct FindCase {
  const char* name;
  const char* parent;  // "form", "oldForm", or "" for top level
  const char* after;   // a window name from Desktop, or ""
  const char* cls;     // null: any
  const char* caption; // null: any
  const char* expected;  // window name, or "" for none
};

win::HWND Pick(Desktop& d, const std::string& which) {
  if (which == "form") return d.form;
  if (which == "text") return d.text;
  if (which == "oldForm") return d.oldForm;
  if (which == "oldText") return d.oldText;
  if (which == "hiddenForm") return d.hiddenForm;
  if (which == "other") return d.other;
  return win::HWND{};
}

class FindWindow : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindWindow, MatchesClassAndCaptionWithoutRegardToCase) {
  const FindCase& c = GetParam();
  Desktop d;
  EXPECT_EQ(d.Find(Pick(d, c.parent), Pick(d, c.after), c.cls, c.caption), Pick(d, c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindWindow,
    ::testing::Values(
        FindCase{"TopLevelByClassAndCaption", "", "", "ThunderRT6FormDC", "QVShellCommunicator2006", "form"},
        FindCase{"ClassCaseIgnored", "", "", "thunderrt6formdc", "QVShellCommunicator2006", "form"},
        FindCase{"CaptionCaseIgnored", "", "", "ThunderRT6FormDC", "qvshellcommunicator2006", "form"},
        FindCase{"CaptionMustBeWhole", "", "", "ThunderRT6FormDC", "QVShellCommunicator", ""},
        FindCase{"FirstCreatedFirst", "", "", nullptr, "QVShellCommunicator2006", "oldForm"},
        FindCase{"AfterStartsBehindIt", "", "oldForm", nullptr, "QVShellCommunicator2006", "form"},
        FindCase{"HiddenWindowsCount", "", "", "ThunderRT6FormDC", "Hidden one", "hiddenForm"},
        FindCase{"ChildrenAreNotTopLevel", "", "", "ThunderRT6TextBox", nullptr, ""},
        FindCase{"DirectChildAnyText", "form", "", "ThunderRT6TextBox", nullptr, "text"},
        FindCase{"ChildOfTheOtherForm", "oldForm", "", "ThunderTextBox", nullptr, "oldText"},
        FindCase{"ChildClassOfOtherPairNotFound", "form", "", "ThunderTextBox", nullptr, ""},
        FindCase{"AnyClassAnyCaption", "", "", nullptr, nullptr, "oldForm"},
        FindCase{"AfterMustBeAChildOfParent", "form", "oldText", "ThunderRT6TextBox", nullptr, ""},
        FindCase{"EmptyCaptionMatchesOnlyEmpty", "oldForm", "", nullptr, "", "oldText"}),
    [](const ::testing::TestParamInfo<FindCase>& i) { return std::string(i.param.name); });

TEST(FindWindowDestroyed, OwnWindowIsGoneAfterDestroy) {
  Desktop d;
  auto& w = d.m.platform().windows;
  const win::HWND own = w.CreateFormWindow(d.m.ModuleHandle(), u"Form1", 1);
  ASSERT_FALSE(win::IsNull(own));
  EXPECT_EQ(d.Find({}, {}, nullptr, "Form1"), own);
  EXPECT_EQ(d.m.OwnWindowCount(), 1u);
  EXPECT_EQ(d.m.kernel().OpenHandleCount(HandleKind::Window), 1u);
  EXPECT_EQ(w.DestroyWindow(own), win::TRUE);
  EXPECT_TRUE(win::IsNull(d.Find({}, {}, nullptr, "Form1")));
  EXPECT_EQ(d.m.OwnWindowCount(), 0u);
  EXPECT_EQ(d.m.kernel().OpenHandleCount(), 0u);
  EXPECT_EQ(w.DestroyWindow(own), win::FALSE);
  // Another program's window cannot be destroyed.
  EXPECT_EQ(w.DestroyWindow(d.form), win::FALSE);
  EXPECT_FALSE(win::IsNull(d.Find({}, {}, "ThunderRT6FormDC", "QVShellCommunicator2006")));
}

TEST(FormWindow, HiddenTopLevelOfOwnThreadWithIcon) {
  MachineConfig config;
  SimMachine m(config);
  auto& w = m.platform().windows;
  const win::HWND h = w.CreateFormWindow(m.ModuleHandle(), u"F\u00f6rm1", 1);
  const SimWindow* s = m.FindSimWindow(h);
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->visible);
  EXPECT_TRUE(win::IsNull(s->parent));
  EXPECT_EQ(s->caption, "F\xf6rm1");
  EXPECT_EQ(s->threadId, config.threadId);
  EXPECT_EQ(s->processId, config.processId);
  EXPECT_EQ(s->iconId, 1);
  win::DWORD pid = 0;
  EXPECT_EQ(w.GetWindowThreadProcessId(h, &pid), config.threadId);
  EXPECT_EQ(pid, config.processId);
  // An icon id the module does not have leaves the window without an icon.
  const win::HWND h2 = w.CreateFormWindow(m.ModuleHandle(), u"Form2", 7);
  EXPECT_EQ(m.FindSimWindow(h2)->iconId, 0);
  w.DestroyWindow(h);
  w.DestroyWindow(h2);
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
}

struct IconCase {
  const char* name;
  bool ownModule;
  unsigned id;
  bool loads;
  bool mustDestroy;  // the handle counts as the program's to release
};

class Icons : public ::testing::TestWithParam<IconCase> {};

TEST_P(Icons, OnlyTheProgramsIconGroupLoads) {
  const IconCase& c = GetParam();
  SimMachine m;
  auto& w = m.platform().windows;
  const win::HICON icon =
      w.LoadIconW(c.ownModule ? m.ModuleHandle() : win::HINSTANCE{}, win::MAKEINTRESOURCEW(c.id));
  EXPECT_EQ(!win::IsNull(icon), c.loads);
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::Icon), c.mustDestroy ? 1u : 0u);
  if (c.loads) {
    EXPECT_EQ(w.DestroyIcon(icon), win::TRUE);
    EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  }
  if (c.mustDestroy) {
    EXPECT_EQ(w.DestroyIcon(icon), win::FALSE);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Icons,
                         ::testing::Values(IconCase{"Own1", true, 1, true, true},
                                           IconCase{"Own2Missing", true, 2, false, false},
                                           IconCase{"Own30001NotAGroup", true, 30001, false, false},
                                           IconCase{"SystemInformation", false, 32516, true, false},
                                           IconCase{"SystemUnknown", false, 1, false, false}),
                         [](const ::testing::TestParamInfo<IconCase>& i) { return std::string(i.param.name); });

TEST(Icons, NullAndForeignHandlesCannotBeDestroyed) {
  SimMachine m;
  auto& w = m.platform().windows;
  EXPECT_EQ(w.DestroyIcon(win::HICON{}), win::FALSE);
  const win::HWND h = w.CreateFormWindow(m.ModuleHandle(), u"x", 1);
  EXPECT_EQ(w.DestroyIcon(win::MakeHandle<win::HICON>(win::HandleValue(h))), win::FALSE);
  EXPECT_EQ(m.kernel().OpenHandleCount(HandleKind::Window), 1u);
  w.DestroyWindow(h);
}

// --- foreground -----------------------------------------------------------------------------------

TEST(Foreground, ForeignForegroundNeedsAttachedInput) {
  MachineConfig config;
  SimMachine m(config);
  auto& w = m.platform().windows;
  const win::HWND explorer = m.AddWindow({{}, "CabinetWClass", "Downloads", 1204, 1200});
  m.SetForegroundWindowOf(explorer);
  const win::HWND own = w.CreateFormWindow(m.ModuleHandle(), u"Form1", 1);

  EXPECT_EQ(w.GetForegroundWindow(), explorer);
  EXPECT_EQ(w.GetWindowThreadProcessId(explorer, nullptr), 1204u);
  // Without attaching, the foreground lock refuses.
  EXPECT_EQ(w.SetForegroundWindow(own), win::FALSE);
  EXPECT_EQ(m.ForegroundWindow(), explorer);

  EXPECT_EQ(w.AttachThreadInput(1204, config.threadId, win::TRUE), win::TRUE);
  EXPECT_EQ(m.AttachedInputCount(), 1u);
  EXPECT_EQ(w.SetForegroundWindow(own), win::TRUE);
  EXPECT_EQ(m.ForegroundWindow(), own);
  EXPECT_EQ(w.AttachThreadInput(1204, config.threadId, win::FALSE), win::TRUE);
  EXPECT_EQ(m.AttachedInputCount(), 0u);
  // Detaching what is not attached fails.
  EXPECT_EQ(w.AttachThreadInput(1204, config.threadId, win::FALSE), win::FALSE);

  const std::string ownValue = std::to_string(win::HandleValue(own));
  const std::vector<std::string> expected = {
      "SetForegroundWindow(" + ownValue + ")", "AttachThreadInput(1204,4004,1)",
      "SetForegroundWindow(" + ownValue + ")", "AttachThreadInput(1204,4004,0)",
      "AttachThreadInput(1204,4004,0)"};
  EXPECT_EQ(m.ForegroundLog(), expected);
  w.DestroyWindow(own);
  EXPECT_TRUE(win::IsNull(w.GetForegroundWindow()));
}

struct AttachCase {
  const char* name;
  win::DWORD a, b;
  win::BOOL ok;
};

class Attach : public ::testing::TestWithParam<AttachCase> {};

TEST_P(Attach, RefusesZeroEqualAndUnknownThreads) {
  SimMachine m;  // own thread 4004
  m.AddWindow({{}, "CabinetWClass", "Downloads", 1204, 1200});
  EXPECT_EQ(m.platform().windows.AttachThreadInput(GetParam().a, GetParam().b, win::TRUE), GetParam().ok);
  EXPECT_EQ(m.AttachedInputCount(), GetParam().ok ? 1u : 0u);
  EXPECT_EQ(m.ForegroundLog().size(), 1u);  // logged whether or not it worked
}

INSTANTIATE_TEST_SUITE_P(Cases, Attach,
                         ::testing::Values(AttachCase{"Fine", 1204, 4004, win::TRUE},
                                           AttachCase{"ZeroFirst", 0, 4004, win::FALSE},
                                           AttachCase{"ZeroSecond", 1204, 0, win::FALSE},
                                           AttachCase{"Same", 4004, 4004, win::FALSE},
                                           AttachCase{"Unknown", 999, 4004, win::FALSE}),
                         [](const ::testing::TestParamInfo<AttachCase>& i) { return std::string(i.param.name); });

TEST(Foreground, NoForegroundWindowAllowsTakingIt) {
  SimMachine m;
  auto& w = m.platform().windows;
  const win::HWND own = w.CreateFormWindow(m.ModuleHandle(), u"Form1", 1);
  EXPECT_TRUE(win::IsNull(w.GetForegroundWindow()));
  EXPECT_EQ(w.GetWindowThreadProcessId(win::HWND{}, nullptr), 0u);
  EXPECT_EQ(w.SetForegroundWindow(own), win::TRUE);
  EXPECT_EQ(w.SetForegroundWindow(win::HWND{}), win::FALSE);
  w.DestroyWindow(own);
}

TEST(WindowFaults, PlannedFailuresGiveNullAndFalse) {
  SimMachine m;
  auto& w = m.platform().windows;
  const win::HWND form = m.AddWindow({{}, "ThunderRT6FormDC", "QVShellCommunicator2006", 1, 1});
  m.kernel().AddFault(FaultRule{"FindWindowExA", 1, 0});
  m.kernel().AddFault(FaultRule{"CreateFormWindow", 1, 0});
  m.kernel().AddFault(FaultRule{"LoadIconW", 1, 0});
  EXPECT_TRUE(win::IsNull(w.FindWindowExA({}, {}, "ThunderRT6FormDC", nullptr)));
  EXPECT_EQ(w.FindWindowExA({}, {}, "ThunderRT6FormDC", nullptr), form);  // only the first fails
  EXPECT_TRUE(win::IsNull(w.CreateFormWindow(m.ModuleHandle(), u"x", 1)));
  EXPECT_TRUE(win::IsNull(w.LoadIconW(m.ModuleHandle(), win::MAKEINTRESOURCEW(1))));
  EXPECT_EQ(m.kernel().OpenHandleCount(), 0u);
  EXPECT_EQ(m.OwnWindowCount(), 0u);
}

}  // namespace
}  // namespace qv::sim
