#include "panel/device_api.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/text.h"
#include "dongle/dongle_reports.h"
#include "panel/base64.h"
#include "panel/http_text.h"

namespace tw {
namespace {

// The command that restarts the dongle into the boot ROM's update mode belongs to the firmware
// installer alone.
constexpr std::uint8_t kUpdateModeCommand = dongle::COMMAND_RESTART_INTO_UPDATE_MODE;

constexpr std::string_view kKeepAlive = ":\n\n";

const char* boolText(bool value) {
  return value ? "true" : "false";
}

// A report to write: id in byte 0, the payload after it, zeros to the end of the buffer.
struct ReportWrite {
  std::uint8_t report[kReportCapacity] = {};
  std::size_t payloadLength = 0;
};

// Reads the id and data fields of a report write; false after an error answer has been sent.
bool readReportWrite(SocketConnection& connection, std::string_view body, ReportWrite& write) {
  std::string idText;
  std::string dataText;
  if (!formValue(body, "id", idText, kIdCapacity)) {
    sendJsonError(connection, kBadRequest, "no id");
    return false;
  }
  if (!formValue(body, "data", dataText, kDataCapacity)) {
    sendJsonError(connection, kBadRequest, "no data");
    return false;
  }
  std::int64_t id = parseDecimal(idText);
  if (id < 1 || id > 255) {
    sendJsonError(connection, kBadRequest, "bad id");
    return false;
  }
  std::uint8_t payload[kMaxDecodedBytes];
  int decoded = base64Decode(dataText, payload);
  if (decoded < 0) {
    sendJsonError(connection, kBadRequest, "payload too long");
    return false;
  }
  write.payloadLength = static_cast<std::size_t>(decoded);
  write.report[0] = static_cast<std::uint8_t>(id);
  // A payload longer than the buffer's room cannot fit any report; the length check says so.
  std::memcpy(write.report + 1, payload, std::min(write.payloadLength, kReportCapacity - 1));
  return true;
}

}  // namespace

void DeviceApi::deviceInfo(SocketConnection& connection) {
  auto notFound = [&] {
    std::string body =
        formatText(64, "{\"found\":false,\"updating\":%s}", boolText(firmware_.isFirmwareBusy()));
    sendResponse(connection, "200 OK", kJsonType, body);
  };
  DongleChannel channel = dongle_.openChannel(DongleUse::FeatureReports);
  if (!channel.isOpen()) return notFound();
  HidAttributes attributes;
  if (!channel.capsKnown() || !channel.getAttributes(attributes)) return notFound();
  // The version goes into the answer as it is, so it keeps no character JSON would need escaped.
  std::string version;
  if (!channel.readIdentity(kReportCapacity, IdentityChars::JsonSafe, version) || version.empty()) {
    return notFound();
  }

  bool flags[256] = {};
  std::vector<std::uint8_t> ids;
  // A failure part way keeps the ids gathered so far.
  channel.getFeatureReportIds(ids);
  for (std::uint8_t id : ids) flags[id] = true;
  for (int id = dongle::COMMAND_REPORT; id <= dongle::SIGNAL_REPORT; ++id) flags[id] = true;
  std::string list = "[";
  for (int id = 1; id <= 255; ++id) {
    if (!flags[id]) continue;
    if (list.size() > 1) list.push_back(',');
    list += std::to_string(id);
  }
  list.push_back(']');
  list = std::string(utf8Prefix(list, kFeatureListCapacity - 1));
  channel.close();

  std::string body = formatText(
      kDeviceInfoCapacity,
      "{\"found\":true,\"vid\":%u,\"pid\":%u,\"version\":\"%s\",\"name\":\"Tarnwick Bridge\","
      "\"features\":%s,\"updating\":%s}",
      static_cast<unsigned>(attributes.vendorId), static_cast<unsigned>(attributes.productId),
      version.c_str(), list.c_str(), boolText(firmware_.isFirmwareBusy()));
  sendResponse(connection, "200 OK", kJsonType, body);
}

void DeviceApi::open(SocketConnection& connection) {
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
}

void DeviceApi::feature(SocketConnection& connection, std::string_view query, std::string_view body,
                        bool isPost) {
  if (isPost) {
    featureWrite(connection, body);
  } else {
    featureRead(connection, query);
  }
}

void DeviceApi::featureRead(SocketConnection& connection, std::string_view query) {
  std::string idText;
  if (!formValue(query, "id", idText, kIdCapacity)) {
    return sendJsonError(connection, kBadRequest, "no id");
  }
  std::int64_t id = parseDecimal(idText);
  if (id < 1 || id > 255) return sendJsonError(connection, kBadRequest, "bad id");

  std::uint8_t report[kReportCapacity] = {};
  report[0] = static_cast<std::uint8_t>(id);
  std::size_t length = 0;
  switch (
      dongle_.openChannel(DongleUse::FeatureReports).getFeature(report, sizeof report, length)) {
    case DongleExchange::NotOpen:
      return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
    case DongleExchange::BadLength:
      return sendJsonError(connection, kInternalError, "odd report length");
    case DongleExchange::Failed:
      return sendJsonError(connection, kUnavailable, "The dongle did not answer");
    case DongleExchange::Done:
      break;
  }
  char encoded[base64EncodedCapacity(kReportCapacity)];
  base64Encode(report, length, encoded);
  std::string answer = formatText(kFeatureAnswerCapacity, "{\"ok\":true,\"data\":\"%s\"}", encoded);
  sendResponse(connection, "200 OK", kJsonType, answer);
}

void DeviceApi::featureWrite(SocketConnection& connection, std::string_view body) {
  ReportWrite write;
  if (!readReportWrite(connection, body, write)) return;
  if (write.report[0] == dongle::COMMAND_REPORT) {
    if (write.payloadLength > 0 && write.report[1] == kUpdateModeCommand) {
      return sendJsonError(connection, kConflict, "Use the app's firmware update instead");
    }
    if (firmware_.isFirmwareBusy()) {
      return sendJsonError(connection, kConflict, "The firmware is being updated");
    }
  }
  switch (dongle_.openChannel(DongleUse::FeatureReports)
              .setFeature(write.report, sizeof write.report, write.payloadLength)) {
    case DongleExchange::NotOpen:
      return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
    case DongleExchange::BadLength:
      return sendJsonError(connection, kBadRequest, "payload does not fit the report");
    case DongleExchange::Failed:
      return sendJsonError(connection, kUnavailable, "The dongle refused the write");
    case DongleExchange::Done:
      break;
  }
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
}

void DeviceApi::output(SocketConnection& connection, std::string_view body, bool isPost) {
  if (!isPost) return sendPostOnly(connection);
  ReportWrite write;
  if (!readReportWrite(connection, body, write)) return;
  switch (dongle_.openChannel(DongleUse::OutputReports)
              .writeOutput(write.report, sizeof write.report, write.payloadLength,
                           timings_.outputWaitMs)) {
    case DongleExchange::NotOpen:
      return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
    case DongleExchange::BadLength:
      return sendJsonError(connection, kBadRequest, "payload does not fit the report");
    case DongleExchange::Failed:
      return sendJsonError(connection, kUnavailable, "The dongle did not take the report");
    case DongleExchange::Done:
      break;
  }
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
}

void DeviceApi::inputStream(SocketConnection& connection) {
  // The head goes out before the device is opened, so the browser sees the stream at once.
  if (!sendAll(connection, kEventStreamHead)) return;
  DongleChannel channel = dongle_.openChannel(DongleUse::InputReports);
  const std::size_t length = channel.inputLength(kInputReportCapacity);
  if (length == 0) return;
  std::unique_ptr<std::uint8_t[]> report(new (std::nothrow) std::uint8_t[length]());
  std::unique_ptr<char[]> event(new (std::nothrow) char[2 * length + 32]);
  if (!report || !event) return;

  while (!stopping_.load()) {
    InputReadResult read =
        channel.readInput(report.get(), length, timings_.inputWaitMs, timings_.cancelWaitMs);
    if (read.outcome == InputReadResult::Outcome::Failed) return;
    if (read.outcome == InputReadResult::Outcome::TimedOut) {
      if (!sendAll(connection, kKeepAlive)) return;
      continue;
    }
    if (read.bytes < 2) continue;  // no more than a report id
    std::size_t bytes = std::min(read.bytes, length);
    std::memcpy(event.get(), "data: ", 6);
    std::size_t used = 6 + base64Encode(report.get(), bytes, event.get() + 6);
    std::memcpy(event.get() + used, "\n\n", 2);
    if (!sendAll(connection, event.get(), used + 2)) return;
  }
}

}  // namespace tw
