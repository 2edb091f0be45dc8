// The simulated machine of the contract suite: a 64-bit program on 64-bit Windows, as the
// x86_64 build is under wine64, or the machine QV_CONTRACT_BITS names as "WINDOWS/PROGRAM"
// word sizes: "64/32" (the 32-bit release under WOW64), "32/32" (on 32-bit Windows).
#include "backend.h"

#include "platform/sim/sim_registry.h"

#include <cstdlib>
#include <string>

namespace qv::contract {

namespace {
sim::SimKernel& Kernel() {
  static sim::SimKernel kernel;
  return kernel;
}
struct Bits {
  int windows = 64;
  int process = 64;
};
Bits MachineBits() {
  const char* named = std::getenv("QV_CONTRACT_BITS");
  const std::string v = named ? named : "";
  if (v == "64/32") return {64, 32};
  if (v == "32/32") return {32, 32};
  return {};
}
long OpenKeys() {
  return static_cast<long>(Kernel().OpenHandleCount(sim::HandleKind::RegistryKey));
}
}  // namespace

Backend& GetBackend() {
  static const Bits bits = MachineBits();
  static sim::SimRegistry registry(Kernel(), bits.windows, bits.process);
  static sim::SimCodePage codePage;
  static Backend backend{codePage, registry, bits.process, bits.windows, "simulation", &OpenKeys};
  return backend;
}

}  // namespace qv::contract
