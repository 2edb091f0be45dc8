// The simulated machine of the contract suite: a 64-bit program on 64-bit Windows, as the
// x86_64 build is under wine64.
#include "backend.h"

#include "platform/sim/sim_registry.h"

namespace qv::contract {

namespace {
sim::SimKernel& Kernel() {
  static sim::SimKernel kernel;
  return kernel;
}
long OpenKeys() {
  return static_cast<long>(Kernel().OpenHandleCount(sim::HandleKind::RegistryKey));
}
}  // namespace

Backend& GetBackend() {
  static sim::SimRegistry registry(Kernel(), 64, 64);
  static sim::SimCodePage codePage;
  static Backend backend{codePage, registry, 64, "simulation", &OpenKeys};
  return backend;
}

}  // namespace qv::contract
