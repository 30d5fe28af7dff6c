#include "panel/http_text.h"

#include <cstdio>

#include "common/text.h"

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

// Escaping stops once this much escaped text exists; the error object then still fits its
// 767-byte template.
constexpr std::size_t kEscapedMessageLimit = 633;
constexpr std::size_t kErrorObjectCapacity = 768;
constexpr std::size_t kHeadCapacity = 512;

}  // namespace

bool headerValue(std::string_view request, std::string_view name, std::string& out,
                 std::size_t capacity) {
  out.clear();
  std::size_t lineFeed = request.find('\n');
  while (lineFeed != std::string_view::npos) {
    std::string_view line = request.substr(lineFeed + 1);
    if (startsWithIgnoreCase(line, name) && line.size() > name.size() && line[name.size()] == ':') {
      std::size_t start = name.size() + 1;
      while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
      std::size_t end = start;
      while (end < line.size() && line[end] != '\0' && line[end] != '\r' && line[end] != '\n') {
        ++end;
      }
      std::size_t keep = capacity == 0 ? 0 : std::min(end - start, capacity - 1);
      out.assign(line.substr(start, keep));
      return true;
    }
    lineFeed = request.find('\n', lineFeed + 1);
  }
  return false;
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
                  std::string_view body) {
  char head[kHeadCapacity];
  int headLength = std::snprintf(head, sizeof head,
                                 "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                                 "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                                 "Connection: close\r\n\r\n",
                                 status, contentType, body.size());
  if (headLength <= 0 || static_cast<std::size_t>(headLength) >= sizeof head) return;
  if (!sendAll(connection, head, static_cast<std::size_t>(headLength))) return;
  sendAll(connection, body);
}

std::string escapeErrorMessage(std::string_view message) {
  std::string escaped;
  for (char c : message) {
    if (escaped.size() >= kEscapedMessageLimit) break;
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      escaped.push_back('\\');
      escaped.push_back(c);
    } else if (byte < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", byte);
      escaped.append(code);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

void sendJsonError(SocketConnection& connection, const char* status, std::string_view message) {
  std::string body = formatText(kErrorObjectCapacity, "{\"ok\":false,\"error\":\"%s\"}",
                                escapeErrorMessage(message).c_str());
  sendResponse(connection, status, kJsonType, body);
}

}  // namespace tw
