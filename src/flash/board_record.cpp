#include "flash/board_record.h"

#include "common/text.h"
#include "flash/our_firmware.h"
#include "platform/clock.h"

namespace tw {
namespace {

constexpr char kNoInterfaceWhy[] = "Windows hasn't given this app the board's USB update interface";

// Forgets the board; counts a change only when there was one.
void clearBoard(FirmwareState& state) {
  if (state.board.present) ++state.firmwareSeq;
  state.board = BootBoard{};
}

void recordNewBoard(FirmwareState& state, const BoardSighting& seen, std::uint64_t nowMs) {
  state.board = BootBoard{};
  state.board.present = true;
  state.board.seenAt = nowMs;
  state.board.advised = state.quietNextBoard;
  if (seen.usbFound) {
    state.board.usb = true;
    state.board.path = seen.path;
    state.board.serial = seen.serial;
  }
  ++state.firmwareSeq;
}

}  // namespace

bool recordSighting(FirmwareState& state, const BoardSighting& seen, std::uint64_t nowMs,
                    std::string& pathToRead) {
  pathToRead.clear();
  BootBoard& board = state.board;
  if (seen.station) {
    if (!state.station) ++state.firmwareSeq;
    state.station = true;
    clearBoard(state);
    state.quietNextBoard = false;
    return false;
  }
  if (state.station) ++state.firmwareSeq;
  state.station = false;

  if (!seen.usbFound && seen.drive.empty()) {
    clearBoard(state);
    state.quietNextBoard = false;
    return false;
  }

  if (!board.present) {
    recordNewBoard(state, seen, nowMs);
  } else if (board.usb) {
    // The same interface path is the same board; another path, or the interface gone while the
    // drive stays, is a board of its own.
    if (!seen.usbFound || seen.path != board.path) recordNewBoard(state, seen, nowMs);
  } else if (seen.usbFound) {
    // The drive often shows up first; its interface follows within seconds.
    if (nowMs - board.seenAt <= kInterfaceJoinsMs) {
      board.usb = true;
      board.path = seen.path;
      board.serial = seen.serial;
      board.read = BoardRead::NotRead;
      board.why.clear();
      ++state.firmwareSeq;
    } else {
      recordNewBoard(state, seen, nowMs);
    }
  }

  if (board.drive != seen.drive) {
    board.drive = seen.drive;
    ++state.firmwareSeq;
  }

  if (!board.usb) {
    if (board.read == BoardRead::NotRead &&
        intervalPassed(nowMs, board.seenAt, kDriveOnlyGiveUpMs)) {
      board.read = BoardRead::Failed;
      board.why = kNoInterfaceWhy;
      ++state.firmwareSeq;
    }
    return false;
  }
  bool due =
      board.read == BoardRead::NotRead || (board.read == BoardRead::Busy && nowMs >= board.retryAt);
  if (!due || !intervalPassed(nowMs, board.seenAt, kReadAfterMs)) return false;
  pathToRead = board.path;
  return true;
}

void recordProbe(FirmwareState& state, const std::string& path, const BoardProbe& probe,
                 std::uint64_t nowMs) {
  BootBoard& board = state.board;
  if (!board.present || board.path != path) return;  // unplugged or replaced while being read
  board.read = probe.result;
  board.blank = probe.blank;
  board.ours = probe.result == BoardRead::Read && probe.program == kOurProgramName;
  board.program = cutUtf8(probe.program, 64);
  board.version = cutUtf8(probe.version, 64);
  board.why = probe.result == BoardRead::Read ? std::string() : cutUtf8(probe.why, 200);
  if (probe.result == BoardRead::Busy) board.retryAt = nowMs + kBusyRetryMs;
  ++state.firmwareSeq;
}

}  // namespace tw
