// The contract suite on the simulated machine, set up like the 64-bit test program under
// wine64: 64-bit Windows 7, a 64-bit process, the test program and its child in one folder.
// QV_CONTRACT_BITS "WINDOWS/PROGRAM" names other word sizes: "64/32" (the 32-bit release under
// WOW64), "32/32" (on 32-bit Windows).
#include "backend.h"

#include <cstdlib>
#include <string>

#include "platform/sim/sim_machine.h"

namespace qv::contract {
namespace {

constexpr char kFolder[] = "C:\\contract";
const sim::FileVersion kChildVersion{3, 10, 0, 68};

// The child program's work: its own path into the file named by the command line's last word.
void ChildRuns(sim::SimMachine& machine, const sim::ProcessRecord& r) {
  const std::string line = r.commandLine ? *r.commandLine : r.applicationName.value_or("");
  const std::size_t start = line.find_last_of(" \t");
  const std::string marker = start == std::string::npos ? line : line.substr(start + 1);
  sim::SimFile out;
  out.content = r.imagePath;
  machine.AddFile(marker, out);
}

class SimBackend final : public Backend {
 public:
  SimBackend() : machine_(Config()) {
    machine_.AddFolder("C:\\Windows\\system32");
    machine_.AddFolder("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    machine_.AddExecutable(std::string(kFolder) + "\\platform_contract_tests.exe", std::nullopt);
    CopyChildProgram(ChildProgram());
  }
  win::Platform platform() override { return machine_.platform(); }
  bool simulated() const override { return true; }
  bool IsWine() const override { return false; }
  int windowsBits() const override { return windowsBits_; }
  int processBits() const override { return processBits_; }
  win::DWORD LastError() override { return machine_.LastError(); }
  std::string Scratch() override {
    const std::string path = "C:\\users\\tester\\Temp\\qvpc" + std::to_string(++scratchCount_);
    machine_.AddFolder(path);
    return path;
  }
  void MakeFolder(const std::string& path) override { machine_.AddFolder(path); }
  void MakeFile(const std::string& path, win::DWORD attributes, const std::string& content) override {
    sim::SimFile f;
    f.attributes = attributes;
    f.content = content;
    machine_.AddFile(path, f);
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    const sim::SimFile* f = machine_.FindFile(path);
    if (!f) return std::nullopt;
    return f->content;
  }
  std::string ChildProgram() override { return std::string(kFolder) + "\\contract_child.exe"; }
  void CopyChildProgram(const std::string& path) override {
    machine_.AddExecutable(path, kChildVersion);
    machine_.OnProcessStart(path, ChildRuns);
  }
  std::string FolderSecurity(const std::string& path) override {
    return machine_.FolderSecurity(path);
  }

 private:
  static sim::MachineConfig Config() {
    sim::MachineConfig c;
    // The version the machine reports: Windows 7 unless the run asks for another one.
    const char* version = std::getenv("QV_CONTRACT_WINDOWS");
    const std::string v = version ? version : "";
    c.major = v == "5.0" || v == "5.1" ? 5 : 6;
    c.minor = v == "5.0" ? 0 : 1;
    const char* bits = std::getenv("QV_CONTRACT_BITS");
    const std::string b = bits ? bits : "";
    c.windowsBits = b == "32/32" ? 32 : 64;
    c.processBits = b == "32/32" || b == "64/32" ? 32 : 64;
    c.exePath = std::string(kFolder) + "\\platform_contract_tests.exe";
    c.standardFiles = false;
    return c;
  }
  sim::SimMachine machine_;
  const int windowsBits_ = Config().windowsBits;
  const int processBits_ = Config().processBits;
  int scratchCount_ = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<SimBackend>(); }

}  // namespace qv::contract
