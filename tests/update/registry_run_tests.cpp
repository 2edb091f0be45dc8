// What a whole run writes to the registry, view by view, and how refused or denied writes end or
// skip steps.
#include <gtest/gtest.h>

#include "registry/error.h"
#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr std::int32_t kErrSetValue = -2147194455;

int LevelOf(const WindowsKind& w) {
  if (w.major >= 6) return 2;
  return w.major == 5 && w.minor != 0 ? 1 : 0;
}

// Physical key prefixes as the machine shows them.
std::string Hklm32(const WindowsKind& w) {
  return w.windowsBits == 64 ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\"
                             : "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
}
const std::string kHklm64 = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
const std::string kHkcu = "HKEY_CURRENT_USER\\Software\\";
std::string Clsid32(const WindowsKind& w) {
  return w.windowsBits == 64 ? "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\"
                             : "HKEY_CLASSES_ROOT\\CLSID\\";
}
std::string FeatureKey(const WindowsKind& w, const char* feature) {
  return Hklm32(w) + "Microsoft\\Internet Explorer\\Main\\FeatureControl\\" + feature;
}

using Values = std::map<std::string, sim::RegValue>;

void Put(Values& v, const std::string& key, const std::string& name, sim::RegValue value) {
  v[Lower(key) + "|" + Lower(name)] = std::move(value);
}

// Every value a run on this Windows writes, and nothing else.
Values ExpectedValues(const WindowsKind& w, bool english, const std::string& installFolder) {
  Values v;
  const int level = LevelOf(w);
  const bool x64 = w.windowsBits == 64 && level == 2;  // 64-bit Windows is recognised at level 2
  for (const char* p : {"QVApp.exe", "QVGet.exe", "QVSaver.exe", "QVThumbs.exe"}) {
    Put(v, FeatureKey(w, "FEATURE_BROWSER_EMULATION"), p, RegDword(level == 1 ? 8000 : 11000));
    Put(v, FeatureKey(w, "FEATURE_GPU_RENDERING"), p, RegDword(1));
    Put(v, FeatureKey(w, "FEATURE_DISABLE_NAVIGATION_SOUNDS"), p, RegDword(1));
  }
  Put(v, FeatureKey(w, "FEATURE_USE_LEGACY_JSCRIPT"), "QVApp.exe", RegDword(1));
  for (const char* p : {"QVApp.exe", "QVGet.exe", "QVSaver.exe"})
    Put(v, FeatureKey(w, "FEATURE_MAXCONNECTIONSPERSERVER"), p, RegDword(6));
  if (level == 2) {
    Put(v, Hklm32(w) + "Microsoft\\Windows\\CurrentVersion\\Run", "QuorviaStartupInit",
        RegSz("\"" + installFolder + "QVGet.exe\" /StartupCheck"));
    const std::string machineMain =
        (x64 ? kHklm64 : Hklm32(w)) + "Microsoft\\Internet Explorer\\Main";
    Put(v, machineMain, "Isolation", RegSz("PMIL"));
    if (x64) Put(v, machineMain, "Isolation64Bit", RegDword(0));
    Put(v, kHkcu + "Microsoft\\Internet Explorer\\Main", "Isolation", RegSz("PMIL"));
    if (x64) Put(v, kHkcu + "Microsoft\\Internet Explorer\\Main", "Isolation64Bit", RegDword(0));
  }
  const std::pair<const char*, std::pair<const char*, const char*>> addIns[] = {
      {"{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}", {"Quorvia Toolbar", "Querlix-Symbolleiste"}},
      {"{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}",
       {"Quorvia Editing Bar", "Querlix-Bearbeitungsleiste"}},
      {"{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}",
       {"Quorvia Explorer Bar", "Querlix-Explorer-Leiste"}},
      {"{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}",
       {"Quorvia Browser Helper Object", "Querlix-Browserhilfsobjekt"}},
  };
  for (const auto& a : addIns)
    Put(v, Clsid32(w) + a.first, "", RegSz(english ? a.second.first : a.second.second));
  return v;
}

// Values by the view they landed in.
struct ViewCounts {
  std::size_t hklm32 = 0, hklm64 = 0, hkcu = 0, hkcr = 0;
};

ViewCounts CountByView(const Values& values, const WindowsKind& w) {
  ViewCounts c;
  const std::string wow = "hkey_local_machine\\software\\wow6432node\\";
  for (const auto& [key, value] : values) {
    if (key.rfind("hkey_classes_root\\", 0) == 0)
      ++c.hkcr;
    else if (key.rfind("hkey_current_user\\", 0) == 0)
      ++c.hkcu;
    else if (w.windowsBits == 64 && key.rfind(wow, 0) != 0)
      ++c.hklm64;
    else
      ++c.hklm32;
  }
  return c;
}

struct EndToEndCase {
  const char* name;
  WindowsKind windows;
  bool english;
  int processBits;
  ViewCounts counts;
};

