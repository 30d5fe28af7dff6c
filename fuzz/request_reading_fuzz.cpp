// judgeReceived over arbitrary bytes arriving in two receives: reading goes on only while it may,
// a request to handle lies within what arrived and holds its whole head, and once the first
// receive settled the matter, more bytes after it change nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "panel/request_reading.h"

namespace {

using tw::ReadingEnd;
using tw::ReadingVerdict;

void check(std::string_view received, ReadingEnd end, const ReadingVerdict& verdict) {
  using Action = ReadingVerdict::Action;
  if (end != ReadingEnd::StillReading && verdict.action == Action::ReadMore) std::abort();
  if (verdict.action == Action::Refuse && (!verdict.status || !verdict.message)) std::abort();
  if (verdict.action != Action::Handle) return;
  if (verdict.length > received.size()) std::abort();
  const tw::RequestParts parts = tw::splitRequest(received);
  const std::size_t headBytes = parts.head.size() + (parts.headEnded ? 4 : 0);
  if (verdict.length < headBytes) std::abort();
  if (!parts.headEnded && verdict.length != received.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string_view all(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = data[0] % (all.size() + 1);
  const std::string_view first = all.substr(0, split);
  const ReadingVerdict early = tw::judgeReceived(first, ReadingEnd::StillReading);
  check(first, ReadingEnd::StillReading, early);
  for (ReadingEnd end : {ReadingEnd::StillReading, ReadingEnd::PeerClosed, ReadingEnd::TimedOut,
                         ReadingEnd::BufferFull}) {
    const ReadingVerdict verdict = tw::judgeReceived(all, end);
    check(all, end, verdict);
    // A whole request stays the same request however much follows it, and a head refused as it
    // stands stays refused.
    if (early.action == ReadingVerdict::Action::Handle &&
        (verdict.action != early.action || verdict.length != early.length)) {
      std::abort();
    }
    if (early.action == ReadingVerdict::Action::Refuse &&
        (verdict.action != early.action || verdict.status != early.status)) {
      std::abort();
    }
  }
  return 0;
}
