#include "flash/firmware_words.h"

#include <iterator>

namespace tw {
namespace {

// Indexed by the enumerations' values, which start at None.
constexpr const char* kActionWords[] = {"", "update", "install", "reinstall", "repair", "restart"};
constexpr const char* kPhaseWords[] = {"",       "prepare", "download",  "enter",
                                       "button", "inspect", "write",     "verify",
                                       "copy",   "restart", "reconnect", "done"};
constexpr const char* kResultWords[] = {"", "ok", "cancelled", "failed"};

static_assert(std::size(kActionWords) == static_cast<std::size_t>(FirmwareAction::Restart) + 1);
static_assert(std::size(kPhaseWords) == static_cast<std::size_t>(JobPhase::Done) + 1);
static_assert(std::size(kResultWords) == static_cast<std::size_t>(JobResult::Failed) + 1);

template <std::size_t N, typename Enum>
const char* wordOf(const char* const (&words)[N], Enum value) {
  const auto index = static_cast<std::size_t>(value);
  return index < N ? words[index] : "";
}

}  // namespace

const char* actionWord(FirmwareAction action) {
  return wordOf(kActionWords, action);
}

const char* phaseWord(JobPhase phase) {
  return wordOf(kPhaseWords, phase);
}

const char* resultWord(JobResult result) {
  return wordOf(kResultWords, result);
}

bool parseFirmwareAction(std::string_view word, FirmwareAction& action) {
  for (std::size_t i = 1; i < std::size(kActionWords); ++i) {
    if (word == kActionWords[i]) {
      action = static_cast<FirmwareAction>(i);
      return true;
    }
  }
  return false;
}

}  // namespace tw
