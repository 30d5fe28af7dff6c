#include "panel/firmware_api.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/text.h"
#include "panel/http_text.h"

namespace tw {
namespace {

constexpr std::string_view kKeepAlive = ":\n\n";
constexpr std::string_view kEventStart = "data: ";
constexpr char kOk[] = "{\"ok\":true}";

}  // namespace

void FirmwareApi::state(SocketConnection& connection) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kStateCapacity]);
  if (!buffer) return sendJsonError(connection, kInternalError, "out of memory");
  if (!firmware_.writeFirmwareState(buffer.get(), kStateCapacity)) {
    return sendJsonError(connection, kInternalError, "state too large");
  }
  sendResponse(connection, "200 OK", kJsonType, buffer.get());
}

void FirmwareApi::events(SocketConnection& connection) {
  std::unique_ptr<char[]> event(new (std::nothrow) char[kEventCapacity]);
  if (!event) return;  // closed without an answer
  std::uint64_t lastWrite = clock_.tickMs();
  if (!sendAll(connection, kEventStreamHead)) return;

  // The counter starts at 1, so every new stream sends the document at once.
  std::uint32_t lastSent = 0;
  while (!stopping_.load()) {
    const std::uint32_t seq = firmware_.firmwareSeq();
    if (seq != lastSent) {
      std::memcpy(event.get(), kEventStart.data(), kEventStart.size());
      char* document = event.get() + kEventStart.size();
      if (!firmware_.writeFirmwareState(document, kStateCapacity)) {
        // Nothing is sent until the state changes again; the silence still earns keep-alives.
        lastSent = seq;
        clock_.sleepMs(timings_.tooLargeWaitMs);
        continue;
      }
      std::size_t length = kEventStart.size() + std::strlen(document);
      std::memcpy(event.get() + length, "\n\n", 2);
      length += 2;
      if (!sendAll(connection, event.get(), length)) return;
      lastWrite = clock_.tickMs();
    } else if (intervalPassed(clock_.tickMs(), lastWrite, timings_.keepAliveMs)) {
      if (!sendAll(connection, kKeepAlive)) return;
      lastWrite = clock_.tickMs();
    }
    // Several changes within one sleep reach the page once, in their latest form.
    lastSent = seq;
    clock_.sleepMs(timings_.pollMs);
  }
}

void FirmwareApi::action(SocketConnection& connection, std::string_view path, std::string_view body,
                         bool isPost) {
  // Before the name check: any other method on any such path is told the same.
  if (!isPost) return sendPostOnly(connection);
  if (path == "/api/fw/start") {
    std::string action;
    if (!formValue(body, "action", action, kActionCapacity)) {
      return sendJsonError(connection, kBadRequest, "no action");
    }
    // Confirming replaces firmware that is not ours: only the page's exact "1" does it, never a
    // value that merely starts like it.
    std::string confirm;
    formValue(body, "confirm", confirm, kConfirmCapacity);
    const bool confirmed = confirm == "1";
    std::string refusal;
    if (!firmware_.startFirmwareAction(action, confirmed, refusal)) {
      return sendJsonError(connection, kConflict, cutUtf8(refusal, kRefusalCapacity));
    }
    return sendResponse(connection, "200 OK", kJsonType, kOk);
  }
  if (path == "/api/fw/cancel") {
    firmware_.cancelFirmwareJob();
    return sendResponse(connection, "200 OK", kJsonType, kOk);
  }
  if (path == "/api/fw/check") {
    firmware_.requestUpdateCheck();
    return sendResponse(connection, "200 OK", kJsonType, kOk);
  }
  if (path == "/api/fw/dismiss") {
    firmware_.dismissFirmwareResult();
    return sendResponse(connection, "200 OK", kJsonType, kOk);
  }
  sendJsonError(connection, kNotFound, "no such call");
}

}  // namespace tw
