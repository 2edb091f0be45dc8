// What if: the run over a machine, every change recorded instead of made. The machine is left as
// it was, and the report names what the real run on the same machine then does.
#include <gtest/gtest.h>

#include "update/machine_fixture.h"
#include "update/run_helpers.h"
#include "update/session.h"

namespace qv {
namespace {

using namespace qv::test;

struct WhatIfCase {
  const char* name;
  WindowsKind windows;
  const char16_t* arguments;
  std::optional<std::string> release;  // a release made for a package of this content
  bool installed;
  int status;  // of the what-if: the real run's up to the installer
};

class WhatIf : public ::testing::TestWithParam<WhatIfCase> {};

int RunSession(StandardMachine& m, const Text& arguments) {
  win::Platform platform = m->platform();
  Session session(platform, m.Context(arguments));
  return session.Run();
}

TEST_P(WhatIf, ChangesNothingAndNamesWhatTheRunDoes) {
  const WhatIfCase& c = GetParam();
  MachineOptions o;
  o.windows = c.windows;
  o.productInstalled = c.installed;
  o.communicatorRunning = true;
  o.releasePackage = c.release;
  StandardMachine whatif(o), real(o);
  const std::string report = "C:\\Reports\\what if.txt";
  const auto filesBefore = whatif->FilePaths();
  EXPECT_EQ(RunSession(whatif, Text(c.arguments) + u" /whatif \"" + Utf8ToText(report) + u"\""), c.status);
  const int status = RunSession(real, c.arguments);

  // Nothing changed: no value, no program, no event, no file but the report (and its folder).
  EXPECT_TRUE(whatif->registry().Changes().empty());
  EXPECT_TRUE(whatif->Processes().empty());
  EXPECT_TRUE(whatif->Events().empty());
  EXPECT_TRUE(whatif->WerExclusions().empty());
  EXPECT_EQ(whatif->FileLog(), (std::vector<std::string>{"created folder C:\\Reports", "created " + report}));
  std::vector<std::string> files = filesBefore;
  files.insert(std::lower_bound(files.begin(), files.end(), report), report);
  EXPECT_EQ(whatif->FilePaths(), files);
  const bool quiet = Text(c.arguments).find(u"/quiet") != Text::npos;
  ASSERT_EQ(whatif->Dialogs().size(), quiet ? 0u : 1u);  // the summary, unless /quiet
  if (!quiet) {
    EXPECT_EQ(whatif->Dialogs()[0].caption, u"QV3Update what-if");
  }
  ExpectEverythingReleased(whatif.machine());

  // What the real run did is in the report: its first dialog (the prompt, or the message that
  // ends it), its programs with their command lines, every value it wrote, and its exit status
  // where it ends before the installer. (Whether a completion report follows is the installer's.)
  const std::string text = whatif->FindFile(report)->content;
  if (!real->Dialogs().empty()) {
    const sim::DialogRecord& d = real->Dialogs()[0];
    const Text title = d.kind == sim::DialogRecord::Kind::TaskDialog ? d.windowTitle : d.caption;
    EXPECT_NE(text.find("Dialog 1: " + std::string(d.kind == sim::DialogRecord::Kind::TaskDialog ? "task dialog" : "message box") + " \"" + TextToUtf8(title) + "\""), std::string::npos) << text;
  }
  for (const sim::ProcessRecord& p : real->Processes())
    EXPECT_NE(text.find(". " + p.commandLine.value_or("?") + "\r\n"), std::string::npos) << text;
  std::size_t before = 0;
  for (std::size_t at = text.find("; before: "); at != std::string::npos; at = text.find("; before: ", at + 1)) ++before;
  std::size_t writes = 0;
  for (const sim::RegChange& change : real->registry().Changes()) writes += change.kind == sim::RegChange::Kind::ValueSet;
  EXPECT_EQ(before, writes) << text;
  if (c.status != 0) {
    EXPECT_EQ(status, c.status);
  }
  EXPECT_NE(text.find("Exit status: " + std::to_string(c.status) + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nRead:      2026-01-15 09:30:00 UTC\r\n"), std::string::npos) << text;  // the machine's clock
}

INSTANTIATE_TEST_SUITE_P(
    Machines, WhatIf,
    ::testing::Values(WhatIfCase{"Windows7Running", kWindows7x64, u"/en", std::nullopt, true, 0},
                      WhatIfCase{"WindowsXpGermanQuiet", kWindowsXp, u"/quiet", std::nullopt, true, 0},
                      WhatIfCase{"Windows2000Release", kWindows2000, u"/en", "Quorvia 3 patch 3.10.0.69", true, 0},
                      WhatIfCase{"NotInstalled", kWindows7x86, u"", std::nullopt, false, 1605},
                      WhatIfCase{"AnotherPackage", kWindows7x64, u"/en", "Quorvia 3 patch 3.10.0.61", true, 1643}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
