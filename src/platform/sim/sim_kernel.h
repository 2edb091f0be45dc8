// The shared core of the simulated Windows machine: the handle table, the log of every seam call
// and the failures a test asks for. Every simulated area (registry, processes, windows, ...)
// goes through one SimKernel, so a test can count the calls of a whole run, make any one of them
// fail, and assert that no handle is left open at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv::sim {

// Kinds of handles the simulation hands out.
enum class HandleKind {
  RegistryKey,
  Process,
  Thread,
  Window,
  Icon,
  ComObject,
  Module,
  LocalMemory,    // LocalFree frees it (a security descriptor)
  CryptProvider,  // CryptReleaseContext
  File,           // CreateFileW, closed with CloseHandle
  EventSource,    // RegisterEventSourceW, closed with DeregisterEventSource
};

const char* HandleKindName(HandleKind kind);

struct HandleEntry {
  HandleKind kind;
  std::string description;  // e.g. the key path, the process image, the window class
  bool closable = true;     // false for handles the program must not close (its own module)
};

// One seam call as it was made.
struct CallRecord {
  std::string function;  // the Windows function name, e.g. "RegOpenKeyExA"
  std::string detail;    // a short text of its main arguments, for reports and sweeps
  bool failedByPlan = false;
};

// A planned failure: the nth call (counting from 1) of `function`, or of any function when
// `function` is empty, fails the way Windows fails that function.
struct FaultRule {
  std::string function;     // empty: any function
  std::uint64_t nth = 1;    // 1-based among the matching calls; 0 = every matching call
  std::int64_t code = 0;    // the error result to give (0: the function's usual failure code)
};

class SimKernel {
 public:
  // --- handles ---------------------------------------------------------------------------
  // A new nonzero handle value, registered as open. Values are multiples of 4, like Windows'.
  std::uintptr_t OpenHandle(HandleKind kind, std::string description, bool closable = true);
  // True when `value` is open and of `kind`.
  bool IsOpen(std::uintptr_t value, HandleKind kind) const;
  const HandleEntry* Find(std::uintptr_t value) const;
  // Closes `value` if it is open and of `kind`; false otherwise.
  bool Close(std::uintptr_t value, HandleKind kind);
  // Open handles of the kinds the program must release (closable ones).
  std::vector<std::pair<std::uintptr_t, HandleEntry>> OpenHandles() const;
  std::size_t OpenHandleCount() const { return OpenHandles().size(); }
  std::size_t OpenHandleCount(HandleKind kind) const;

  // --- calls and failures ----------------------------------------------------------------
  // Called at the start of every simulated seam function. Records the call and returns the
  // failure code to give when a rule says this call fails.
  std::optional<std::int64_t> Enter(const char* function, std::string detail = {});
  void AddFault(FaultRule rule) { faults_.push_back(std::move(rule)); }
  void ClearFaults() { faults_.clear(); }
  const std::vector<CallRecord>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  std::uint64_t CallCount() const { return calls_.size(); }
  // Fail the call with this 1-based position in the whole run (for sweeps); 0 = none.
  void FailCallNumber(std::uint64_t n, std::int64_t code = 0) { failCallNumber_ = n; failCode_ = code; }

 private:
  std::uintptr_t next_ = 0x100;
  std::map<std::uintptr_t, HandleEntry> handles_;
  std::vector<CallRecord> calls_;
  std::vector<FaultRule> faults_;
  std::map<std::string, std::uint64_t> perFunctionCount_;
  std::uint64_t failCallNumber_ = 0;
  std::int64_t failCode_ = 0;
};

}  // namespace qv::sim
