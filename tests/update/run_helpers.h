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
}

}  // namespace qv::test
