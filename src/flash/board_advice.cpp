#include "flash/board_advice.h"

#include "firmware/versions.h"

namespace tw {

bool isBoardAdviceDue(const FirmwareState& state) {
  const BootBoard& board = state.board;
  return board.present && !board.advised && !isJobBusy(state) && !state.station &&
         (board.read == BoardRead::Read || board.read == BoardRead::Failed);
}

void giveBoardAdvice(FirmwareState& state) {
  BootBoard& board = state.board;
  board.advised = true;
  const std::string offer = offerVersion(state);
  constexpr const char* kOurs = "Dongle in update mode";
  if (!isUsableVersion(offer.c_str())) {
    postNotice(state.notice, NoticeKind::Warning, kOurs,
               "This app has no firmware to install yet. Connect to the internet and open the "
               "panel.");
  } else if (board.read == BoardRead::Failed) {
    postNotice(state.notice, NoticeKind::Information, kOurs,
               "Open the panel to install firmware on it.");
  } else if (board.ours && (!isUsableVersion(board.version.c_str()) ||
                            compareVersions(offer.c_str(), board.version.c_str()) > 0)) {
    postNotice(state.notice, NoticeKind::Information, kOurs,
               "It has %s and %s is ready. Open the panel to install it.",
               board.version.empty() ? "older firmware" : board.version.c_str(), offer.c_str());
  } else if (board.ours) {
    postNotice(state.notice, NoticeKind::Information, kOurs,
               "It already has %s. Open the panel to restart it, or to repair it.",
               board.version.c_str());
  } else if (board.blank) {
    postNotice(state.notice, NoticeKind::Information, "New board in update mode",
               "It has no firmware yet. Open the panel to install %s.", offer.c_str());
  } else {
    postNotice(state.notice, NoticeKind::Information, "Board in update mode",
               "It's running something else (%s). Open the panel if you want Tarnwick Bridge on "
               "it.",
               board.program.empty() ? "unnamed" : board.program.c_str());
  }
  ++state.firmwareSeq;
}

}  // namespace tw
