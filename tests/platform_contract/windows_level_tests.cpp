// The Windows level as the updater computes it from the version Windows reports. The suite runs
// once per Windows version: natively the simulated machine reports the version named by
// QV_CONTRACT_WINDOWS; under wine64 the prefix is switched to that version for the test program
// (HKCU\Software\Wine\AppDefaults\<program>\Version, set by scripts/wine-run.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "backend.h"
#include "winhelpers/winhelpers.h"

namespace qv::contract {
namespace {

struct Expected {
  win::DWORD major, minor;
  std::int32_t level;
};

Expected ExpectedFromEnvironment() {
  const char* v = std::getenv("QV_CONTRACT_WINDOWS");
  const std::string version = v && *v ? v : "6.1";
  if (version == "5.0") return {5, 0, 0};
  if (version == "5.1") return {5, 1, 1};
  return {6, 1, 2};
}

TEST(WindowsLevel, FollowsTheVersionWindowsReports) {
  const Expected expected = ExpectedFromEnvironment();
  std::unique_ptr<Backend> backend = MakeBackend();
  win::Platform p = backend->platform();

  win::OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_EQ(p.system.GetVersionExA(&info), win::TRUE);
  EXPECT_EQ(info.dwMajorVersion, expected.major);
  EXPECT_EQ(info.dwMinorVersion, expected.minor);

  WindowsLevel cache;
  EXPECT_EQ(GetWindowsLevel(p.system, cache), expected.level);
  // A second call gives the same answer (from the cache at levels 1 and 2).
  EXPECT_EQ(GetWindowsLevel(p.system, cache), expected.level);
  EXPECT_EQ(cache.iWindowsLevel, expected.level);
}

}  // namespace
}  // namespace qv::contract
