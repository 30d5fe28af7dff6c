// The firmware state document over arbitrary texts in every field that comes from outside or from
// the job (the board's declared program and version, its failure line, the job's sentences and
// technical lines, the running dongle's version, the check's message, the listed build's version
// and notes), arbitrary numbers and flags, and any capacity. Whatever the bytes, a document
// reported complete is one valid JSON object holding no line feed and no markup, and one reported
// incomplete is a terminated prefix of the whole document within its capacity.
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
  tw::FirmwareState state;
  const std::uint8_t flags = in.byte();
  const std::uint8_t more = in.byte();
  state.firmwareSeq = in.byte() * 16777259u;
  state.station = flags & 1;
  state.builtIn.builtInState = static_cast<tw::BuiltInState>(static_cast<int>(more % 3) - 1);
  tw::BootBoard& board = state.board;
  board.present = flags & 2;
  board.usb = flags & 4;
  board.blank = flags & 8;
  board.ours = flags & 16;
  board.read = static_cast<tw::BoardRead>(static_cast<int>(in.byte() % 5) - 2);
  tw::FirmwareJob& job = state.job;
  job.active = flags & 32;
  job.cancellable = flags & 64;
  job.needsUser = flags & 128;
  state.request.queued = more & 4;
  job.refused = more & 8;
  job.pct = static_cast<std::int8_t>(in.byte());
  job.finishedAt = static_cast<std::uint64_t>(in.byte()) << 24;
  const std::size_t capacity = (static_cast<std::size_t>(in.byte()) << 8) | in.byte();

  board.program = in.text();
  board.version = in.text();
  board.why = in.text();
  board.serial = in.text();
  board.drive = in.text();
  job.action = static_cast<tw::FirmwareAction>(in.byte() % 6);
  job.phase = static_cast<tw::JobPhase>(in.byte() % 12);
  job.msg = in.text();
  job.detail = in.text();
  job.result = static_cast<tw::JobResult>(in.byte() % 4);
  job.error = in.text();
  job.tech = in.text();
  job.from = in.text();
  job.target = in.text();
  job.installed = in.text();
  const std::string app = in.text();
  state.dongle.present = more & 16;
  state.dongle.version = in.text();
  state.online.state = static_cast<tw::OnlineState>((more >> 5) & 3);
  state.online.error = in.text();
  state.online.checkedAt = static_cast<std::uint64_t>(more) << 20;
  tw::ReleaseList& list = state.online.list;
  list.count = (more & 128) ? 1 : 0;
  const std::string listed = in.text();
  const std::string notes = in.text();
  std::snprintf(list.builds[0].version, sizeof list.builds[0].version, "%s", listed.c_str());
  std::snprintf(list.builds[0].notes, sizeof list.builds[0].notes, "%s", notes.c_str());
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
       {std::pair<const char*, const std::string*>{"boot.program", &board.program},
        {"job.tech", &job.tech},
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
