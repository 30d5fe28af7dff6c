#include "panel/request_reading.h"

#include <cstdint>
#include <string>

#include "panel/http_text.h"
#include "panel/server_limits.h"

namespace tw {
namespace {

constexpr std::string_view kEmptyLine = "\r\n\r\n";

enum class Declared { Length, NotDigits, Repeated, TooLarge, Coded };

struct BodyDeclaration {
  Declared kind = Declared::Length;
  std::size_t length = 0;
};

// The body the head declares: none without a Content-Length. Only plain digits are a length
// ("+5", "-1", "5x" and "" are not), so that no two readers could take it differently.
BodyDeclaration declaredBody(std::string_view head) {
  // A body in a transfer coding has no length to wait for, and none of the calls takes one.
  if (headerCount(head, "Transfer-Encoding") > 0) return {Declared::Coded};
  const std::size_t count = headerCount(head, "Content-Length");
  if (count == 0) return {Declared::Length, 0};
  if (count > 1) return {Declared::Repeated};
  std::string value;
  // Uncut: a cut could drop digits, and leading zeros could hide a large length.
  headerValue(head, "Content-Length", value, head.size() + 1);
  std::size_t end = value.find_last_not_of(" \t");
  value.resize(end == std::string::npos ? 0 : end + 1);
  if (value.empty()) return {Declared::NotDigits};
  std::uint64_t length = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return {Declared::NotDigits};
    if (length <= kMaxBodyLength) length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (length > kMaxBodyLength) return {Declared::TooLarge};
  return {Declared::Length, static_cast<std::size_t>(length)};
}

ReadingVerdict refuse(const char* status, const char* message) {
  return {ReadingVerdict::Action::Refuse, 0, status, message};
}

}  // namespace

RequestParts splitRequest(std::string_view received) {
  const std::size_t at = received.find(kEmptyLine);
  if (at == std::string_view::npos) return {received, {}, false};
  return {received.substr(0, at), received.substr(at + kEmptyLine.size()), true};
}

ReadingVerdict judgeReceived(std::string_view received, ReadingEnd end) {
  const bool ended = end != ReadingEnd::StillReading;
  const RequestParts parts = splitRequest(received);
  if (!parts.headEnded && !ended) return {};

  const BodyDeclaration declared = declaredBody(parts.head);
  switch (declared.kind) {
    case Declared::Coded:
      return refuse(kNotImplemented, "transfer codings are not supported");
    case Declared::Repeated:
      return refuse(kBadRequest, "repeated header");
    case Declared::NotDigits:
      return refuse(kBadRequest, "bad content length");
    case Declared::TooLarge:
      return refuse(kContentTooLarge, "body too large");
    case Declared::Length:
      break;
  }
  if (parts.body.size() >= declared.length) {
    // Bytes beyond the declared body are no part of the request.
    const std::size_t headBytes = received.size() - parts.body.size();
    return {ReadingVerdict::Action::Handle, headBytes + declared.length};
  }
  switch (end) {
    case ReadingEnd::StillReading:
      return {};
    case ReadingEnd::PeerClosed:
      return refuse(kBadRequest, "incomplete body");
    case ReadingEnd::TimedOut:
      return refuse(kRequestTimeout, "request timed out");
    case ReadingEnd::BufferFull:
      return refuse(kContentTooLarge, "request too large");
  }
  return {};
}

}  // namespace tw
