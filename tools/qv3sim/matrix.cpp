#include "matrix.h"

#include <chrono>
#include <cstdio>

#include "report.h"

namespace qv3sim {

using qv::sim::Answer;
using qv::sim::FileVersion;

std::vector<MatrixCase> MatrixCases() {
  struct Platform {
    const char* version;
    int windowsBits;
    int updaterBits;
  };
  // Windows 2000, XP, XP x64 and 7 in their word sizes; the 64-bit updater only where Windows
  // is 64-bit.
  const Platform platforms[] = {{"5.0", 32, 32}, {"5.1", 32, 32}, {"5.1", 64, 32},
                                {"5.1", 64, 64}, {"6.1", 32, 32}, {"6.1", 64, 32},
                                {"6.1", 64, 64}};
  std::vector<MatrixCase> cases;
  for (const Platform& p : platforms)
    for (bool english : {true, false})
      for (bool running : {true, false})
        for (bool shortcut : {true, false})
          for (Answer answer : {Answer::Confirm, Answer::Cancel})
            for (bool raised : {true, false}) {
              MatrixCase c;
              c.windowsVersion = p.version;
              c.windowsBits = p.windowsBits;
              c.updaterBits = p.updaterBits;
              c.english = english;
              c.running = running;
              c.shortcut = shortcut;
              c.answer = answer;
              c.raised = raised;
              cases.push_back(c);
            }
  // The other system code pages, on Windows 7 in both languages, for the whole update.
  for (unsigned codePage : {1250u, 1251u, 932u, 65001u})
    for (bool english : {true, false}) {
      MatrixCase c;
      c.windowsVersion = "6.1";
      c.windowsBits = 64;
      c.updaterBits = 32;
      c.english = english;
      c.codePage = codePage;
      cases.push_back(c);
    }
  return cases;
}

MachineDescription MachineFor(const MatrixCase& c) {
  MachineDescription m = DefaultMachine();
  m.description = CaseName(c);
  m.windowsVersion = c.windowsVersion;
  m.windowsBits = c.windowsBits;
  m.updaterBits = c.updaterBits;
  m.arguments = c.english ? "/en" : "";
  m.codePage = c.codePage;
  const bool vista = c.windowsVersion == "6.1";
  const std::string profile =
      vista ? "C:\\Users\\User\\Downloads\\" : "C:\\Documents and Settings\\User\\Desktop\\";
  const std::string programs =
      vista ? "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
            : "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
  const std::string folder = c.windowsBits == 64 ? "C:\\Program Files (x86)\\Quorvia 3\\"
                                                 : "C:\\Program Files\\Quorvia 3\\";
  m.updaterPath = profile + "QV3Update.exe";
  m.systemFolder = vista ? "C:\\Windows\\system32" : "C:\\WINDOWS\\system32";
  if (c.windowsVersion == "5.0") m.systemFolder = "C:\\WINNT\\system32";

  RegFileKey product;
  product.path = Utf8ToAnsi(ProductKeyPath(c.windowsBits));
  RegFileValue appPath;
  appPath.name = "AppPath";
  appPath.value.type = qv::win::REG_SZ;
  const std::string ansiFolder = Utf8ToAnsi(folder);
  appPath.value.data.assign(ansiFolder.begin(), ansiFolder.end());
  appPath.value.data.push_back(0);
  product.values.push_back(appPath);
  m.registry.keys = {product};

  const FileVersion installed{3, 10, 0, 68};
  m.files = {{m.updaterPath, FileVersion{3, 10, 0, 69}},
             {profile + "qvupdate.msp", std::nullopt}};
  for (const char* name :
       {"QVApp.exe", "QVGet.exe", "QVSaver.exe", "QVThumbs.exe", "QVSync.exe", "QVInit.exe"})
    m.files.push_back({folder + name, installed});
  m.files.push_back({m.systemFolder + "\\msiexec.exe", FileVersion{3, 1, 4000, 2435}});
  if (c.shortcut)
    m.files.push_back({programs + (c.english ? "\\Quorvia 3\\Synchronizing.lnk"
                                             : "\\Querlix 3\\Synchronisation zweier Sammlungen.lnk"),
                       std::nullopt});
  if (!c.running) m.windows.clear();
  m.specialFolders = {{qv::win::CSIDL_COMMON_PROGRAMS, FolderState::Path, programs}};
  m.answers = {c.answer};
  if (c.raised) {
    m.installer.effect = InstallerEffect::Raise;
    m.installer.version = FileVersion{3, 10, 0, 69};
  } else {
    m.installer.effect = InstallerEffect::Leave;
  }
  return m;
}

std::string CaseName(const MatrixCase& c) {
  return c.windowsVersion + "/" + std::to_string(c.windowsBits) + " u" +
         std::to_string(c.updaterBits) + (c.english ? " en" : " de") +
         (c.running ? " running" : " closed ") + (c.shortcut ? " shortcut" : " no-link ") +
         (c.answer == Answer::Confirm ? " confirm" : " cancel ") +
         (c.raised ? " raised" : " same  ") +
         (c.codePage != 1252 ? " cp" + std::to_string(c.codePage) : std::string());
}

namespace {

std::string ProgramName(const qv::sim::ProcessRecord& p) {
  std::string path = p.imagePath;
  if (path.empty() && p.commandLine) {
    path = *p.commandLine;
    const std::size_t exe = path.find(".exe");
    if (exe != std::string::npos) path.erase(exe + 4);
  }
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string MatrixLine(const MatrixCase& c, const RunResult& r) {
  std::string line = CaseName(c) + " | ";
  std::string outcome = OutcomeName(r) + " (" + std::to_string(r.exitStatus) + ")";
  outcome.resize(std::max<std::size_t>(outcome.size(), 24), ' ');
  line += outcome + " | dialogs:";
  const auto& dialogs = r.machine->Dialogs();
  if (dialogs.empty()) line += " -";
  for (std::size_t i = 0; i < dialogs.size(); ++i)
    line += std::string(i ? "," : " ") +
            (dialogs[i].kind == qv::sim::DialogRecord::Kind::TaskDialog ? "TD" : "MB");
  line += " | started:";
  const auto& processes = r.machine->Processes();
  if (processes.empty()) line += " -";
  for (std::size_t i = 0; i < processes.size(); ++i)
    line += std::string(i ? "," : " ") + ProgramName(processes[i]);
  line += " | values:";
  const auto views = CollectRegistryChanges(r.machine->registry());
  if (views.empty()) line += " -";
  for (const ViewChanges& v : views)
    line += " " + (v.view == "registry" ? std::string("all") : v.view.substr(0, 6)) + "=" +
            std::to_string(v.valuesWritten);
  if (r.error) line += " | error " + std::to_string(r.error->number);
  if (!r.failure.empty()) line += " | FAILURE " + r.failure;
  return line;
}

std::string MatrixLegend(std::size_t runs) {
  return "qv3sim --matrix: the default machine in " + std::to_string(runs) +
         " variations, one run each\n"
         "Legend (one line per run: the machine | how the run ends | what it did):\n"
         "  5.0/32 ... 6.1/64   Windows version and word size: 5.0 Windows 2000, 5.1 XP, 6.1 7\n"
         "  u32, u64            the updater's word size\n"
         "  en, de              the updater's language: en with \"/en\" in the arguments, de "
         "without it\n"
         "                      (Windows itself is English: ui_language en-US)\n"
         "  running, closed     the product runs (its communicator window is there) or not\n"
         "  shortcut, no-link   the Start-menu shortcut of the synchronisation tool is there or "
         "not\n"
         "  confirm, cancel     the user's answer to the close-programs prompt\n"
         "  raised, same        the installer raises the version of QVApp.exe, or leaves it the "
         "same\n"
         "  cpN                 a system code page other than 1252\n"
         "  outcome (N)         how the run ends and the exit status of QV3Update.exe\n"
         "  dialogs             in order: TD task dialog, MB message box\n"
         "  started             the programs started, in order\n"
         "  values              registry value writes per view: 64-bit, 32-bit, all (32-bit "
         "Windows' one view)\n"
         "  error N             the number of the error that ended the run\n\n";
}

MatrixSummary RunMatrix(std::ostream& out) {
  MatrixSummary summary;
  const auto cases = MatrixCases();
  out << MatrixLegend(cases.size());
  const auto start = std::chrono::steady_clock::now();
  for (const MatrixCase& c : cases) {
    const RunResult result = RunOnMachine(MachineFor(c));
    out << MatrixLine(c, result) << "\n";
    ++summary.runs;
    if (!result.error && !result.outcome) ++summary.failures;
  }
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char buf[160];
  std::snprintf(buf, sizeof buf, "%zu runs in %.3f s: %.0f runs per second\n", summary.runs,
                summary.seconds, summary.seconds > 0 ? summary.runs / summary.seconds : 0.0);
  out << buf;
  if (summary.failures) out << summary.failures << " runs ended by an unexpected exception\n";
  return summary;
}

}  // namespace qv3sim
