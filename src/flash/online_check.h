// The release-list check as the firmware state records it, the running dongle the tray reports,
// the schedule of checks, and the notices both raise: "Firmware update ready" when something newer
// than the dongle's firmware can be installed, and the result of a check the person asked for.
// The functions here are rules over a FirmwareState; on the live one only FirmwareStore applies
// them, under the firmware lock, and tells the tray once it is released.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "flash/firmware_state.h"

namespace tw {

inline constexpr std::uint64_t CHECK_RETRY_AFTER_FAILURE_MS = 900000;    // 15 minutes
inline constexpr std::uint64_t CHECK_AGAIN_AFTER_SUCCESS_MS = 21600000;  // 6 hours
inline constexpr std::size_t CHECK_ERROR_CAPACITY = 200;

// "never", "checking", "ok" or "failed": what the state document shows.
const char* onlineStateName(OnlineState state);

// A firmware text as the firmware side keeps it: each UTF-16 unit from 0x20 to 0x7e as it is,
// any other as "?", at most 63 characters. Bytes that are not UTF-8 count as one unit each.
std::string reduceDongleVersion(std::string_view firmware);

// Stores what the status poll found. True when the presence or the version changed: then the
// change is counted and, with the dongle present, the offer notice rule has run.
bool applyDongleReport(FirmwareState& state, bool present, const std::string& version);

// Posts "Firmware update ready" when a running dongle is present, no job is active, and the offer
// is usable, newer than a usable dongle version, and not the one last offered.
void runOfferNoticeRule(FirmwareState& state);

// A check starts: "checking", counted.
void beginOnlineCheck(FirmwareState& state);

// A check ended, with the list on success or the message on failure, at `nowMs`. Records it,
// runs the offer notice rule after a success, shows the result when it was to be announced and
// no other notice waits, and counts the change.
void finishOnlineCheck(FirmwareState& state, bool ok, const ReleaseList& list, const char* error,
                       std::uint64_t nowMs);

// Whether the schedule starts a check now: only with a running dongle or a board in update mode,
// never while one is checking; at once before the first, 15 minutes after a failure, six hours
// after a success.
bool isCheckDue(const FirmwareState& state, std::uint64_t nowMs);

}  // namespace tw
