// qv3sim's machine description reader on arbitrary bytes. Any input either gives a machine or a
// DescriptionError naming the file, a line and what is wrong; nothing else may leave the reader.
// A machine it gives must survive its own JSON text unchanged, and running the update on it must
// end the way a run can end (outcome or qv::Error), releasing what it acquired.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "machine_desc.h"
#include "sim_run.h"

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& text) {
  std::fprintf(stderr, "description reader: %s\n--- input ---\n%s\n", what.c_str(), text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A description may name a registry file to read; the fuzzer must not wander the disk.
  if (text.find("registry_file") != std::string::npos) return 0;

  qv3sim::MachineDescription machine;
  try {
    machine = qv3sim::ReadDescription(text, "fuzz.json");
  } catch (const qv3sim::DescriptionError& e) {
    if (e.file() != "fuzz.json") Fail("the error names another file: " + e.file(), text);
    if (e.line() < 0 || e.column() < 0) Fail("negative line or column", text);
    if (e.message().empty()) Fail("an error without a message", text);
    return 0;
  }

  // Written out and read again, the machine is the same.
  const std::string json = qv3sim::DescriptionToJson(machine);
  try {
    if (qv3sim::ReadDescription(json, "again.json") != machine)
      Fail("the machine changed on its way through its own JSON text:\n" + json, text);
  } catch (const qv3sim::DescriptionError& e) {
    Fail("its own JSON text is refused at line " + std::to_string(e.line()) + ": " +
             e.message() + "\n" + json,
         text);
  }

  const qv3sim::RunResult result = qv3sim::RunOnMachine(machine);
  if (!result.failure.empty()) Fail("the run ended by a defect: " + result.failure, text);
  if (machine.faults.empty() && result.machine->kernel().OpenHandleCount() != 0)
    Fail("the run left a handle open", text);
  return 0;
}
