// The JSON error writer over arbitrary messages (the firmware API will pass on texts that come
// from outside: download errors, release notes). Whatever the bytes, the answer must be a whole
// response whose body is one valid JSON object, and its "error" the message as far as it goes,
// with every byte that is no part of a well-formed character read as U+FFFD.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/strict_json.h"
#include "panel/http_text.h"
#include "panel/server_limits.h"
#include "sim/memory_connection.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::string_view kObjectStart = "{\"ok\":false,\"error\":\"";
constexpr std::string_view kObjectEnd = "\"}";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  tw::sim::MemoryConnection connection;
  tw::sendJsonError(connection, tw::kBadRequest, message);

  const std::string& sent = connection.sent;
  const std::size_t headEnd = sent.find("\r\n\r\n");
  check(headEnd != std::string::npos);
  check(sent.rfind("HTTP/1.1 400 Bad Request\r\n", 0) == 0);
  const std::string body = sent.substr(headEnd + 4);
  check(sent.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") < headEnd);
  check(body.size() < tw::kErrorObjectCapacity);
  check(body.rfind(kObjectStart, 0) == 0);

  tw::test::StrictJson json;
  check(json.parse(body));
  const auto found = json.topStrings().find("error");
  check(found != json.topStrings().end());
  const std::string& error = found->second;

  // The message with each byte outside a character replaced, then cut: the error is a prefix of
  // it, ending on a character boundary, and stops short only once the escaped text is long.
  std::string repaired;
  bool onBoundary = error.empty();
  for (std::size_t at = 0; at < message.size();) {
    const std::size_t length = tw::test::StrictJson::utf8Length(message, at);
    if (length == 0) {
      repaired += "\xEF\xBF\xBD";
      ++at;
    } else {
      repaired.append(message.substr(at, length));
      at += length;
    }
    if (repaired.size() == error.size()) onBoundary = true;
  }
  check(repaired.compare(0, error.size(), error) == 0);
  check(onBoundary);
  const std::size_t escapedLength = body.size() - kObjectStart.size() - kObjectEnd.size();
  check(error.size() == repaired.size() || escapedLength >= tw::kEscapedMessageLimit);
  return 0;
}