class EndToEndRegistryTest : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(EndToEndRegistryTest, WritesExactlyTheseValues) {
  const EndToEndCase& c = GetParam();
  MachineOptions options;
  options.windows = c.windows;
  options.processBits = c.processBits;
  StandardMachine m(options);
  EXPECT_EQ(m.Run(c.english ? u"/en" : u""), RunOutcome::Updated);

  const Values written = WrittenValues(m.machine());
  EXPECT_EQ(written, ExpectedValues(c.windows, c.english, m.installFolder()));
  const ViewCounts counts = CountByView(written, c.windows);
  EXPECT_EQ(counts.hklm32, c.counts.hklm32);
  EXPECT_EQ(counts.hklm64, c.counts.hklm64);
  EXPECT_EQ(counts.hkcu, c.counts.hkcu);
  EXPECT_EQ(counts.hkcr, c.counts.hkcr);
  // Nothing was deleted.
  for (const sim::RegChange& change : m->registry().Changes()) {
    EXPECT_NE(change.kind, sim::RegChange::Kind::KeyDeleted) << change.keyPath;
    EXPECT_NE(change.kind, sim::RegChange::Kind::ValueDeleted) << change.keyPath;
  }
  // The stored values read back through the machine as well.
  for (const auto& [key, value] : written) {
    const std::size_t bar = key.find('|');
    EXPECT_EQ(m->registry().GetValue(key.substr(0, bar), key.substr(bar + 1)), value) << key;
  }
  // The 32-bit view's Main key gets no isolation values on 64-bit Windows.
  if (c.windows.windowsBits == 64) {
    const std::string main32 = Hklm32(c.windows) + "Microsoft\\Internet Explorer\\Main";
    EXPECT_FALSE(m->registry().GetValue(main32, "Isolation").has_value());
    EXPECT_FALSE(m->registry().GetValue(main32, "Isolation64Bit").has_value());
  }
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Situations, EndToEndRegistryTest,
    ::testing::Values(EndToEndCase{"Win2000_En", kWindows2000, true, 32, {16, 0, 0, 4}},
                      EndToEndCase{"Win2000_De", kWindows2000, false, 32, {16, 0, 0, 4}},
                      EndToEndCase{"XP_En", kWindowsXp, true, 32, {16, 0, 0, 4}},
                      EndToEndCase{"XP_De", kWindowsXp, false, 32, {16, 0, 0, 4}},
                      EndToEndCase{"Win7x86_En", kWindows7x86, true, 32, {18, 0, 1, 4}},
                      EndToEndCase{"Win7x86_De", kWindows7x86, false, 32, {18, 0, 1, 4}},
                      EndToEndCase{"Win7x64_En", kWindows7x64, true, 32, {17, 2, 2, 4}},
                      EndToEndCase{"Win7x64_De", kWindows7x64, false, 32, {17, 2, 2, 4}},
                      EndToEndCase{"Win7x64_En_64BitBuild", kWindows7x64, true, 64, {17, 2, 2, 4}},
                      EndToEndCase{
                          "Win7x64_De_64BitBuild", kWindows7x64, false, 64, {17, 2, 2, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEndRegistry, The64BitBuildLeavesTheSameRegistryAsThe32BitProgram) {
  for (bool english : {true, false}) {
    MachineOptions options;
    StandardMachine m32(options);
    options.processBits = 64;
    StandardMachine m64(options);
    EXPECT_EQ(m32.Run(english ? u"/en" : u""), RunOutcome::Updated);
    EXPECT_EQ(m64.Run(english ? u"/en" : u""), RunOutcome::Updated);
    const auto d32 = m32->registry().Dump();
    const auto d64 = m64->registry().Dump();
    ASSERT_EQ(d32.size(), d64.size());
    for (std::size_t i = 0; i < d32.size(); ++i) {
      EXPECT_EQ(d32[i].path, d64[i].path);
      EXPECT_EQ(d32[i].values, d64[i].values) << d32[i].path;
    }
  }
}

// --- existing values -------------------------------------------------------------------------

TEST(ExistingValues, OverwrittenWhileOtherValuesAndKeysStay) {
  StandardMachine m;
  const WindowsKind& w = kWindows7x64;
  const std::string emulation = FeatureKey(w, "FEATURE_BROWSER_EMULATION");
  const std::string toolbar = Clsid32(w) + "{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}";
  m->registry().CreateKey(emulation);
  m->registry().SetValue(emulation, "QVApp.exe", RegDword(7000));
  m->registry().SetValue(emulation, "Other.exe", RegDword(9));
  m->registry().CreateKey(toolbar + "\\InprocServer32");
  m->registry().SetValue(toolbar, "", RegSz("Quorvia Toolbar"));
  m->registry().SetValue(toolbar + "\\InprocServer32", "", RegSz("C:\\QV\\toolbar.dll"));
  m->registry().ClearChanges();

  EXPECT_EQ(m.Run(u""), RunOutcome::Updated);
  EXPECT_EQ(m->registry().GetValue(emulation, "QVApp.exe"), RegDword(11000));
  EXPECT_EQ(m->registry().GetValue(emulation, "Other.exe"), RegDword(9));
  EXPECT_EQ(m->registry().GetValue(toolbar, ""), RegSz("Querlix-Symbolleiste"));
  EXPECT_EQ(m->registry().GetValue(toolbar + "\\InprocServer32", ""), RegSz("C:\\QV\\toolbar.dll"));
  for (const sim::RegChange& change : m->registry().Changes()) {
    if (change.kind == sim::RegChange::Kind::KeyCreated) {
      EXPECT_NE(Lower(change.keyPath), Lower(emulation)) << "an existing key was created again";
    }
    if (change.kind == sim::RegChange::Kind::ValueSet &&
        Lower(change.keyPath) == Lower(emulation) && change.valueName == "QVApp.exe") {
      ASSERT_TRUE(change.before.has_value());
      EXPECT_EQ(*change.before, RegDword(7000));
    }
  }
  ExpectEverythingReleased(m.machine());
}

// --- refused and denied writes ---------------------------------------------------------------

struct RefusedCase {
  const char* name;
  std::string key;            // physical path whose value writes the system refuses
  std::size_t writtenBefore;  // values stored before the refused one
};

class RefusedWriteTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedWriteTest, EndsTheRunAtThatStep) {
  const RefusedCase& c = GetParam();
  StandardMachine m;
  const auto filesBefore = m->FilePaths();
  m->registry().CreateKey(c.key);
  m->registry().RefuseValueWrites(c.key);
  m->registry().ClearChanges();
  try {
    m.Run(u"/en");
    ADD_FAILURE() << "the refused write did not end the run";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrSetValue);
    EXPECT_EQ(e.source(), u"QV3Update.cRegistry");
  }
  EXPECT_EQ(WrittenValues(m.machine()).size(), c.writtenBefore);
  // Nothing after the failing step: no exclusions, no shortcut, no report.
  EXPECT_TRUE(m->WerExclusions().empty());
  EXPECT_EQ(OtherFileChanges(m.machine()), std::vector<std::string>{});
  // The error leaves the run after the installer: the package's copy is gone all the same.
  ExpectProtectedCopyCameAndWent(m.machine(), std::string(kUpdaterFolder) + "qvupdate.msp");
  EXPECT_EQ(m->FilePaths(), filesBefore);
  EXPECT_EQ(m->Dialogs().size(), 1u);  // the prompt only
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RefusedWriteTest,
    ::testing::Values(
        RefusedCase{"BrowserEmulation", FeatureKey(kWindows7x64, "FEATURE_BROWSER_EMULATION"), 0},
        RefusedCase{"GpuRendering", FeatureKey(kWindows7x64, "FEATURE_GPU_RENDERING"), 4},
        RefusedCase{"MaxConnections", FeatureKey(kWindows7x64, "FEATURE_MAXCONNECTIONSPERSERVER"),
                    13},
        RefusedCase{"StartupEntry",
                    Hklm32(kWindows7x64) + "Microsoft\\Windows\\CurrentVersion\\Run", 16},
        RefusedCase{"MachineIsolation64", kHklm64 + "Microsoft\\Internet Explorer\\Main", 17},
        RefusedCase{"UserIsolation", kHkcu + "Microsoft\\Internet Explorer\\Main", 19},
        RefusedCase{"FirstAddIn", Clsid32(kWindows7x64) + "{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}",
                    21},
        RefusedCase{"ThirdAddIn", Clsid32(kWindows7x64) + "{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}",
                    23}),
    [](const auto& info) { return std::string(info.param.name); });

struct DeniedCase {
  const char* name;
  std::string key;      // physical path of a key that exists but refuses writes
  std::size_t missing;  // values that are therefore not written
};

class DeniedKeyTest : public ::testing::TestWithParam<DeniedCase> {};

TEST_P(DeniedKeyTest, SkippedSilently) {
  const DeniedCase& c = GetParam();
  StandardMachine m;
  m->registry().CreateKey(c.key);
  m->registry().DenyAccess(c.key, false, true);
  m->registry().ClearChanges();
  EXPECT_EQ(m.Run(u"/en"), RunOutcome::Updated);
  EXPECT_EQ(WrittenValues(m.machine()).size(), 25u - c.missing);
  for (const auto& [key, value] : WrittenValues(m.machine()))
    EXPECT_NE(key.substr(0, key.find('|')), Lower(c.key));
  EXPECT_EQ(m->WerExclusions().size(), 5u);
  EXPECT_EQ(m->Dialogs().size(), 2u);
  ExpectEverythingReleased(m.machine());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DeniedKeyTest,
    ::testing::Values(
        DeniedCase{"GpuRendering", FeatureKey(kWindows7x64, "FEATURE_GPU_RENDERING"), 4},
        DeniedCase{"LegacyJscript", FeatureKey(kWindows7x64, "FEATURE_USE_LEGACY_JSCRIPT"), 1},
        DeniedCase{"StartupEntry", Hklm32(kWindows7x64) + "Microsoft\\Windows\\CurrentVersion\\Run",
                   1},
        DeniedCase{"MachineIsolation64", kHklm64 + "Microsoft\\Internet Explorer\\Main", 2},
        DeniedCase{"SecondAddIn", Clsid32(kWindows7x64) + "{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}",
                   1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
