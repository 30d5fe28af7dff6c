// Faults on demand for the simulated devices: any operation can be made to fail, stall (never
// complete) or answer busy, at the n-th call from now or for a number of calls.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tw::sim {

enum class FaultKind { None, Fail, Stall, Busy };

class FaultPlan {
 public:
  // The `nth` call (1 = the next one) of `operation` from now on meets `kind`, for `count` calls.
  void inject(const std::string& operation, FaultKind kind, std::uint32_t nth = 1,
              std::uint32_t count = 1);
  // Every call of `operation` meets `kind` until cleared.
  void always(const std::string& operation, FaultKind kind);
  void clear(const std::string& operation);
  void clearAll();
  // Counts one call of `operation` and says which fault, if any, it meets.
  FaultKind next(const std::string& operation);
  std::uint32_t calls(const std::string& operation);

 private:
  struct Rule {
    FaultKind kind = FaultKind::None;
    std::uint64_t fromCall = 0;  // absolute call number where it starts
    std::uint64_t count = 0;     // 0 = forever
  };
  std::mutex mutex_;
  std::map<std::string, Rule> rules_;
  std::map<std::string, std::uint64_t> callCounts_;
};

}  // namespace tw::sim
