// Request parsing and answer writing shared by the local server's handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sockets.h"

namespace tw {

inline constexpr const char* kJsonType = "application/json; charset=utf-8";

// The head of both event streams. The content type names its charset and sniffing is off, as for
// every other answer, so no browser reads the stream as anything else.
inline constexpr std::string_view kEventStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Accel-Buffering: no\r\n"
    "Connection: close\r\n\r\n";

// The status lines the API answers with.
inline constexpr const char* kBadRequest = "400 Bad Request";
inline constexpr const char* kForbidden = "403 Forbidden";
inline constexpr const char* kNotFound = "404 Not Found";
inline constexpr const char* kMethodNotAllowed = "405 Method Not Allowed";
inline constexpr const char* kRequestTimeout = "408 Request Timeout";
inline constexpr const char* kConflict = "409 Conflict";
inline constexpr const char* kContentTooLarge = "413 Content Too Large";
inline constexpr const char* kInternalError = "500 Internal Server Error";
inline constexpr const char* kNotImplemented = "501 Not Implemented";
inline constexpr const char* kUnavailable = "503 Service Unavailable";

// Finds header `name` (case ignored) at the start of a line that follows a line feed, followed
// directly by ":". Give it a request's head alone (see splitRequest): a body's lines are no
// headers. The first such line wins; blanks after the colon are skipped and the value
// runs to the end of the line, cut to `capacity` - 1 bytes. True when the header was found.
bool headerValue(std::string_view request, std::string_view name, std::string& out,
                 std::size_t capacity);

// How many lines headerValue would take for header `name`: a request whose checks rest on a
// header must not hold it twice, or the check and what the sender meant could differ.
std::size_t headerCount(std::string_view request, std::string_view name);

// Finds `name` in a query string or form body ("a=1&b=2"), cuts the raw value to `capacity` - 1
// bytes and decodes "+" and "%XX" in place. True when the name was found (an empty value too).
bool formValue(std::string_view source, std::string_view name, std::string& out,
               std::size_t capacity);

// Decimal text as C reads it: optional blanks and sign, then digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
std::int64_t parseDecimal(std::string_view text);

// Equality of a caller's secret with the expected one, in time that depends only on the lengths.
bool constantTimeEquals(std::string_view given, std::string_view expected);

// Sends all of `data`, looping over partial sends; false once a send fails.
bool sendAll(SocketConnection& connection, const char* data, std::size_t length);
inline bool sendAll(SocketConnection& connection, std::string_view text) {
  return sendAll(connection, text.data(), text.size());
}

// A complete answer: head, then the body. A failed send abandons it silently. `extraHeaders`
// are whole header lines ("Name: value\r\n"), added to the head as they are.
void sendResponse(SocketConnection& connection, const char* status, const char* contentType,
                  std::string_view body, std::string_view extraHeaders = {});

// {"ok":false,"error":"..."} with `status`: valid JSON whatever bytes the message holds.
void sendJsonError(SocketConnection& connection, const char* status, std::string_view message,
                   std::string_view extraHeaders = {});

// 405 "POST only", naming the one method the call takes.
void sendPostOnly(SocketConnection& connection);

// The error message escaped for the JSON error object: quotes and backslashes escaped, control
// bytes as \u00xx, bytes that are no part of a well-formed UTF-8 character as \ufffd. Escaping
// stops before the first character that would start at kEscapedMessageLimit bytes or later.
std::string escapeErrorMessage(std::string_view message);

}  // namespace tw
