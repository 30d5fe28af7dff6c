// The firmware job's actions, phases and results as the code compares them, and the words the
// state document, the panel's API and the console use for them. The words appear only where the
// job is written out or a request is read in; everywhere else the enumerations are compared.
#pragma once

#include <cstdint>
#include <string_view>

namespace tw {

// None: no job has been asked for since the record was last cleared.
enum class FirmwareAction : std::uint8_t { None, Update, Install, Reinstall, Repair, Restart };

// The panel keys its layout off the phase; the person reads the job's message.
enum class JobPhase : std::uint8_t {
  None,
  Prepare,
  Download,
  Enter,
  Button,
  Inspect,
  Write,
  Verify,
  Copy,
  Restart,
  Reconnect,
  Done,
};

// None while a job runs or before any has ended.
enum class JobResult : std::uint8_t { None, Ok, Cancelled, Failed };

// "update", "install", "reinstall", "repair", "restart"; "" for None.
const char* actionWord(FirmwareAction action);
// "prepare" ... "done"; "" for None.
const char* phaseWord(JobPhase phase);
// "ok", "cancelled", "failed"; "" for None.
const char* resultWord(JobResult result);

// One of the five action words, exactly; false (and `action` untouched) for anything else.
bool parseFirmwareAction(std::string_view word, FirmwareAction& action);

}  // namespace tw
