// One request through the whole reading and checking path, over an in-memory connection, with a
// simulated dongle behind the device API. The key is fixed (all random bytes 0x11), so inputs
// holding "k=11111111111111111111111111111111" reach the handlers. Whatever the bytes, a firmware
// action is taken only for a request whose head names this server once and whose declared body
// arrived whole, and an answer of 200 goes only to such a head.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dongle/dongle_link.h"
#include "flash/firmware_service.h"
#include "panel/http_server.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace {

class FixedRandom : public tw::RandomSource {
 public:
  bool randomBytes(std::uint8_t* out, std::size_t length) override {
    for (std::size_t i = 0; i < length; ++i) out[i] = 0x11;
    return true;
  }
  tw::EntropyHints entropyHints() override { return {}; }
};

class NoSockets : public tw::SocketPort {
 public:
  bool startup() override { return false; }
  std::unique_ptr<tw::ListeningSocket> createListener() override { return nullptr; }
};

// Takes every action and counts them.
class CountingFirmware : public tw::IdleFirmware {
 public:
  bool startFirmwareAction(const std::string&, bool, std::string&) override {
    ++actions;
    return true;
  }
  int actions = 0;
};

const char kAsset[] = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";

// Whether `text` starts with `name` (given in lower case), case ignored.
bool startsWithLower(std::string_view text, std::string_view name) {
  if (text.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != name[i]) return false;
  }
  return true;
}

// The lines of `head` after its first that start with `name`.
int linesStartingWith(std::string_view head, std::string_view name) {
  int count = 0;
  for (std::size_t at = head.find('\n'); at != std::string_view::npos;
       at = head.find('\n', at + 1)) {
    count += startsWithLower(head.substr(at + 1), name);
  }
  return count;
}

// The digits of the head's first Content-Length, 0 without one.
std::size_t declaredLength(std::string_view head) {
  constexpr std::string_view kName = "content-length:";
  for (std::size_t line = head.find('\n'); line != std::string_view::npos;
       line = head.find('\n', line + 1)) {
    std::string_view rest = head.substr(line + 1);
    if (!startsWithLower(rest, kName)) continue;
    std::size_t at = kName.size();
    while (at < rest.size() && (rest[at] == ' ' || rest[at] == '\t')) ++at;
    std::size_t length = 0;
    while (at < rest.size() && rest[at] >= '0' && rest[at] <= '9' && length < 100000) {
      length = length * 10 + static_cast<std::size_t>(rest[at++] - '0');
    }
    return length;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tw::sim::VirtualClock clock;
  static tw::sim::World world{clock};
  static tw::DongleLink dongle{world.hid()};
  static CountingFirmware firmware;
  static FixedRandom random;
  static NoSockets sockets;
  static tw::PanelHttpServer* server = [] {
    auto* made = new tw::PanelHttpServer({sockets, random, clock}, dongle, firmware, kAsset);
    made->prepareWithoutSocket(17832);
    return made;
  }();

  // The first byte splits the input into two arrivals, so reads that stop early are reached, and
  // says whether the peer then closes or lets the receive wait run out.
  std::string request(reinterpret_cast<const char*>(data), size);
  tw::sim::MemoryConnection connection;
  std::size_t split = size > 0 ? data[0] % (size + 1) : 0;
  connection.addChunk(request.substr(0, split));
  connection.addChunk(request.substr(split));
  connection.timeOutAtEnd = size > 0 && (data[0] & 0x80) != 0;
  // Input streams end once the peer stops taking bytes.
  connection.sendBudget = 4096;
  const int actionsBefore = firmware.actions;
  server->serveConnection(connection);

  // What the server could have received: at most its buffer's worth.
  std::string_view received(request);
  received = received.substr(0, 16384);
  const std::size_t headEnd = received.find("\r\n\r\n");
  const std::string_view head = received.substr(0, headEnd);
  const bool answered200 = connection.sent.rfind("HTTP/1.1 200 ", 0) == 0;
  const bool acted = firmware.actions != actionsBefore;
  if ((answered200 || acted) && linesStartingWith(head, "host:") != 1) std::abort();
  if (acted && (headEnd == std::string_view::npos ||
                received.size() - (headEnd + 4) < declaredLength(head))) {
    std::abort();
  }
  return 0;
}
