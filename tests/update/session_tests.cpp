// The run as it was started: the switches, the log, the Application event and the exit status
// deployment tools act on, over whole runs on the simulated machine.
#include <gtest/gtest.h>

#include <string>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"
#include "update/session.h"

namespace qv {
namespace {

using namespace qv::test;

struct SwitchCase {
  const char16_t* arguments;
  bool quiet, noRestart, usage, english;
  const char16_t* log;  // null: none
};

TEST(Switches, FoundAnywhereWithoutRegardToCase) {
  const SwitchCase cases[] = {
      {u"", false, false, false, false, nullptr},
      {u"/QUIET /En", true, false, false, true, nullptr},
      {u"/norestart /log C:\\logs\\qv.log", false, true, false, false, u"C:\\logs\\qv.log"},
      {u"/Log \"C:\\My Logs\\qv 3.log\" /quiet", true, false, false, false, u"C:\\My Logs\\qv 3.log"},
      // A log path with "/en" in it chooses English, as "/en" anywhere does.
      {u"/log \"D:/en/qv.log\"", false, false, false, true, u"D:/en/qv.log"},
      {u"/logfile x.log /log", false, false, false, false, nullptr},
      {u"/?", false, false, true, false, nullptr},
  };
  for (const SwitchCase& c : cases) {
    const Switches s = ParseSwitches(c.arguments);
    const std::string name = TextToUtf8(c.arguments);
    EXPECT_EQ(s.quiet, c.quiet) << name;
    EXPECT_EQ(s.noRestart, c.noRestart) << name;
    EXPECT_EQ(s.usage, c.usage) << name;
    EXPECT_EQ(ChoosesEnglish(c.arguments), c.english) << name;
    EXPECT_EQ(s.logPath.value_or(u"<none>"), c.log ? Text(c.log) : Text(u"<none>")) << name;
  }
}

// The session over a machine: its exit status.
int RunSession(StandardMachine& m, const Text& arguments) {
  win::Platform platform = m->platform();
  Session session(platform, m.Context(arguments));
  return session.Run();
}

std::string LogOf(StandardMachine& m, const std::string& path) {
  const sim::SimFile* f = m->FindFile(path);
  return f ? f->content : "<no log>";
}

// The lines of `log` that start with `prefix`, without it.
std::vector<std::string> Lines(const std::string& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = std::min(log.find("\r\n", at), log.size());
    if (log.compare(at, prefix.size(), prefix) == 0) out.push_back(log.substr(at + prefix.size(), end - at - prefix.size()));
    at = end + 2;
  }
  return out;
}

// A silent run as a deployment tool starts it: no window, the installer without its user
// interface and its log beside the run's, the log's lines, the event, the exit status.
TEST(Session, SilentRunWithLog) {
  const std::string log = "C:\\Logs\\Quorvia\\qv3update.log";  // the folder is missing
  StandardMachine m;
  const int status = RunSession(m, u"/en /quiet /log " + Utf8ToText(log));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(m->Dialogs().empty());
  ASSERT_EQ(m->Processes().size(), 2u);
  EXPECT_EQ(m->Processes()[0].commandLine.value_or(""),
            "msiexec.exe /qn /norestart /p \"" + ProtectedFolderOf(m.machine()) +
                "\\qvupdate.msp\" /l*v \"" + log + ".msi.log\"");
  const std::string text = LogOf(m, log);
  ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0) << text;
  EXPECT_EQ(Lines(text, "\xEF\xBB\xBFQV3Update "), std::vector<std::string>{"3.10.0.68 started 2026-01-15 09:30:00 UTC"});
  EXPECT_EQ(Lines(text, "Windows "), std::vector<std::string>{"6.1 build 7601, level 2; 64-bit Windows, 32-bit updater C:\\Users\\User\\Downloads\\QV3Update.exe"});
  EXPECT_EQ(Lines(text, "Phase: ").size(), 8u) << text;
  EXPECT_EQ(Lines(text, "Dialog (task dialog, not shown: /quiet): \"Quorvia 3\": Quorvia 3 Update | ").size(), 1u) << text;
  const auto programs = Lines(text, "Program: ");
  ASSERT_EQ(programs.size(), 2u) << text;
  EXPECT_NE(programs[0].find("msiexec.exe /qn /norestart"), std::string::npos);
  EXPECT_NE(programs[0].find(" -- exit code 0 after 1.0 s"), std::string::npos) << programs[0];
  const auto values = Lines(text, "Registry: ");
  EXPECT_EQ(values.size(), WrittenValues(m.machine()).size() - 2) << text;  // the event source's two
  EXPECT_EQ(values[0], "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION] (32-bit view) \"QVApp.exe\"=dword:00002af8");
  EXPECT_EQ(Lines(text, "QVApp.exe version after: "), std::vector<std::string>{"3.10.0.69"});
  EXPECT_EQ(Lines(text, "Outcome: "), std::vector<std::string>{"updated: the version of QVApp.exe changed; exit status 0"});
  ASSERT_EQ(m->Events().size(), 1u);
  const sim::EventRecord& e = m->Events()[0];
  EXPECT_EQ(e.source, "QV3Update");
  EXPECT_EQ(e.type, win::EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(e.eventId, 1u);
  EXPECT_EQ(e.strings, std::vector<Text>{u"Quorvia 3 update: updated: the version of QVApp.exe changed. QVApp.exe version before: 3.10.0.68, after: 3.10.0.69. Exit status: 0. Log: " + Utf8ToText(log)});
  ExpectEverythingReleased(m.machine());

  // The same run with the prompt shown and confirmed writes the same log but for its dialogs.
  StandardMachine shown;
  EXPECT_EQ(RunSession(shown, u"/log " + Utf8ToText(log) + u" /en"), 0);
  auto withoutDialogs = [](const std::string& t) {
    std::string out;
    for (std::size_t at = 0; at < t.size();) {
      const std::size_t end = std::min(t.find("\r\n", at), t.size());
      const std::string line = t.substr(at, end - at);
      if (line.rfind("Dialog", 0) != 0 && line.rfind("Switches", 0) != 0 && line.rfind("Arguments", 0) != 0)
        out += (line.rfind("Program: C:\\Windows\\system32\\msiexec.exe", 0) == 0 ? "<installer>" : line) + "\n";
      at = end + 2;
    }
    return out;
  };
  EXPECT_EQ(withoutDialogs(LogOf(shown, log)), withoutDialogs(text));
  EXPECT_EQ(Lines(LogOf(shown, log), "Dialog (task dialog): ").size(), 2u);
}

// The installer's exit code: an error or a restart code is the run's exit status, and the
// settings are written whatever it was.
TEST(Session, InstallerExitCodesReachTheExitStatus) {
  const struct {
    win::DWORD code;
    bool raises;  // the installer changed QVApp.exe's version
    int status;
    win::WORD event;
  } cases[] = {{0, true, 0, win::EVENTLOG_INFORMATION_TYPE},
               {3010, true, 3010, win::EVENTLOG_INFORMATION_TYPE},
               {1641, true, 1641, win::EVENTLOG_INFORMATION_TYPE},
               {3010, false, 3010, win::EVENTLOG_INFORMATION_TYPE},
               {1618, false, 1618, win::EVENTLOG_ERROR_TYPE},
               {1603, false, 1603, win::EVENTLOG_ERROR_TYPE},
               {0, false, 1642, win::EVENTLOG_WARNING_TYPE}};
  for (const auto& c : cases) {
    MachineOptions o;
    if (!c.raises) o.patchedVersion = o.appVersion;
    StandardMachine m(o);
    m->SetProcessExit(m->ReachedPath(kMsiexecPath), c.code);
    EXPECT_EQ(RunSession(m, u"/quiet"), c.status) << c.code;
    EXPECT_EQ(WrittenValues(m.machine()).size(), 27u) << c.code;  // 25 settings, the event source
    ASSERT_EQ(m->Events().size(), 1u);
    EXPECT_EQ(m->Events()[0].type, c.event) << c.code;
  }
}

// What cannot be shown or written: a log that cannot be created does not stop the update (the
// event says so); an error ends the run with 1603, its report shown unless /quiet; /? shows the
// usage and does nothing else.
TEST(Session, LogErrorsAndUsage) {
  {
    StandardMachine m;
    m->kernel().AddFault({"CreateFileW", 1, win::ERROR_ACCESS_DENIED});
    EXPECT_EQ(RunSession(m, u"/quiet /log C:\\qv.log"), 0);
    EXPECT_EQ(m->FindFile("C:\\qv.log"), nullptr);
    // Nor does the installer get a log it could not open (msiexec would fail on it).
    ASSERT_FALSE(m->Processes().empty());
    EXPECT_EQ(m->Processes()[0].commandLine.value_or("").find("/l*v"), std::string::npos);
    ASSERT_EQ(m->Events().size(), 1u);
    EXPECT_NE(TextToUtf8(m->Events()[0].strings[0]).find("The log C:\\qv.log could not be written (error 5)."), std::string::npos);
  }
  for (const bool quiet : {true, false}) {
    StandardMachine m;
    m->kernel().AddFault({"RegSetValueExA", 3, win::ERROR_ACCESS_DENIED});
    EXPECT_EQ(RunSession(m, quiet ? u"/quiet /log C:\\qv.log" : u"/log C:\\qv.log"), 1603);
    EXPECT_EQ(m->Dialogs().size(), quiet ? 0u : 2u);  // the prompt, the error report
    const auto outcome = Lines(LogOf(m, "C:\\qv.log"), "Outcome: error: Run-time error '-2147194455':  Failed to set registry value");
    EXPECT_EQ(outcome.size(), 1u) << LogOf(m, "C:\\qv.log");
    ASSERT_EQ(m->Events().size(), 1u);
    EXPECT_EQ(m->Events()[0].type, win::EVENTLOG_ERROR_TYPE);
    // The versions the run had read before the error.
    EXPECT_NE(TextToUtf8(m->Events()[0].strings[0]).find("version before: 3.10.0.68, after: not read"), std::string::npos);
  }
  StandardMachine m;
  EXPECT_EQ(RunSession(m, u"/? /en"), 1639);  // nothing was done: never counted as success
  ASSERT_EQ(m->Dialogs().size(), 1u);
  EXPECT_EQ(TextToUtf8(m->Dialogs()[0].text).substr(0, 73),
            "QV3Update [/en] [/quiet] [/norestart] [/log PATH] [/whatif PATH] [/?]\r\n\r\n");
  EXPECT_TRUE(m->Processes().empty());
  EXPECT_TRUE(m->registry().Changes().empty());
}

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
}  // namespace qv
