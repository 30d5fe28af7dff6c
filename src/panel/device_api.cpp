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

constexpr std::size_t kReportBuffer = 512;
constexpr std::size_t kMinReportLength = 2;
constexpr std::size_t kMaxInputReportLength = 1024;
constexpr std::size_t kIdCapacity = 16;
constexpr std::size_t kDataCapacity = 1400;
constexpr std::size_t kMaxVersionChars = 63;
constexpr std::size_t kFeatureListCapacity = 1200;
constexpr std::size_t kDeviceInfoCapacity = 1600;
constexpr std::size_t kFeatureAnswerCapacity = 900;

// The command that restarts the dongle into the boot ROM's update mode belongs to the firmware
// installer alone.
constexpr std::uint8_t kUpdateModeCommand = dongle::COMMAND_RESTART_INTO_UPDATE_MODE;

constexpr std::string_view kStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
    "X-Accel-Buffering: no\r\nConnection: close\r\n\r\n";
constexpr std::string_view kKeepAlive = ":\n\n";

const char* boolText(bool value) {
  return value ? "true" : "false";
}

// The id and data fields of a report write; false after an error answer has been sent.
struct ReportWrite {
  int id = 0;
  std::uint8_t payload[kMaxDecodedBytes] = {};
  std::size_t payloadLength = 0;
};

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
  int decoded = base64Decode(dataText, write.payload);
  if (decoded < 0) {
    sendJsonError(connection, kBadRequest, "payload too long");
    return false;
  }
  write.id = static_cast<int>(id);
  write.payloadLength = static_cast<std::size_t>(decoded);
  return true;
}

// Byte 0 the id, the payload after it, zeros to the end of the report.
void buildReport(const ReportWrite& write, std::uint8_t* report) {
  std::memset(report, 0, kReportBuffer);
  report[0] = static_cast<std::uint8_t>(write.id);
  std::memcpy(report + 1, write.payload, write.payloadLength);
}

}  // namespace

