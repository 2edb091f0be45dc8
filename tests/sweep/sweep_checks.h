// Checks shared by the fault sweep and the hostile-input runs: a guarded run of Main, and the
// rules every run must keep whatever went wrong (nothing left open, nothing written outside the
// places an update writes, no program started but the installer and the product's own).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "registry/error.h"
#include "update/machine_fixture.h"
#include "update/run_helpers.h"

namespace qv::sweep {

// How one run of Main ended.
struct Ending {
  std::optional<RunOutcome> outcome;  // empty when an error left Main
  std::optional<Error> error;         // a qv::Error that left Main
  std::string crash;                  // any other exception: a defect
};

inline Ending RunGuarded(test::StandardMachine& m, const Text& arguments) {
  Ending e;
  try {
    e.outcome = m.Run(arguments);
  } catch (const Error& error) {
    e.error = error;
  } catch (const std::exception& other) {
    e.crash = std::string("exception: ") + other.what();
  } catch (...) {
    e.crash = "unknown exception";
  }
  return e;
}

inline std::string Fold(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

inline bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// A key and the value names an update may write in it, as physical paths (folded).
struct Place {
  std::string key;
  std::vector<std::string> values;
};

// Every place an update run may write on a machine of this word size, in the views where the
// updater's writes can land: the feature-control keys, the start-up entry and the add-in names
// only in the 32-bit view on 64-bit Windows; the machine-wide isolation values in either view
// (the 64-bit one normally, the default one when the WOW64 probe failed).
inline std::vector<Place> UpdatePlaces(int windowsBits) {
  const bool x64 = windowsBits == 64;
  const std::string hklm32 = x64 ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\"
                                 : "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  const std::string clsid32 =
      x64 ? "HKEY_CLASSES_ROOT\\WOW6432NODE\\CLSID\\" : "HKEY_CLASSES_ROOT\\CLSID\\";
  const std::string feature = hklm32 + "MICROSOFT\\INTERNET EXPLORER\\MAIN\\FEATURECONTROL\\";
  const std::vector<std::string> four = {"QVAPP.EXE", "QVGET.EXE", "QVSAVER.EXE", "QVTHUMBS.EXE"};
  std::vector<Place> places = {
      {feature + "FEATURE_BROWSER_EMULATION", four},
      {feature + "FEATURE_GPU_RENDERING", four},
      {feature + "FEATURE_DISABLE_NAVIGATION_SOUNDS", four},
      {feature + "FEATURE_USE_LEGACY_JSCRIPT", {"QVAPP.EXE"}},
      {feature + "FEATURE_MAXCONNECTIONSPERSERVER", {"QVAPP.EXE", "QVGET.EXE", "QVSAVER.EXE"}},
      {hklm32 + "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", {"QUORVIASTARTUPINIT"}},
      {hklm32 + "MICROSOFT\\INTERNET EXPLORER\\MAIN", {"ISOLATION", "ISOLATION64BIT"}},
      {"HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\INTERNET EXPLORER\\MAIN",
       {"ISOLATION", "ISOLATION64BIT"}},
  };
  if (x64)
    places.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\INTERNET EXPLORER\\MAIN",
                      {"ISOLATION", "ISOLATION64BIT"}});
  for (const char* id : {"{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}",
                         "{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}",
                         "{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}",
                         "{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}"})
    places.push_back({clsid32 + id, {""}});
  return places;
}

// Empty when the change is one an update may make, else why it may not.
inline std::string CheckRegistryChange(const sim::RegChange& change, int windowsBits) {
  const std::string key = Fold(change.keyPath);
  const std::vector<Place> places = UpdatePlaces(windowsBits);
  switch (change.kind) {
    case sim::RegChange::Kind::KeyCreated:
      // A place's key or one of the keys on its path.
      for (const Place& p : places)
        if (p.key == key || StartsWith(p.key, key + "\\")) return {};
      return "key created outside the update's places: " + change.keyPath;
    case sim::RegChange::Kind::ValueSet:
      for (const Place& p : places)
        if (p.key == key &&
            std::find(p.values.begin(), p.values.end(), Fold(change.valueName)) != p.values.end())
          return {};
      return "value set outside the update's places: " + change.keyPath + " : " +
             change.valueName;
    case sim::RegChange::Kind::KeyDeleted:
      return "key deleted: " + change.keyPath;
    case sim::RegChange::Kind::ValueDeleted:
      return "value deleted: " + change.keyPath + " : " + change.valueName;
  }
  return "unknown change";
}

