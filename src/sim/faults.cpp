#include "sim/faults.h"

namespace tw::sim {

void FaultPlan::inject(const std::string& operation, FaultKind kind, std::uint32_t nth,
                       std::uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t done = callCounts_[operation];
  rules_[operation] = Rule{kind, done + (nth == 0 ? 1 : nth), count == 0 ? 1 : count};
}

void FaultPlan::always(const std::string& operation, FaultKind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_[operation] = Rule{kind, callCounts_[operation] + 1, 0};
}

void FaultPlan::clear(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.erase(operation);
}

void FaultPlan::clearAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
}

FaultKind FaultPlan::next(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t call = ++callCounts_[operation];
  auto found = rules_.find(operation);
  if (found == rules_.end()) return FaultKind::None;
  const Rule& rule = found->second;
  if (call < rule.fromCall) return FaultKind::None;
  if (rule.count != 0 && call >= rule.fromCall + rule.count) {
    rules_.erase(found);
    return FaultKind::None;
  }
  return rule.kind;
}

std::uint32_t FaultPlan::calls(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::uint32_t>(callCounts_[operation]);
}

}  // namespace tw::sim