std::string versionTextForJson(const std::uint8_t* report, std::size_t length) {
  std::string text;
  for (std::size_t i = 1; i < length && text.size() < kMaxVersionChars; ++i) {
    std::uint8_t byte = report[i];
    if (byte == 0) break;
    if (byte >= 0x20 && byte <= 0x7E && byte != '"' && byte != '\\') {
      text.push_back(static_cast<char>(byte));
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::unique_ptr<HidDevice> DeviceApi::openForReports() {
  // Another program holding the pad may deny read and write access; feature reports still pass
  // on a handle without access rights.
  if (auto device = dongle_.openDongle(HidAccess::ReadWrite, false)) return device;
  return dongle_.openDongle(HidAccess::None, false);
}

void DeviceApi::deviceInfo(SocketConnection& connection) {
  auto notFound = [&] {
    std::string body =
        formatText(64, "{\"found\":false,\"updating\":%s}", boolText(firmware_.isFirmwareBusy()));
    sendResponse(connection, "200 OK", kJsonType, body);
  };
  std::unique_ptr<HidDevice> device = openForReports();
  if (!device) return notFound();

  HidCaps caps;
  HidAttributes attributes;
  if (!DongleLink::getHidCaps(*device, caps) || !device->getAttributes(attributes) ||
      caps.featureReportByteLength < 3) {
    return notFound();
  }
  std::uint8_t report[kReportBuffer] = {};
  report[0] = dongle::IDENTITY_REPORT;
  std::size_t length = std::min<std::size_t>(caps.featureReportByteLength, kReportBuffer);
  if (!device->getFeature(report, length)) return notFound();
  std::string version = versionTextForJson(report, length);
  if (version.empty()) return notFound();

  bool flags[256] = {};
  std::vector<std::uint8_t> ids;
  // A failure part way keeps the ids gathered so far.
  device->getFeatureReportIds(ids);
  for (std::uint8_t id : ids) flags[id] = true;
  for (int id = 0xF6; id <= 0xF9; ++id) flags[id] = true;
  std::string list = "[";
  for (int id = 1; id <= 255; ++id) {
    if (!flags[id]) continue;
    if (list.size() > 1) list.push_back(',');
    list += std::to_string(id);
  }
  list.push_back(']');
  list = std::string(utf8Prefix(list, kFeatureListCapacity - 1));
  device.reset();

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

  std::unique_ptr<HidDevice> device = openForReports();
  if (!device) return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
  HidCaps caps;
  if (!DongleLink::getHidCaps(*device, caps) || caps.featureReportByteLength < kMinReportLength ||
      caps.featureReportByteLength > kReportBuffer) {
    return sendJsonError(connection, kInternalError, "odd report length");
  }
  std::size_t length = caps.featureReportByteLength;
  std::uint8_t report[kReportBuffer] = {};
  report[0] = static_cast<std::uint8_t>(id);
  if (!device->getFeature(report, length)) {
    return sendJsonError(connection, kUnavailable, "The dongle did not answer");
  }
  device.reset();
  char encoded[base64EncodedCapacity(kReportBuffer)];
  base64Encode(report, length, encoded);
  std::string answer = formatText(kFeatureAnswerCapacity, "{\"ok\":true,\"data\":\"%s\"}", encoded);
  sendResponse(connection, "200 OK", kJsonType, answer);
}

void DeviceApi::featureWrite(SocketConnection& connection, std::string_view body) {
  ReportWrite write;
  if (!readReportWrite(connection, body, write)) return;
  if (write.id == dongle::COMMAND_REPORT) {
    if (write.payloadLength > 0 && write.payload[0] == kUpdateModeCommand) {
      return sendJsonError(connection, kConflict, "Use the app's firmware update instead");
    }
    if (firmware_.isFirmwareBusy()) {
      return sendJsonError(connection, kConflict, "The firmware is being updated");
    }
  }
  std::unique_ptr<HidDevice> device = openForReports();
  if (!device) return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
  HidCaps caps;
  if (!DongleLink::getHidCaps(*device, caps) || caps.featureReportByteLength < kMinReportLength ||
      caps.featureReportByteLength > kReportBuffer ||
      caps.featureReportByteLength < write.payloadLength + 1) {
    return sendJsonError(connection, kBadRequest, "payload does not fit the report");
  }
  std::uint8_t report[kReportBuffer];
  buildReport(write, report);
  bool sent = device->setFeature(report, caps.featureReportByteLength);
  device.reset();
  if (!sent) return sendJsonError(connection, kUnavailable, "The dongle refused the write");
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
}

void DeviceApi::output(SocketConnection& connection, std::string_view body, bool isPost) {
  if (!isPost) return sendJsonError(connection, kMethodNotAllowed, "POST only");
  ReportWrite write;
  if (!readReportWrite(connection, body, write)) return;
  std::unique_ptr<HidDevice> device = dongle_.openDongle(HidAccess::ReadWrite, true);
  if (!device) return sendJsonError(connection, kUnavailable, "The Bridge is not plugged in");
  HidCaps caps;
  if (!DongleLink::getHidCaps(*device, caps) || caps.outputReportByteLength < kMinReportLength ||
      caps.outputReportByteLength > kReportBuffer ||
      caps.outputReportByteLength < write.payloadLength + 1) {
    return sendJsonError(connection, kBadRequest, "payload does not fit the report");
  }
  std::uint8_t report[kReportBuffer];
  buildReport(write, report);
  bool taken = device->writeOutput(report, caps.outputReportByteLength, timings_.outputWaitMs);
  device.reset();
  if (!taken) return sendJsonError(connection, kUnavailable, "The dongle did not take the report");
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
}

void DeviceApi::inputStream(SocketConnection& connection) {
  // The head goes out before the device is opened, so the browser sees the stream at once.
  if (!sendAll(connection, kStreamHead)) return;
  std::unique_ptr<HidDevice> device = dongle_.openDongle(HidAccess::Read, true);
  if (!device) return;
  HidCaps caps;
  if (!DongleLink::getHidCaps(*device, caps) || caps.inputReportByteLength < kMinReportLength ||
      caps.inputReportByteLength > kMaxInputReportLength) {
    return;
  }
  const std::size_t length = caps.inputReportByteLength;
  std::unique_ptr<std::uint8_t[]> report(new (std::nothrow) std::uint8_t[length]());
  std::unique_ptr<char[]> event(new (std::nothrow) char[2 * length + 32]);
  if (!report || !event) return;

  while (!stopping_.load()) {
    InputReadResult read =
        device->readInput(report.get(), length, timings_.inputWaitMs, timings_.cancelWaitMs);
    if (read.outcome == InputReadResult::Outcome::Failed) return;
    if (read.outcome == InputReadResult::Outcome::TimedOut) {
      if (!sendAll(connection, kKeepAlive)) return;
      continue;
    }
    if (read.bytes < kMinReportLength) continue;
    std::size_t bytes = std::min(read.bytes, length);
    std::memcpy(event.get(), "data: ", 6);
    std::size_t used = 6 + base64Encode(report.get(), bytes, event.get() + 6);
    std::memcpy(event.get() + used, "\n\n", 2);
    if (!sendAll(connection, event.get(), used + 2)) return;
  }
}

}  // namespace tw
