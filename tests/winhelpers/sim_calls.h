// Small readers of the simulated machine's call log for the helpers' tests.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim_kernel.h"

namespace qv::test {

inline std::size_t CountCalls(const sim::SimKernel& kernel, const std::string& function) {
  const auto& calls = kernel.Calls();
  return static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [&](const auto& c) { return c.function == function; }));
}

// The names of the calls whose name contains `part`, in order.
inline std::vector<std::string> CallsMatching(const sim::SimKernel& kernel,
                                              const std::string& part) {
  std::vector<std::string> out;
  for (const auto& c : kernel.Calls())
    if (c.function.find(part) != std::string::npos) out.push_back(c.function);
  return out;
}

}  // namespace qv::test