inline void ExpectOnlyUpdatePlacesWritten(sim::SimMachine& machine, const std::string& where) {
  for (const sim::RegChange& c : machine.registry().Changes()) {
    const std::string problem = CheckRegistryChange(c, machine.config().windowsBits);
    EXPECT_TRUE(problem.empty()) << where << ": " << problem;
  }
}

// The file changes a run may make: the shortcut of the run's language and its temporary twin,
// and its protected folder in the Windows folder's Temp with the package's copy.
inline void ExpectOnlyShortcutFilesTouched(sim::SimMachine& machine, const std::string& shortcut,
                                           const std::string& where) {
  const std::string temp = shortcut + ".new";
  const std::vector<std::string> allowed = {
      "deleted " + temp, "created " + temp, "replaced " + temp,
      "moved " + temp + " -> " + shortcut};
  const std::string folder = test::ProtectedFolderOf(machine);
  const std::string copy = folder + "\\qvupdate.msp";
  const std::vector<std::string> protectedFolder = {
      "copied " + machine.config().exePath.substr(0, machine.config().exePath.rfind('\\') + 1) +
          "qvupdate.msp -> " + copy,
      "deleted " + copy, "removed folder " + folder,
      "marked " + copy + " for removal at the next restart",
      "marked " + folder + " for removal at the next restart"};
  for (const std::string& entry : machine.FileLog()) {
    if (!folder.empty() && StartsWith(entry, "created folder " + folder + " D:PAI(")) continue;
    if (!folder.empty() &&
        std::find(protectedFolder.begin(), protectedFolder.end(), entry) != protectedFolder.end())
      continue;
    EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), entry) != allowed.end())
        << where << ": file change outside the shortcut: " << entry;
  }
}

// The protected folder, when the run made one, is gone again: no way out of the run leaves it,
// except a failed call of the clean-up itself (which leaves a folder no user can change).
inline void ExpectProtectedFolderGone(sim::SimMachine& machine, const std::string& where) {
  const std::string folder = test::ProtectedFolderOf(machine);
  if (folder.empty() || !machine.FolderExists(folder)) return;
  const auto& pending = machine.PendingRemovals();
  EXPECT_FALSE(pending.empty() || Fold(pending.back()) != Fold(folder))
      << where << ": " << folder << " was left behind without being marked for removal";
}

// Only the installer in the system folder and QVInit.exe in the install folder may run.
inline void ExpectOnlyOwnProgramsStarted(sim::SimMachine& machine, const std::string& installFolder,
                                         const std::string& where) {
  const std::string msiexec = Fold(machine.ReachedPath(test::kMsiexecPath));
  const std::string qvInit = Fold(installFolder + "QVInit.exe");
  std::size_t installers = 0, initialisers = 0;
  for (const sim::ProcessRecord& p : machine.Processes()) {
    if (!p.started) continue;
    const std::string image = Fold(p.imagePath);
    if (image == msiexec) {
      ++installers;
    } else if (!installFolder.empty() && image == qvInit) {
      ++initialisers;
    } else {
      ADD_FAILURE() << where << ": started " << p.imagePath << " from command line "
                    << p.commandLine.value_or("(none)");
    }
  }
  EXPECT_LE(installers, 1u) << where;
  EXPECT_LE(initialisers, 1u) << where;
}

// Handles, windows, attached input and the COM apartment as the run found them.
inline std::string OpenThings(sim::SimMachine& machine) {
  std::string s;
  for (const auto& h : machine.kernel().OpenHandles())
    s += std::string(sim::HandleKindName(h.second.kind)) + " " + std::to_string(h.first) + " " +
         h.second.description + "; ";
  return s;
}

inline void ExpectEverythingReleased(sim::SimMachine& machine, const std::string& where) {
  EXPECT_EQ(machine.kernel().OpenHandleCount(), 0u) << where << ": " << OpenThings(machine);
  EXPECT_EQ(machine.OwnWindowCount(), 0u) << where;
  EXPECT_EQ(machine.AttachedInputCount(), 0u) << where;
  EXPECT_FALSE(machine.ComInitialized()) << where;
}

}  // namespace qv::sweep
