// How the local server reads a request off its connection: where the head ends, how long a body
// the head declares, and whether what has arrived is a whole request to act on. A request is
// acted on only with its whole declared body; one that cannot be read whole gets an error answer
// and does nothing.
#pragma once

#include <cstddef>
#include <string_view>

namespace tw {

// A request cut at its first empty line ("\r\n\r\n"): the head (request line and header lines,
// without the empty line) and what follows it. Until the empty line has arrived, all is head.
struct RequestParts {
  std::string_view head;
  std::string_view body;
  bool headEnded = false;
};
RequestParts splitRequest(std::string_view received);

// Why no more bytes will come, or that more may.
enum class ReadingEnd { StillReading, PeerClosed, TimedOut, BufferFull };

// What to do with the bytes received so far.
struct ReadingVerdict {
  enum class Action { ReadMore, Handle, Refuse };
  Action action = Action::ReadMore;
  std::size_t length = 0;        // Handle: the request's bytes, its head and its declared body
  const char* status = nullptr;  // Refuse: the status and error message of the answer
  const char* message = nullptr;
};

// Judges `received` after a receive. A head without an empty line is handled as it is once
// reading has ended (a request without a body), unless it declares a body, which then cannot
// have arrived. Faults of the head itself (a Content-Length that is not plain digits, given
// twice, or above kMaxBodyLength; a Transfer-Encoding) are answered as soon as the head is there,
// before any of the body is waited for. Never ReadMore once `end` says reading has ended.
ReadingVerdict judgeReceived(std::string_view received, ReadingEnd end);

}  // namespace tw
