#include "panel/http_text.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "panel/server_limits.h"

namespace tw {
namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::string_view kErrorObjectStart = "{\"ok\":false,\"error\":\"";
constexpr std::string_view kErrorObjectEnd = "\"}";
constexpr std::size_t kLongestEscape = 6;  // \u001f, \ufffd
static_assert(kErrorObjectStart.size() + kEscapedMessageLimit - 1 + kLongestEscape +
                      kErrorObjectEnd.size() <
                  kErrorObjectCapacity,
              "an error object always fits its capacity whole");

// Calls `found` with the rest of the request from each line that starts with header `name` and
// its colon, in order, until it returns false.
template <typename Found>
void forEachHeaderLine(std::string_view request, std::string_view name, Found found) {
  std::size_t lineFeed = request.find('\n');
  while (lineFeed != std::string_view::npos) {
    std::string_view line = request.substr(lineFeed + 1);
    if (startsWithIgnoreCase(line, name) && line.size() > name.size() && line[name.size()] == ':') {
      if (!found(line)) return;
    }
    lineFeed = request.find('\n', lineFeed + 1);
  }
}

}  // namespace

bool headerValue(std::string_view request, std::string_view name, std::string& out,
                 std::size_t capacity) {
  out.clear();
  bool present = false;
  forEachHeaderLine(request, name, [&](std::string_view line) {
    std::size_t start = name.size() + 1;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    std::size_t end = start;
    while (end < line.size() && line[end] != '\0' && line[end] != '\r' && line[end] != '\n') {
      ++end;
    }
    std::size_t keep = capacity == 0 ? 0 : std::min(end - start, capacity - 1);
    out.assign(line.substr(start, keep));
    present = true;
    return false;  // the first one
  });
  return present;
}

std::size_t headerCount(std::string_view request, std::string_view name) {
  std::size_t count = 0;
  forEachHeaderLine(request, name, [&](std::string_view) {
    ++count;
    return true;
  });
  return count;
}

bool formValue(std::string_view source, std::string_view name, std::string& out,
               std::size_t capacity) {
  out.clear();
  if (source.empty() || name.empty()) return false;
  std::size_t at = 0;
  while (at <= source.size()) {
    std::string_view rest = source.substr(at);
    if (rest.size() > name.size() && rest.compare(0, name.size(), name) == 0 &&
        rest[name.size()] == '=') {
      std::string_view raw = rest.substr(name.size() + 1);
      raw = raw.substr(0, raw.find('&'));
      if (capacity == 0) return true;
      raw = raw.substr(0, capacity - 1);
      out.reserve(raw.size());
      for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '+') {
          out.push_back(' ');
        } else if (c == '%' && i + 2 < raw.size() && hexDigit(raw[i + 1]) >= 0 &&
                   hexDigit(raw[i + 2]) >= 0) {
          out.push_back(static_cast<char>(hexDigit(raw[i + 1]) * 16 + hexDigit(raw[i + 2])));
          i += 2;
        } else {
          out.push_back(c);
        }
      }
      return true;
    }
    std::size_t amp = source.find('&', at);
    if (amp == std::string_view::npos) break;
    at = amp + 1;
  }
  return false;
}

std::int64_t parseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr std::int64_t kLimit = INT64_MAX / 10 - 10;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

bool constantTimeEquals(std::string_view given, std::string_view expected) {
  unsigned difference = given.size() == expected.size() ? 0u : 1u;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0u;
    difference |= g ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

bool sendAll(SocketConnection& connection, const char* data, std::size_t length) {
  std::size_t sent = 0;
  while (sent < length) {
    long n = connection.send(data + sent, length - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void sendResponse(SocketConnection& connection, const char* status, const char* contentType,
                  std::string_view body, std::string_view extraHeaders) {
  char head[kHeadCapacity];
  int headLength = std::snprintf(head, sizeof head,
                                 "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                                 "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                                 "%.*sConnection: close\r\n\r\n",
                                 status, contentType, body.size(),
                                 static_cast<int>(extraHeaders.size()), extraHeaders.data());
  if (headLength <= 0 || static_cast<std::size_t>(headLength) >= sizeof head) return;
  if (!sendAll(connection, head, static_cast<std::size_t>(headLength))) return;
  sendAll(connection, body);
}

std::string escapeErrorMessage(std::string_view message) {
  std::string escaped;
  std::size_t at = 0;
  // Whole characters only: the limit never cuts one, so the text stays well-formed UTF-8.
  while (at < message.size() && escaped.size() < kEscapedMessageLimit) {
    const unsigned char byte = static_cast<unsigned char>(message[at]);
    if (byte == '"' || byte == '\\') {
      escaped.push_back('\\');
      escaped.push_back(static_cast<char>(byte));
      ++at;
    } else if (byte < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", byte);
      escaped.append(code);
      ++at;
    } else if (std::size_t length = wellFormedUtf8Length(message, at); length > 0) {
      escaped.append(message.substr(at, length));
      at += length;
    } else {
      // A JSON text must be UTF-8: a byte that is no part of a character stands for itself as
      // the replacement character.
      escaped.append("\\ufffd");
      ++at;
    }
  }
  return escaped;
}

void sendJsonError(SocketConnection& connection, const char* status, std::string_view message,
                   std::string_view extraHeaders) {
  // Put together rather than printed into a fixed buffer: a cut there could only land in the
  // closing quote and brace, and the escaped message already has its bound.
  std::string body;
  body.reserve(kErrorObjectCapacity);
  body.append(kErrorObjectStart).append(escapeErrorMessage(message)).append(kErrorObjectEnd);
  sendResponse(connection, status, kJsonType, body, extraHeaders);
}

void sendPostOnly(SocketConnection& connection) {
  sendJsonError(connection, kMethodNotAllowed, "POST only", "Allow: POST\r\n");
}

}  // namespace tw
