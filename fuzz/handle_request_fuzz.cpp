// One request through the whole reading and checking path, over an in-memory connection, with a
// simulated dongle behind the device API. The key is fixed (all random bytes 0x11), so inputs
// holding "k=11111111111111111111111111111111" reach the handlers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/firmware_service.h"
#include "dongle/dongle_link.h"
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

const char kAsset[] = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tw::sim::VirtualClock clock;
  static tw::sim::World world{clock};
  static tw::DongleLink dongle{world.hid()};
  static tw::IdleFirmware firmware;
  static FixedRandom random;
  static NoSockets sockets;
  static tw::PanelHttpServer* server = [] {
    auto* made = new tw::PanelHttpServer({sockets, random, clock}, dongle, firmware, kAsset);
    made->prepareWithoutSocket(17832);
    return made;
  }();

  // The first byte splits the input into two arrivals, so reads that stop early are reached.
  std::string request(reinterpret_cast<const char*>(data), size);
  tw::sim::MemoryConnection connection;
  std::size_t split = size > 0 ? data[0] % (size + 1) : 0;
  connection.addChunk(request.substr(0, split));
  connection.addChunk(request.substr(split));
  // Input streams end once the peer stops taking bytes.
  connection.sendBudget = 4096;
  server->serveConnection(connection);
  return 0;
}
