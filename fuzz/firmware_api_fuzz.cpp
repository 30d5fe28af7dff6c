// The firmware action calls with arbitrary paths and bodies, through the whole request path, on
// the real firmware side (its thread not started). Whatever the bytes, every answer is a whole
// response with one of the statuses the calls give and a JSON body; a start that is answered 200
// has queued exactly one of the five actions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/strict_json.h"
#include "dongle/dongle_link.h"
#include "flash/firmware_subsystem.h"
#include "panel/http_server.h"
#include "sim/memory_connection.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/update_host_sim.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

class FixedRandom : public tw::RandomSource {
 public:
  bool randomBytes(std::uint8_t* out, std::size_t length) override {
    for (std::size_t i = 0; i < length; ++i) out[i] = 0x22;
    return true;
  }
  tw::EntropyHints entropyHints() override { return {}; }
};

class NoSockets : public tw::SocketPort {
 public:
  bool startup() override { return false; }
  std::unique_ptr<tw::ListeningSocket> createListener() override { return nullptr; }
};

class NoResources : public tw::Resources {
 public:
  bool loadRcData(int, const std::uint8_t*&, std::size_t&) override { return false; }
};

// Nothing is posted: the firmware side is never given a window.
class NoLoop : public tw::MessageLoop {
 public:
  std::uint32_t registerMessage(const std::string&) override { return 0; }
  tw::WindowId createHiddenWindow(const std::string&, const std::string&,
                                  tw::WindowHandler*) override {
    return 0;
  }
  void destroyWindow(tw::WindowId) override {}
  void allowMessage(tw::WindowId, std::uint32_t) override {}
  bool setTimer(tw::WindowId, std::uintptr_t, std::uint32_t) override { return false; }
  void killTimer(tw::WindowId, std::uintptr_t) override {}
  bool postMessage(tw::WindowId, std::uint32_t, tw::WParam, tw::LParam) override { return false; }
  void postQuit(int) override {}
  void run() override {}
  tw::LResult defaultProcedure(tw::WindowId, std::uint32_t, tw::WParam, tw::LParam) override {
    return 0;
  }
};

// No release is ever checked here.
class NoSignatures : public tw::SignatureVerifier {
 public:
  std::int32_t verifyEcdsaP256(const std::uint8_t*, const std::uint8_t*,
                               const std::uint8_t*) override {
    return -1;
  }
};

const std::uint8_t kNoKey[tw::ECC_P256_PUBLIC_BLOB_SIZE] = {};
const char kAsset[] = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";
const char kKey[] = "22222222222222222222222222222222";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tw::sim::VirtualClock clock;
  static tw::sim::World world{clock};
  static tw::sim::SimFileSystem files{clock};
  static tw::sim::SimDesktopShell desktop;
  static NoResources resources;
  static NoLoop loop;
  static tw::DongleLink dongle{world.hid()};
  static tw::sim::SimUpdateHost host{"updates.invalid"};
  static NoSignatures signatures;
  static tw::FirmwareSubsystem firmware{
      tw::FirmwarePorts{resources, loop, clock, world.usb(), dongle, files, desktop, host,
                        signatures, kNoKey},
      tw::FirmwareOptions{"1.2.0", nullptr}};
  static FixedRandom random;
  static NoSockets sockets;
  static tw::PanelHttpServer* server = [] {
    auto* made = new tw::PanelHttpServer({sockets, random, clock}, dongle, firmware, kAsset);
    made->prepareWithoutSocket(17832);
    return made;
  }();

  // The first byte picks the call (or a name taken from the input), the rest is the body.
  static const char* const kCalls[] = {"start", "cancel", "check", "dismiss"};
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string name;
  std::string body;
  if (size > 0 && data[0] < 0xF0) {
    name = kCalls[data[0] % 4];
    body = input.substr(1);
  } else {
    const std::size_t space = input.find(' ', 1);
    name = input.substr(size > 0 ? 1 : 0, space == std::string::npos ? 0 : space - 1);
    body = space == std::string::npos ? input : input.substr(space + 1);
  }
  const bool post = size < 2 || data[1] != 'G';
  const std::string request = std::string(post ? "POST" : "GET") + " /api/fw/" + name +
                              "?k=" + kKey + " HTTP/1.1\r\nHost: 127.0.0.1:17832\r\n" +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const bool wasBusy = firmware.isFirmwareBusy();
  tw::sim::MemoryConnection connection(request);
  server->serveConnection(connection);

  const std::string& sent = connection.sent;
  const std::size_t headEnd = sent.find("\r\n\r\n");
  check(headEnd != std::string::npos);
  const std::string status = sent.substr(0, sent.find("\r\n"));
  const std::string answer = sent.substr(headEnd + 4);
  check(tw::test::StrictJson().parse(answer));
  if (status == "HTTP/1.1 200 OK") {
    check(answer == "{\"ok\":true}");
    if (name == "start") {
      check(!wasBusy && firmware.isFirmwareBusy());
      std::lock_guard<std::mutex> lock(firmware.state().lock);
      check(firmware.state().request.action != tw::FirmwareAction::None);
    }
  } else {
    check(status == "HTTP/1.1 400 Bad Request" || status == "HTTP/1.1 404 Not Found" ||
          status == "HTTP/1.1 405 Method Not Allowed" || status == "HTTP/1.1 409 Conflict" ||
          status == "HTTP/1.1 403 Forbidden");
  }
  // The next input starts from nothing queued.
  firmware.cancelFirmwareJob();
  check(!firmware.isFirmwareBusy());
  return 0;
}
