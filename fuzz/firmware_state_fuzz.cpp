// The firmware state document over arbitrary texts in every field that comes from outside or from
// the job (the board's declared program and version, its failure line, the job's sentences and
// technical lines, the running dongle's version, the check's message, the listed build's version
// and notes), arbitrary numbers and flags, and any capacity. The state is built through the
// operations that change the live one, so the board's texts pass the probe's cuts and a job's
// outcome texts are those its ending writes; the failure line and the outcome are also set as
// given, bytes and all. Whatever the bytes, a document reported complete is one valid JSON object
// holding no line feed and no markup, and one reported incomplete is a terminated prefix of the
// whole document within its capacity.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/strict_json.h"
#include "flash/firmware_document.h"
#include "flash/firmware_state_builder.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads the input as: 8 bytes of numbers and flags, 2 bytes of capacity, then texts separated
// by 0x00 bytes.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string text() {
    std::string out;
    while (at_ < size_ && data_[at_] != 0) out.push_back(static_cast<char>(data_[at_++]));
    if (at_ < size_) ++at_;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

bool wellFormed(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = tw::test::StrictJson::utf8Length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t flags = in.byte();
  const std::uint8_t more = in.byte();
  const std::uint32_t seq = in.byte() * 16777259u;
  const auto read = static_cast<tw::BoardRead>(static_cast<int>(in.byte() % 5) - 2);
  const int pct = static_cast<std::int8_t>(in.byte());
  const std::uint64_t finishedAt = static_cast<std::uint64_t>(in.byte()) << 24;
  const std::size_t capacity = (static_cast<std::size_t>(in.byte()) << 8) | in.byte();

  const std::string program = in.text();
  const std::string boardVersion = in.text();
  const std::string why = in.text();
  const std::string serial = in.text();
  const std::string drive = in.text();
  const auto action = static_cast<tw::FirmwareAction>(in.byte() % 6);
  const auto phase = static_cast<tw::JobPhase>(in.byte() % 12);
  const std::string msg = in.text();
  const std::string detail = in.text();
  const auto result = static_cast<tw::JobResult>(in.byte() % 4);
  const std::string error = in.text();
  const std::string tech = in.text();
  const std::string from = in.text();
  const std::string target = in.text();
  const std::string installed = in.text();
  const std::string app = in.text();
  const std::string dongleVersion = in.text();
  const std::string checkError = in.text();
  tw::ReleaseList list{};
  list.count = (more & 128) ? 1 : 0;
  const std::string listed = in.text();
  const std::string notes = in.text();
  std::snprintf(list.builds[0].version, sizeof list.builds[0].version, "%s", listed.c_str());
  std::snprintf(list.builds[0].notes, sizeof list.builds[0].notes, "%s", notes.c_str());

  tw::test::FirmwareStateBuilder built;
  built.builtInState(static_cast<tw::BuiltInState>(static_cast<int>(more % 3) - 1));
  if (more & 16) built.runningDongle(dongleVersion);
  const std::uint64_t checkedAt = static_cast<std::uint64_t>(more) << 20;
  switch (static_cast<tw::OnlineState>((more >> 5) & 3)) {
    case tw::OnlineState::Never:
      break;
    case tw::OnlineState::Checking:
      built.onlineChecking();
      break;
    case tw::OnlineState::Ok:
      built.onlineOk(list, checkedAt);
      break;
    case tw::OnlineState::Failed:
      built.onlineFailed(checkError, checkedAt);
      break;
  }
  if (flags & 2 && flags & 4) {
    built.boardSeen(serial, drive);
    if (read != tw::BoardRead::NotRead) {
      built.boardRead(read, program, boardVersion, flags & 8, why);
    }
  } else if (flags & 2) {
    built.boardOnDrive(drive);
  }
  if (more & 4) built.jobQueued(action);
  if (flags & 32) built.jobRunning(action);
  if (result != tw::JobResult::None) {
    if (!(flags & 32)) built.jobRunning(action);
    switch (result) {
      case tw::JobResult::Ok:
        built.jobEnded(tw::FirmwareJobEnding::ok(installed, msg, false), finishedAt);
        break;
      case tw::JobResult::Cancelled:
        built.jobEnded(tw::FirmwareJobEnding::cancelled(), finishedAt);
        break;
      default:
        built.jobEnded(tw::FirmwareJobEnding::failed(error, tech, more & 8), finishedAt);
        break;
    }
  }
  built.jobStep(phase, pct, msg)
      .jobDetail(detail)
      .jobCancellable(flags & 64)
      .jobNeedsUser(flags & 128)
      .jobFrom(from)
      .jobTarget(target);
  // Every outcome text as given, whatever the ending would have written.
  if (flags & 16) built.jobOutcome(result, error, tech, installed).boardWhy(why);
  if (flags & 1) built.station();
  const tw::FirmwareState state = built.firmwareSeq(seq).build();
  const tw::FirmwareDocumentFacts facts{app};

  // The whole document in a buffer that surely holds it.
  std::vector<char> whole(1 << 20);
  check(tw::writeFirmwareState(state, facts, 1'000'000'000, whole.data(), whole.size()));
  const std::string_view document(whole.data());
  check(document.find('\n') == std::string_view::npos);
  check(document.find('<') == std::string_view::npos);
  tw::test::StrictJson json;
  check(json.parse(document));
  // Well-formed texts come back as they went in.
  for (const auto& [key, text] :
       {std::pair<const char*, const std::string*>{"boot.program", &state.board.program},
        {"job.tech", &state.job.tech},
        {"app", &app}}) {
    if (wellFormed(*text)) check(json.values().at(key) == *text);
  }

  // The same in the capacity given: complete exactly when it fits, else a cut-off prefix.
  std::vector<char> cut(capacity + 1, '\x7f');
  const bool complete = tw::writeFirmwareState(state, facts, 1'000'000'000, cut.data(), capacity);
  check(cut[capacity] == '\x7f');
  check(complete == (document.size() < capacity));
  if (capacity > 0) {
    const std::string_view written(cut.data());
    check(written.size() < capacity);
    check(document.substr(0, written.size()) == written);
    if (complete) check(written == document);
  }
  return 0;
}
