#include "platform/sim/sim_kernel.h"

namespace qv::sim {

const char* HandleKindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::RegistryKey: return "registry key";
    case HandleKind::Process: return "process";
    case HandleKind::Thread: return "thread";
    case HandleKind::Window: return "window";
    case HandleKind::Icon: return "icon";
    case HandleKind::ComObject: return "COM object";
    case HandleKind::Module: return "module";
    case HandleKind::LocalMemory: return "local memory";
    case HandleKind::CryptProvider: return "cryptographic provider";
    case HandleKind::File: return "file";
    case HandleKind::EventSource: return "event source";
  }
  return "?";
}

std::uintptr_t SimKernel::OpenHandle(HandleKind kind, std::string description, bool closable) {
  next_ += 4;
  handles_[next_] = HandleEntry{kind, std::move(description), closable};
  return next_;
}

bool SimKernel::IsOpen(std::uintptr_t value, HandleKind kind) const {
  auto it = handles_.find(value);
  return it != handles_.end() && it->second.kind == kind;
}

const HandleEntry* SimKernel::Find(std::uintptr_t value) const {
  auto it = handles_.find(value);
  return it == handles_.end() ? nullptr : &it->second;
}

bool SimKernel::Close(std::uintptr_t value, HandleKind kind) {
  auto it = handles_.find(value);
  if (it == handles_.end() || it->second.kind != kind) return false;
  handles_.erase(it);
  return true;
}

std::vector<std::pair<std::uintptr_t, HandleEntry>> SimKernel::OpenHandles() const {
  std::vector<std::pair<std::uintptr_t, HandleEntry>> open;
  for (const auto& [value, entry] : handles_)
    if (entry.closable) open.emplace_back(value, entry);
  return open;
}

std::size_t SimKernel::OpenHandleCount(HandleKind kind) const {
  std::size_t n = 0;
  for (const auto& [value, entry] : handles_)
    if (entry.closable && entry.kind == kind) ++n;
  return n;
}

std::optional<std::int64_t> SimKernel::Enter(const char* function, std::string detail) {
  calls_.push_back(CallRecord{function, std::move(detail), false});
  const std::uint64_t position = calls_.size();
  const std::uint64_t nthOfFunction = ++perFunctionCount_[function];
  std::optional<std::int64_t> result;
  if (failCallNumber_ != 0 && position == failCallNumber_) result = failCode_;
  for (const FaultRule& rule : faults_) {
    if (!rule.function.empty() && rule.function != function) continue;
    const std::uint64_t n = rule.function.empty() ? position : nthOfFunction;
    if (rule.nth == 0 || rule.nth == n) {
      result = rule.code;
      break;
    }
  }
  if (result) calls_.back().failedByPlan = true;
  return result;
}

}  // namespace qv::sim
