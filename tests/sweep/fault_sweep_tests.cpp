// The fault sweep: for each main machine variation, a full run is recorded call by call; then the
// run is repeated once per call position with exactly that call failing the way Windows fails it
// (error result, null handle, failed COM creation, dialog that cannot be shown). Every such run
// must end as designed, release everything it acquired and touch nothing outside the update's
// places.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "platform/sim/sim_machine.h"
#include "registry/cRegistry.h"
#include "sweep/sweep_checks.h"
#include "update/machine_fixture.h"

namespace qv::sweep {
namespace {

using test::MachineOptions;
using test::StandardMachine;
using test::WindowsKind;

struct Variation {
  const char* name;
  WindowsKind windows;
  int processBits;
  bool english;
  bool productRunning;
  bool shortcut;  // the shortcut of the run's language exists
  sim::Answer answer = sim::Answer::Confirm;  // how the user answers the prompt
  bool installed = true;                      // the product key exists
  win::UINT codePage = 1252;                  // the system ANSI code page
  bool release = false;  // the build was made for the package beside it
};

const Variation kVariations[] = {
    {"Level0_German_Shortcut", test::kWindows2000, 32, false, false, true},
    {"Level1_English_ProductRunning_Shortcut", test::kWindowsXp, 32, true, true, true},
    {"Level2_Windows32_German_ProductRunning_Shortcut", test::kWindows7x86, 32, false, true, true},
    {"Level2_Windows64_Updater32_English_ProductRunning_Shortcut", test::kWindows7x64, 32, true,
     true, true},
    {"Level2_Windows64_Updater64_English_Shortcut", test::kWindows7x64, 64, true, false, true},
    {"Level2_Windows64_Updater32_German_NoShortcut", test::kWindows7x64, 32, false, false, false},
    {"Level2_Windows64_English_Cancelled", test::kWindows7x64, 32, true, true, true,
     sim::Answer::Cancel},
    {"Level1_German_Cancelled", test::kWindowsXp, 32, false, false, true, sim::Answer::Cancel},
    {"Level2_Windows32_German_NotInstalled", test::kWindows7x86, 32, false, false, true,
     sim::Answer::Confirm, false},
    {"Level2_Windows64_German_CentralEuropean", test::kWindows7x64, 32, false, true, true,
     sim::Answer::Confirm, true, 1250},
    {"Level2_Windows64_English_Cyrillic", test::kWindows7x64, 32, true, false, true,
     sim::Answer::Confirm, true, 1251},
    {"Level2_Windows64_German_Japanese", test::kWindows7x64, 32, false, true, true,
     sim::Answer::Confirm, true, 932},
    {"Level2_Windows64_Updater64_German_Utf8", test::kWindows7x64, 64, false, true, true,
     sim::Answer::Confirm, true, 65001},
    {"Level1_English_Utf8", test::kWindowsXp, 32, true, false, true, sim::Answer::Confirm, true,
     65001},
    {"Level2_Windows64_English_Release", test::kWindows7x64, 32, true, true, true,
     sim::Answer::Confirm, true, 1252, true},
    {"Level0_German_Release_Cancelled", test::kWindows2000, 32, false, false, true,
     sim::Answer::Cancel, true, 1252, true},
};

// Programs a hostile download folder could hold; none of them may ever run.
void PlantPrograms(sim::SimMachine& m) {
  for (const char* name : {"msiexec.exe", "QVInit.exe", "QVSync.exe"})
    m.AddExecutable(std::string(test::kUpdaterFolder) + name, sim::FileVersion{6, 6, 6, 6});
  m.AddExecutable("C:\\Program.exe", sim::FileVersion{6, 6, 6, 6});
}

void PrintTo(const Variation& v, std::ostream* os) { *os << v.name; }

std::unique_ptr<StandardMachine> MakeMachine(const Variation& v) {
  MachineOptions o;
  o.windows = v.windows;
  o.processBits = v.processBits;
  o.communicatorRunning = v.productRunning;
  o.englishShortcut = v.english && v.shortcut;
  o.germanShortcut = !v.english && v.shortcut;
  o.productInstalled = v.installed;
  o.codePage = v.codePage;
  if (v.release) o.releasePackage = o.packageContent;
  auto m = std::make_unique<StandardMachine>(o);
  PlantPrograms(m->machine());
  m->machine().QueueAnswer(v.answer);
  return m;
}

Text Arguments(const Variation& v) { return v.english ? u"/en" : u"/de"; }

std::string Describe(const sim::CallRecord& c) { return c.function + "(" + c.detail + ")"; }

// The call site: the function and its argument detail without handle numbers, which differ
// from run to run only by allocation order.
std::string SiteOf(const sim::CallRecord& c) {
  static const std::set<std::string> byHandle = {"CloseHandle", "WaitForSingleObject",
                                                 "DestroyIcon", "DestroyWindow",
                                                 "GetWindowThreadProcessId", "LocalFree",
                                                 "CryptReleaseContext"};
  if (byHandle.count(c.function)) return c.function;
  std::string detail = c.detail;
  const std::size_t h = detail.find("<handle ");
  if (h != std::string::npos) detail.erase(h, detail.find('>', h) - h + 1);
  // The protected folder's random name differs from run to run of a machine only by chance.
  const std::size_t random = detail.find("\\QV3Update-");
  if (random != std::string::npos) detail.replace(random + 11, 16, "*");
  return c.function + " " + detail;
}

bool IsDialog(const std::string& function) {
  return function == "MessageBoxW" || function == "TaskDialogIndirect";
}

std::size_t CountFrom(const std::vector<sim::CallRecord>& calls, std::size_t from,
                      const std::string& function) {
  std::size_t n = 0;
  for (std::size_t i = from; i < calls.size(); ++i) n += calls[i].function == function;
  return n;
}

// The handle number a release call was given, from its detail.
std::uintptr_t ReleasedHandle(const sim::CallRecord& c) {
  return static_cast<std::uintptr_t>(std::strtoull(c.detail.c_str(), nullptr, 10));
}

// What the failing call at a position must lead to.
enum class Expect {
  Goes_On,          // the run carries on by its rules
  NotInstalled,     // the product key test failed: the not-installed message and nothing else
  CreateKeyError,   // CreateKey cannot create its key: error 26001
  SetValueError,    // the registry refused a value: error -2147194455
  ReplaceError,     // the new shortcut cannot replace the old one: error 75
  Refused,          // the package could not be made safe: a message, and nothing changed
};

// The calls that make the package's protected copy and check it: one that fails refuses the
// package. (The copy's attributes, and the releases, only cost the clean-up.)
bool RefusesThePackage(const sim::CallRecord& c) {
  static const std::set<std::string> refusing = {
      "GetModuleFileNameW", "GetSystemWindowsDirectoryW",
      "ConvertStringSecurityDescriptorToSecurityDescriptorW", "CryptAcquireContextW",
      "CryptGenRandom", "CreateDirectoryW", "CopyFileW", "CreateFileW", "ReadFile"};
  return refusing.count(c.function) > 0;
}

// Release calls: when one fails, what it should have released is all that may remain.
bool IsRelease(const std::string& function) {
  return function == "CloseHandle" || function == "DestroyIcon" || function == "DestroyWindow" ||
         function == "LocalFree" || function == "CryptReleaseContext";
}

Expect Classify(const std::vector<sim::CallRecord>& calls, std::size_t index) {
  const sim::CallRecord& c = calls[index];
  if (RefusesThePackage(c)) return Expect::Refused;
  if (c.function == "RegSetValueExA") return Expect::SetValueError;
  if (c.function == "MoveFileExW") return Expect::ReplaceError;
  // CreateKey follows a failed existence test directly; a value write follows a closed key.
  if (c.function == "RegCreateKeyExA" && index > 0 && calls[index - 1].function == "RegOpenKeyExA")
    return Expect::CreateKeyError;
  if (c.function == "RegOpenKeyExA") {
    std::size_t opensBefore = 0;
    for (std::size_t i = 0; i < index; ++i) opensBefore += calls[i].function == "RegOpenKeyExA";
    if (opensBefore == 0) return Expect::NotInstalled;
  }
  return Expect::Goes_On;
}

struct SweepTotals {
  std::set<std::string> sites;
  std::size_t runs = 0;
};
SweepTotals& Totals() {
  static SweepTotals totals;
  return totals;
}

class FaultSweep : public ::testing::TestWithParam<Variation> {};

TEST_P(FaultSweep, EveryFailingCallEndsTheRunAsDesigned) {
  const Variation& v = GetParam();

  // The recorded run.
  auto base = MakeMachine(v);
  const Ending baseEnding = RunGuarded(*base, Arguments(v));
  ASSERT_TRUE(baseEnding.outcome.has_value()) << "the undisturbed run did not end normally";
  const RunOutcome baseOutcome = !v.installed                         ? RunOutcome::NotInstalled
                                 : v.answer == sim::Answer::Confirm ? RunOutcome::Updated
                                                                    : RunOutcome::Cancelled;
  ASSERT_EQ(*baseEnding.outcome, baseOutcome);
  const std::vector<sim::CallRecord> recorded = (*base)->kernel().Calls();
  ASSERT_GT(recorded.size(), baseOutcome == RunOutcome::Updated ? 50u : 10u);
  ExpectEverythingReleased(base->machine(), "undisturbed run");
  const std::string shortcut = base->shortcutPath(v.english);
  const std::size_t firstProcess = [&] {
    for (std::size_t i = 0; i < recorded.size(); ++i)
      if (recorded[i].function == "CreateProcessW") return i;
    return recorded.size();
  }();
  ASSERT_EQ(firstProcess < recorded.size(), baseOutcome == RunOutcome::Updated);

  std::set<std::string> sites;
  std::size_t swept = 0;
  for (std::size_t index = 0; index < recorded.size(); ++index) {
    const std::uint64_t position = index + 1;
    const std::string where = std::string(v.name) + " #" + std::to_string(position) + " " +
                              Describe(recorded[index]);
    sites.insert(SiteOf(recorded[index]));

    auto m = MakeMachine(v);
    sim::SimMachine& machine = m->machine();
    machine.kernel().FailCallNumber(position);
    const Ending e = RunGuarded(*m, Arguments(v));
    ++swept;
    const auto& calls = machine.kernel().Calls();

    // The run is the recorded one up to the failing call, and that call did fail.
    ASSERT_GE(calls.size(), position) << where;
    for (std::size_t i = 0; i < position; ++i)
      ASSERT_EQ(Describe(calls[i]), Describe(recorded[i])) << where << " diverged at #" << i + 1;
    ASSERT_TRUE(calls[index].failedByPlan) << where;

    EXPECT_TRUE(e.crash.empty()) << where << ": " << e.crash;

    // Released: everything, except what a failing release call itself could not release.
    const sim::CallRecord& failed = calls[index];
    // The copy and its folder are gone, or marked for removal at the next restart where a
    // failing call kept them.
    ExpectProtectedFolderGone(machine, where);
    if (IsRelease(failed.function)) {
      const auto open = machine.kernel().OpenHandles();
      EXPECT_LE(open.size(), 1u) << where << ": " << OpenThings(machine);
      for (const auto& h : open)
        EXPECT_EQ(h.first, ReleasedHandle(failed)) << where << ": " << OpenThings(machine);
      EXPECT_LE(machine.OwnWindowCount(), failed.function == "DestroyWindow" ? 1u : 0u) << where;
      EXPECT_EQ(machine.AttachedInputCount(), 0u) << where;
      EXPECT_FALSE(machine.ComInitialized()) << where;
    } else if (failed.function == "AttachThreadInput" &&
               failed.detail.size() > 3 && failed.detail.compare(failed.detail.size() - 3, 3, ",0)") == 0) {
      // The detach failed: the coupling it should have ended is all that may remain.
      EXPECT_LE(machine.AttachedInputCount(), 1u) << where;
      EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u) << where << ": " << OpenThings(machine);
    } else {
      ExpectEverythingReleased(machine, where);
    }

    ExpectOnlyUpdatePlacesWritten(machine, where);
    ExpectOnlyShortcutFilesTouched(machine, shortcut, where);
    ExpectOnlyOwnProgramsStarted(machine, m->installFolder(), where);

    const std::size_t dialogs = machine.Dialogs().size();
    switch (Classify(recorded, index)) {
      case Expect::Refused: {
        ASSERT_TRUE(e.outcome.has_value()) << where;
        EXPECT_TRUE(*e.outcome == RunOutcome::PackageUnusable ||
                    *e.outcome == RunOutcome::PackageRejected ||
                    *e.outcome == RunOutcome::NoProtectedFolder)
            << where << ": outcome " << static_cast<int>(*e.outcome);
        // The message that says why, and nothing else: no prompt, no program, no value.
        ASSERT_EQ(dialogs, 1u) << where;
        EXPECT_EQ(machine.Dialogs()[0].type, win::MB_OK | win::MB_ICONERROR) << where;
        EXPECT_TRUE(machine.registry().Changes().empty()) << where;
        EXPECT_TRUE(machine.Processes().empty()) << where;
        EXPECT_EQ(test::OtherFileChanges(machine), std::vector<std::string>{}) << where;
        break;
      }
      case Expect::SetValueError:
      case Expect::CreateKeyError: {
        const bool createKey = Classify(recorded, index) == Expect::CreateKeyError;
        ASSERT_TRUE(e.error.has_value()) << where << ": no error left the run";
        EXPECT_EQ(e.error->number(), createKey ? cRegistry::kErrKey : cRegistry::kErrSetValue)
            << where;
        EXPECT_EQ(e.error->source(), u"QV3Update.cRegistry") << where;
        const Text start = createKey ? u"Failed to create registry Key: '"
                                     : u"Failed to set registry value Key: '";
        EXPECT_EQ(e.error->description().compare(0, start.size(), start), 0) << where;
        // The run ends at that step: only the key it had opened is closed afterwards.
        for (std::size_t i = position; i < calls.size(); ++i)
          EXPECT_EQ(calls[i].function, "RegCloseKey") << where << " then " << Describe(calls[i]);
        EXPECT_EQ(dialogs, 1u) << where;
        break;
      }
      case Expect::ReplaceError: {
        ASSERT_TRUE(e.error.has_value()) << where << ": no error left the run";
        EXPECT_EQ(e.error->number(), 75) << where;
        EXPECT_EQ(e.error->description(), u"Path/File access error") << where;
        for (std::size_t i = position; i < calls.size(); ++i)
          EXPECT_EQ(Describe(calls[i]), "DeleteFileW(" + shortcut + ".new)") << where;
        // The old shortcut is still there, untouched.
        const sim::SimFile* old = machine.FindFile(shortcut);
        ASSERT_NE(old, nullptr) << where;
        ASSERT_TRUE(old->shortcut.has_value()) << where;
        EXPECT_EQ(old->shortcut->description, "old shortcut") << where;
        EXPECT_EQ(machine.FindFile(shortcut + ".new"), nullptr) << where;
        EXPECT_EQ(dialogs, 1u) << where;
        break;
      }
      case Expect::NotInstalled:
        ASSERT_TRUE(e.outcome.has_value()) << where;
        EXPECT_EQ(*e.outcome, RunOutcome::NotInstalled) << where;
        EXPECT_EQ(dialogs, 1u) << where;
        EXPECT_TRUE(machine.registry().Changes().empty()) << where;
        EXPECT_TRUE(machine.Processes().empty()) << where;
        EXPECT_TRUE(machine.FileLog().empty()) << where;
        break;
      case Expect::Goes_On: {
        ASSERT_FALSE(e.error.has_value())
            << where << ": error " << e.error->number() << " " << TextToUtf8(e.error->description());
        ASSERT_TRUE(e.outcome.has_value()) << where;
        // A run that ended before any change ends so again, unless the failing call was the
        // prompt the user would have cancelled: a prompt that cannot be shown counts as
        // confirmed.
        const bool promptFailed =
            baseOutcome == RunOutcome::Cancelled && IsDialog(failed.function);
        if (baseOutcome != RunOutcome::Updated && !promptFailed) {
          EXPECT_EQ(*e.outcome, baseOutcome) << where;
          EXPECT_EQ(dialogs, 1u) << where;
          EXPECT_TRUE(machine.registry().Changes().empty()) << where;
          EXPECT_TRUE(machine.Processes().empty()) << where;
          EXPECT_EQ(test::OtherFileChanges(machine), std::vector<std::string>{}) << where;
          break;
        }
        // Nobody cancelled, so the run reaches its end: a report exactly when the version changed.
        EXPECT_TRUE(*e.outcome == RunOutcome::Updated || *e.outcome == RunOutcome::VersionUnchanged)
            << where << ": outcome " << static_cast<int>(*e.outcome);
        EXPECT_EQ(dialogs, *e.outcome == RunOutcome::Updated ? 2u : 1u) << where;
        // The feature-control values (16) are written whatever failed before them; one may be
        // skipped when its key could not be opened.
        EXPECT_GE(CountFrom(calls, 0, "RegSetValueExA"), 15u) << where;
        if (promptFailed || (IsDialog(failed.function) && index < firstProcess)) {
          // A prompt that cannot be shown counts as confirmed: the installer is started.
          EXPECT_GT(CountFrom(calls, position, "CreateProcessW"), 0u) << where;
        }
        if (failed.function == "RegOpenKeyExA" && failed.detail.find("FeatureControl") != std::string::npos) {
          // The existence test failed, so the key is created.
          ASSERT_LT(position, calls.size()) << where;
          EXPECT_EQ(calls[position].function, "RegCreateKeyExA") << where;
          EXPECT_EQ(calls[position].detail.substr(0, calls[position].detail.find(" sam=")),
                    failed.detail.substr(0, failed.detail.find(" sam=")))
              << where;
        }
        if (failed.function == "RegCreateKeyExA") {
          // A value write whose key cannot be opened is skipped silently.
          ASSERT_LT(position, calls.size()) << where;
          EXPECT_NE(calls[position].function, "RegSetValueExA") << where;
        }
        break;
      }
    }
  }

  EXPECT_EQ(swept, recorded.size()) << "every recorded position is swept";
  Totals().sites.insert(sites.begin(), sites.end());
  Totals().runs += swept;
  std::printf("[ sweep    ] %s: %zu call positions, %zu call sites, %zu runs\n", v.name,
              recorded.size(), sites.size(), swept);
}

INSTANTIATE_TEST_SUITE_P(Machines, FaultSweep, ::testing::ValuesIn(kVariations),
                         [](const ::testing::TestParamInfo<Variation>& info) {
                           return std::string(info.param.name);
                         });

// The totals over every variation, printed once at the end.
class SweepReport : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Totals().runs == 0) return;
    std::printf("[ sweep    ] total: %zu distinct call sites, %zu runs with one failing call\n",
                Totals().sites.size(), Totals().runs);
  }
};
const auto* const kReport = ::testing::AddGlobalTestEnvironment(new SweepReport);

}  // namespace
}  // namespace qv::sweep
