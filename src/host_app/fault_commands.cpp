// The console's fault command: makes the dongle's next device calls fail on demand while it stays
// plugged in, so a script can show a failed call without racing an unplug against the page.
#include <array>
#include <sstream>
#include <string>

#include "host_app/console.h"

namespace tw::host {
namespace {

constexpr char kFaultUsage[] =
    "fault needs: OPERATION fail|stall|busy [NTH [COUNT]], OPERATION off, or off\n"
    "  OPERATION is one of: open, attributes, caps, get-feature, set-feature, read-input, "
    "write-output";

constexpr std::array<const char*, 7> kDongleOperations = {
    "open", "attributes", "caps", "get-feature", "set-feature", "read-input", "write-output"};

bool knownOperation(const std::string& operation) {
  for (const char* known : kDongleOperations) {
    if (operation == known) return true;
  }
  return false;
}

bool parseKind(const std::string& word, sim::FaultKind& kind) {
  if (word == "fail")
    kind = sim::FaultKind::Fail;
  else if (word == "stall")
    kind = sim::FaultKind::Stall;
  else if (word == "busy")
    kind = sim::FaultKind::Busy;
  else
    return false;
  return true;
}

// A whole positive number with nothing after it; stream extraction alone would take "2x" as 2.
bool parseCount(const std::string& word, std::uint32_t& value) {
  if (word.empty() || word.size() > 9) return false;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
  }
  value = static_cast<std::uint32_t>(std::stoul(word));
  return value > 0;
}

}  // namespace

bool Console::faultCommand(std::istringstream& words) {
  std::string operation, kindWord, nthWord, countWord, extra;
  words >> operation >> kindWord >> nthWord >> countWord >> extra;
  sim::FaultPlan& faults = world_.dongle().faults;
  if (operation == "off" && kindWord.empty()) {
    faults.clearAll();
    printLine("(the dongle's calls answer normally again)");
    return true;
  }
  if (!knownOperation(operation) || !extra.empty()) {
    printLine(kFaultUsage);
    return false;
  }
  if (kindWord == "off" && nthWord.empty()) {
    faults.clear(operation);
    printLine("(the dongle's " + operation + " calls answer normally again)");
    return true;
  }
  sim::FaultKind kind = sim::FaultKind::None;
  std::uint32_t nth = 1, count = 1;
  if (!parseKind(kindWord, kind) || (!nthWord.empty() && !parseCount(nthWord, nth)) ||
      (!countWord.empty() && !parseCount(countWord, count))) {
    printLine(kFaultUsage);
    return false;
  }
  faults.inject(operation, kind, nth, count);
  printLine("(the dongle's " + operation + " call number " + std::to_string(nth) +
            " from now will " + kindWord +
            (count > 1 ? ", and the " + std::to_string(count - 1) + " after it" : "") + ")");
  return true;
}

}  // namespace tw::host
