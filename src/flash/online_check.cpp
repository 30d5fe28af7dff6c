#include "flash/online_check.h"

#include "common/text.h"
#include "firmware/update_host.h"
#include "firmware/versions.h"
#include "platform/clock.h"

namespace tw {
namespace {

constexpr std::size_t kVersionChars = 63;

// The UTF-16 units one UTF-8 sequence at `at` stands for, and its length in bytes; a byte that
// starts no valid sequence is one unit of one byte.
void nextCodePoint(std::string_view text, std::size_t at, std::size_t& bytes, int& units) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80                   ? 1
                       : lead >= 0xf0 && lead < 0xf5 ? 4
                       : lead >= 0xe0                ? 3
                       : lead >= 0xc2 && lead < 0xe0 ? 2
                                                     : 0;
  if (length == 0 || at + length > text.size()) length = 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) length = 0;
  }
  bytes = length == 0 ? 1 : length;
  units = length == 4 ? 2 : 1;
}

void announceResult(FirmwareState& state, bool ok) {
  if (!ok) {
    postNotice(state.notice, NoticeKind::Warning, "Couldn't check for updates",
               "%s. Try again in a bit.", state.online.error.c_str());
    return;
  }
  const std::string offer = offerVersion(state);
  const RunningDongle& dongle = state.dongle;
  if (!dongle.present) {
    const std::string title = std::string("Checked ") + UpdateHost;
    postNotice(state.notice, NoticeKind::Information, title.c_str(),
               "The newest Tarnwick Bridge firmware is %s.", offer.c_str());
  } else if (isUsableVersion(dongle.version.c_str()) &&
             compareVersions(dongle.version.c_str(), offer.c_str()) >= 0) {
    postNotice(state.notice, NoticeKind::Information, "You're up to date",
               "Your Tarnwick Bridge has %s, the newest release.", dongle.version.c_str());
  }
  // Otherwise the offer notice rule has spoken already, when the offer was new.
}

}  // namespace

const char* onlineStateName(OnlineState state) {
  switch (state) {
    case OnlineState::Never:
      return "never";
    case OnlineState::Checking:
      return "checking";
    case OnlineState::Ok:
      return "ok";
    case OnlineState::Failed:
      return "failed";
  }
  return "never";
}

std::string reduceDongleVersion(std::string_view firmware) {
  std::string out;
  for (std::size_t at = 0; at < firmware.size() && out.size() < kVersionChars;) {
    std::size_t bytes = 1;
    int units = 1;
    nextCodePoint(firmware, at, bytes, units);
    const char c = firmware[at];
    if (bytes == 1 && c >= 0x20 && c <= 0x7e) {
      out += c;
    } else {
      for (int i = 0; i < units && out.size() < kVersionChars; ++i) out += '?';
    }
    at += bytes;
  }
  return out;
}

bool applyDongleReport(FirmwareState& state, bool present, const std::string& version) {
  const std::string kept = present ? version : std::string();
  if (state.dongle.present == present && state.dongle.version == kept) return false;
  state.dongle.present = present;
  state.dongle.version = kept;
  ++state.firmwareSeq;
  if (present) runOfferNoticeRule(state);
  return true;
}

void runOfferNoticeRule(FirmwareState& state) {
  if (!state.dongle.present || state.job.active) return;
  const std::string offer = offerVersion(state);
  if (!isUsableVersion(offer.c_str())) return;
  const char* dongleVersion = state.dongle.version.c_str();
  if (isUsableVersion(dongleVersion) && compareVersions(offer.c_str(), dongleVersion) <= 0) return;
  if (offer == state.lastOffered) return;
  state.lastOffered = offer;
  postNotice(state.notice, NoticeKind::Information, "Firmware update ready",
             "Tarnwick Bridge %s is ready (your dongle has %s). Click here to install it.",
             offer.c_str(), dongleVersion[0] != '\0' ? dongleVersion : "an older build");
}

void beginOnlineCheck(FirmwareState& state) {
  ++state.firmwareSeq;
  state.online.state = OnlineState::Checking;
}

void finishOnlineCheck(FirmwareState& state, bool ok, const ReleaseList& list, const char* error,
                       std::uint64_t nowMs) {
  OnlineCheck& online = state.online;
  if (ok) {
    online.list = list;
    online.error.clear();
    online.state = OnlineState::Ok;
  } else {
    // The list of an earlier success stays, unread while the state is "failed".
    online.state = OnlineState::Failed;
    online.error = cutUtf8(error != nullptr ? error : "", CHECK_ERROR_CAPACITY);
  }
  online.checkedAt = nowMs;
  const bool announce = online.announce;
  online.announce = false;
  if (ok) runOfferNoticeRule(state);
  // A notice already waiting (say "Firmware update ready" from this very check) says more.
  if (announce && !state.notice.pending) announceResult(state, ok);
  ++state.firmwareSeq;
}

bool isCheckDue(const FirmwareState& state, std::uint64_t nowMs) {
  if (!state.dongle.present && !state.board.present) return false;
  const OnlineCheck& online = state.online;
  switch (online.state) {
    case OnlineState::Never:
      return true;
    case OnlineState::Failed:
      return intervalPassed(nowMs, online.checkedAt, CHECK_RETRY_AFTER_FAILURE_MS);
    case OnlineState::Ok:
      return intervalPassed(nowMs, online.checkedAt, CHECK_AGAIN_AFTER_SUCCESS_MS);
    case OnlineState::Checking:
      return false;
  }
  return false;
}

}  // namespace tw
