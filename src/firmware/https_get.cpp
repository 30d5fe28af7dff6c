#include "firmware/https_get.h"

#include <cstring>
#include <string>

#include "common/text.h"
#include "firmware/update_host.h"

namespace tw {
namespace {

constexpr std::size_t kFirstBufferSize = 65536;
constexpr std::uint64_t kNoLength = ~std::uint64_t{0};

class Failure {
 public:
  Failure(char* error, std::size_t capacity)
      : error_(error),
        capacity_(capacity < HTTPS_ERROR_CAPACITY ? capacity : HTTPS_ERROR_CAPACITY) {
    set("");
  }

  // Always returns 0, the result of a failed fetch.
  int operator()(std::string_view message) {
    set(message);
    return 0;
  }

 private:
  void set(std::string_view text) {
    if (error_ == nullptr || capacity_ == 0) return;
    text = utf8Prefix(text, capacity_ - 1);
    std::size_t n = text.size();
    std::memcpy(error_, text.data(), n);
    error_[n] = '\0';
  }

  char* error_;
  std::size_t capacity_;
};

// The Content-Length as a number, or kNoLength when the header is missing or not a number.
std::uint64_t parseContentLength(const std::string& text) {
  std::size_t at = 0, end = text.size();
  while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
  while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (at == end) return kNoLength;
  std::uint64_t value = 0;
  for (; at < end; ++at) {
    if (text[at] < '0' || text[at] > '9') return kNoLength;
    const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
    // Saturate: anything this large is over every limit anyway.
    value = value > (kNoLength - 1 - digit) / 10 ? kNoLength - 1 : value * 10 + digit;
  }
  return value;
}

bool stopping(const std::atomic<bool>* stopFlag) {
  return stopFlag != nullptr && stopFlag->load();
}

}  // namespace

int httpsGet(HttpsPort& port, const std::atomic<bool>* stopFlag, std::string_view path,
             std::size_t maxBytes, FetchedBytes& outData, std::size_t& outLength,
             const HttpsProgress& progress, char* error, std::size_t errorCapacity) {
  Failure fail(error, errorCapacity);
  outData.reset();
  outLength = 0;

  std::uint32_t code = 0;
  std::unique_ptr<HttpsSession> session = port.open(HTTPS_USER_AGENT, HttpsProxy::Automatic, code);
  // Older systems refuse automatic proxy discovery; the configured proxy still works there.
  if (!session) session = port.open(HTTPS_USER_AGENT, HttpsProxy::Default, code);
  if (!session)
    return fail(formatText(HTTPS_ERROR_CAPACITY, "couldn't start a web request (error %lu)",
                           static_cast<unsigned long>(code)));

  HttpsTimeouts timeouts;
  timeouts.resolveMs = 10000;
  timeouts.connectMs = 10000;
  timeouts.sendMs = 15000;
  timeouts.receiveMs = 20000;
  session->setTimeouts(timeouts);

  std::unique_ptr<HttpsConnection> connection = session->connect(UpdateHost, 443, code);
  if (!connection)
    return fail(formatText(HTTPS_ERROR_CAPACITY, "couldn't reach %s (error %lu)", UpdateHost,
                           static_cast<unsigned long>(code)));
  HttpsRequestOptions options;
  options.secure = true;
  options.refresh = true;
  // A redirect could lead anywhere; the release list and files come from UpdateHost only.
  options.disableRedirects = true;
  std::unique_ptr<HttpsRequest> request = connection->openGet(path, options, code);
  if (!request)
    return fail(formatText(HTTPS_ERROR_CAPACITY, "couldn't reach %s (error %lu)", UpdateHost,
                           static_cast<unsigned long>(code)));

  if (!request->send("Cache-Control: no-cache\r\n", code) || !request->receiveResponse(code)) {
    switch (code) {
      case HTTPS_ERROR_TIMEOUT:
        return fail(formatText(HTTPS_ERROR_CAPACITY, "%s didn't answer in time", UpdateHost));
      case HTTPS_ERROR_NAME_NOT_RESOLVED:
      case HTTPS_ERROR_CANNOT_CONNECT:
        return fail("this PC looks offline");
      default:
        return fail(formatText(HTTPS_ERROR_CAPACITY, "couldn't reach %s (error %lu)", UpdateHost,
                               static_cast<unsigned long>(code)));
    }
  }

  std::uint32_t status = 0;
  if (!request->statusCode(status)) status = 0;
  if (status != 200)
    return fail(formatText(HTTPS_ERROR_CAPACITY, "%s answered %lu", UpdateHost,
                           static_cast<unsigned long>(status)));

  std::string lengthText;
  const std::uint64_t contentLength =
      request->contentLength(lengthText) ? parseContentLength(lengthText) : kNoLength;
  const bool hasLength = contentLength != kNoLength;
  if (hasLength && contentLength > maxBytes)
    return fail("the download is bigger than it should be");
  if (stopping(stopFlag)) return fail("stopped");

  FetchedBytes buffer;
  std::size_t capacity = 0;
  std::size_t total = 0;
  for (;;) {
    std::uint32_t available = 0;
    if (!request->queryDataAvailable(available, code)) {
      return fail(formatText(HTTPS_ERROR_CAPACITY, "the download broke off (error %lu)",
                             static_cast<unsigned long>(code)));
    }
    if (available == 0) break;
    if (available > maxBytes - total) return fail("the download is bigger than it should be");
    const std::size_t needed = total + available;
    if (needed > capacity) {
      std::size_t grown = capacity == 0 ? kFirstBufferSize : capacity;
      while (grown < needed && grown <= maxBytes / 2) grown *= 2;
      if (grown < needed || grown > maxBytes) grown = maxBytes;  // needed <= maxBytes here
      void* moved = std::realloc(buffer.get(), grown);
      if (moved == nullptr) return fail("out of memory");
      buffer.release();
      buffer.reset(static_cast<unsigned char*>(moved));
      capacity = grown;
    }
    std::uint32_t got = 0;
    if (!request->readData(buffer.get() + total, available, got, code)) {
      return fail(formatText(HTTPS_ERROR_CAPACITY, "the download broke off (error %lu)",
                             static_cast<unsigned long>(code)));
    }
    if (got == 0) break;
    if (got > available)
      return fail(formatText(HTTPS_ERROR_CAPACITY, "the download broke off (error %lu)", 0ul));
    total += got;
    if (progress) progress(total, hasLength ? contentLength : 0);
    if (stopping(stopFlag)) return fail("stopped");
  }

  if (hasLength && total != contentLength) return fail("the download was cut short");
  if (!hasLength && total == 0)
    return fail(formatText(HTTPS_ERROR_CAPACITY, "%s sent nothing", UpdateHost));
  if (!buffer) {
    // An empty body that was declared empty: still hand over a buffer the caller can free.
    buffer.reset(static_cast<unsigned char*>(std::malloc(1)));
    if (!buffer) return fail("out of memory");
  }
  outData = std::move(buffer);
  outLength = total;
  return 1;
}

}  // namespace tw
