// Readers of a finished run on the simulated machine, for the update driver's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "update/machine_fixture.h"

namespace qv::test {

constexpr char16_t kCrLf[] = u"\r\n";

inline std::size_t CountCalls(const sim::SimKernel& kernel, const std::string& function) {
  const auto& calls = kernel.Calls();
  return static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [&](const auto& c) { return c.function == function; }));
}

inline std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The values the run set, by "<key path>|<value name>" in lower case, last write wins.
inline std::map<std::string, sim::RegValue> WrittenValues(sim::SimMachine& machine) {
  std::map<std::string, sim::RegValue> out;
  for (const sim::RegChange& c : machine.registry().Changes())
    if (c.kind == sim::RegChange::Kind::ValueSet && c.after)
      out[Lower(c.keyPath) + "|" + Lower(c.valueName)] = *c.after;
  return out;
}

// The folder only administrators can change that the run made for its copy of the package (from
// its "created folder" entry); empty when it made none.
inline std::string ProtectedFolderOf(const sim::SimMachine& machine) {
  const std::string prefix = "created folder ";
  for (const std::string& entry : machine.FileLog())
    if (entry.compare(0, prefix.size(), prefix) == 0 &&
        entry.find("\\Temp\\QV3Update-") != std::string::npos)
      return entry.substr(prefix.size(), entry.find(" D:", prefix.size()) - prefix.size());
  return {};
}

inline std::string InstallerCommandLine(const std::string& package) {
  return "msiexec.exe /qb /p \"" + package + "\"";
}

// The run's file changes apart from its protected folder's.
inline std::vector<std::string> OtherFileChanges(const sim::SimMachine& machine) {
  const std::string folder = ProtectedFolderOf(machine);
  std::vector<std::string> out;
  for (const std::string& entry : machine.FileLog())
    if (folder.empty() || entry.find(folder) == std::string::npos) out.push_back(entry);
  return out;
}

// The copy of `package` came and went: a new folder with a random name in the Windows folder's
// Temp, made with the DACL that lets only Administrators and SYSTEM in, the package copied into
// it, and both removed again.
inline void ExpectProtectedCopyCameAndWent(const sim::SimMachine& machine,
                                           const std::string& package) {
  const std::string folder = ProtectedFolderOf(machine);
  ASSERT_FALSE(folder.empty()) << "no protected folder was made";
  const std::string name = folder.substr(folder.rfind('\\') + 1);
  EXPECT_EQ(name.size(), 26u) << folder;
  EXPECT_EQ(name.compare(0, 10, "QV3Update-"), 0) << folder;
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 10), std::string::npos) << folder;
  const std::string copy = folder + "\\qvupdate.msp";
  std::vector<std::string> entries;
  for (const std::string& entry : machine.FileLog())
    if (entry.find(folder) != std::string::npos) entries.push_back(entry);
  EXPECT_EQ(entries,
            (std::vector<std::string>{
                "created folder " + folder +
                    " D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)",
                "copied " + package + " -> " + copy, "deleted " + copy, "removed folder " + folder}));
  EXPECT_FALSE(machine.FolderExists(folder));
}

// Every handle the run opened is closed, and no window of the program is left.
inline void ExpectEverythingReleased(sim::SimMachine& machine) {
  EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u) << [&] {
    std::string s;
    for (const auto& h : machine.kernel().OpenHandles())
      s += std::string(sim::HandleKindName(h.second.kind)) + " " + h.second.description + "\n";
    return s;
  }();
  EXPECT_EQ(machine.OwnWindowCount(), 0u);
  EXPECT_EQ(machine.AttachedInputCount(), 0u);
  EXPECT_EQ(machine.PendingRemovals(), std::vector<std::string>{});
}

}  // namespace qv::test
