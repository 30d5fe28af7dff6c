#include "soak/soak_history.h"

#include <cstdio>
#include <functional>
#include <utility>

#include "soak/soak_random.h"

namespace tw::soak {
namespace {

using Maker = std::function<std::string(SoakRandom&)>;

struct Choice {
  unsigned weight;
  Maker make;
};

const std::vector<std::string> kBoardVersions = {"0.9.1", "0.9.3", "0.9.4", "1.0.0", "0.8.5"};
const std::vector<std::string> kPublished = {"0.9.4", "0.9.5", "1.0.0", "1.0.1", "0.9.2"};
const std::vector<std::string> kActions = {"update", "install", "reinstall", "repair", "restart"};

std::string text(const char* words) {
  return words;
}

// Most of a day is waiting: many short pauses, some long ones, a few of hours.
std::uint64_t randomWait(SoakRandom& random) {
  const std::uint64_t roll = random.below(100);
  if (roll < 35) return random.between(1, 500);
  if (roll < 65) return random.between(500, 10'000);
  if (roll < 85) return random.between(10'000, 300'000);
  if (roll < 96) return random.between(300'000, 3'600'000);
  return random.between(3'600'000, 6 * 3'600'000);
}

std::string fwStart(SoakRandom& random) {
  std::string line = "fw start " + random.pick(kActions);
  if (random.chance(400)) line += " confirm";
  return line;
}

std::string panelStart(SoakRandom& random) {
  std::string line = "panel POST /api/fw/start action=" + random.pick(kActions);
  if (random.chance(450)) line += "&confirm=1";
  return line;
}

// The 0xF6 command report as the panel writes it: 63 bytes, the command first.
std::string settingsCommand(SoakRandom& random) {
  std::vector<std::uint8_t> payload(63, 0);
  const std::uint64_t roll = random.below(10);
  if (roll < 5) {
    payload[0] = 0x01;  // write settings: random bytes, the dongle clamps what is invalid
    for (int i = 1; i <= 22; ++i) payload[i] = static_cast<std::uint8_t>(random.below(256));
  } else if (roll < 8) {
    payload[0] = 0x02;  // save
  } else if (roll < 9) {
    payload[0] = 0x03;  // reconnect
  } else {
    payload[0] = 0x04;  // restart into update mode: the panel is told to use the app instead
  }
  return "panel POST /api/feature id=246&data=" + formBase64(payload);
}

std::string outputReport(SoakRandom& random) {
  std::vector<std::uint8_t> payload(47);
  for (std::uint8_t& byte : payload) byte = static_cast<std::uint8_t>(random.below(256));
  return "panel POST /api/output id=2&data=" + formBase64(payload);
}

std::string pad(SoakRandom& random) {
  std::string line = "pad";
  for (int i = 0; i < 9; ++i) {
    line += ' ';
    line += std::to_string(random.below(256));
  }
  return line;
}

std::string boardFault(SoakRandom& random) {
  static const std::vector<std::string> operations = {
      "command", "unplug-at-command", "read-pipe", "write-pipe", "control",
      "open",    "initialize",        "boot"};
  static const std::vector<std::string> kinds = {"fail", "stall", "busy"};
  return "fault board " + random.pick(operations) + " " + random.pick(kinds) + " " +
         std::to_string(random.between(1, 400)) + " " + std::to_string(random.between(1, 3));
}

std::string dongleFault(SoakRandom& random) {
  static const std::vector<std::string> operations = {
      "open", "attributes", "caps", "get-feature", "set-feature", "read-input", "write-output"};
  static const std::vector<std::string> kinds = {"fail", "stall", "busy"};
  return "fault " + random.pick(operations) + " " + random.pick(kinds) + " " +
         std::to_string(random.between(1, 20)) + " " + std::to_string(random.between(1, 4));
}

std::vector<Choice> vocabulary() {
  std::vector<Choice> choices = {
      // The dongle on the desk.
      {8, [](SoakRandom& r) { return r.chance(700) ? text("plug") : text("plug 2"); }},
      {5, [](SoakRandom&) { return text("unplug"); }},
      {4, [](SoakRandom& r) { return r.chance(600) ? text("on") : text("off"); }},
      {3, [](SoakRandom& r) { return "battery " + std::to_string(r.below(11)); }},
      {2,
       [](SoakRandom& r) {
         static const std::vector<std::string> states = {"charging", "discharging", "full"};
         return r.pick(states);
       }},
      {2, [](SoakRandom& r) { return "signal " + std::to_string(-100 + int(r.below(70))); }},
      {2, pad},
      {1, [](SoakRandom&) { return text("pair"); }},
      {6, [](SoakRandom&) { return text("press"); }},
      {1, [](SoakRandom& r) { return r.chance(500) ? text("dualsense") : text("keyboard"); }},
      // Boards in update mode.
      {5, [](SoakRandom& r) { return "board ours " + r.pick(kBoardVersions); }},
      {2, [](SoakRandom&) { return text("board blank"); }},
      {2,
       [](SoakRandom& r) {
         return r.chance(500) ? text("board foreign blink") : text("board foreign");
       }},
      {2, [](SoakRandom&) { return text("board drive-only"); }},
      {2, [](SoakRandom&) { return text("board usb-only"); }},
      {2, [](SoakRandom& r) { return r.chance(600) ? text("board busy") : text("board free"); }},
      {3, [](SoakRandom&) { return text("board gone"); }},
      // Faults.
      {5, boardFault},
      {3, dongleFault},
      {2,
       [](SoakRandom& r) { return r.chance(500) ? text("fault off") : text("fault board off"); }},
      {3,
       [](SoakRandom& r) {
         static const std::vector<std::string> what = {"drive-write", "cache-write"};
         return "soakfault " + r.pick(what) + " " + std::to_string(r.between(1, 40));
       }},
      // The update host.
      {3, [](SoakRandom& r) { return "publish " + r.pick(kPublished); }},
      {2, [](SoakRandom& r) { return r.chance(500) ? text("host offline") : text("host online"); }},
      {1,
       [](SoakRandom& r) {
         static const std::vector<std::string> codes = {"404", "500", "503"};
         return "host fail " + r.pick(codes);
       }},
      {1, [](SoakRandom&) { return text("host badsig"); }},
      // Another flashing tool on the desk.
      {1, [](SoakRandom& r) { return r.chance(500) ? text("rig on") : text("rig off"); }},
      // The tray.
      {2, [](SoakRandom&) { return text("click"); }},
      {2, [](SoakRandom&) { return text("menu"); }},
      {1, [](SoakRandom&) { return text("about"); }},
      {4,
       [](SoakRandom& r) {
         static const std::vector<std::string> commands = {"1001", "1003", "1006",
                                                           "1006", "1007", "1008"};
         return "choose " + r.pick(commands);
       }},
      {1, [](SoakRandom& r) { return r.chance(500) ? text("answer yes") : text("answer no"); }},
      // The firmware side, from the console and from the panel.
      {7, fwStart},
      {7, panelStart},
      {3,
       [](SoakRandom& r) {
         static const std::vector<std::string> calls = {"fw cancel", "fw dismiss", "fw check",
                                                        "fw"};
         return r.pick(calls);
       }},
      {5,
       [](SoakRandom& r) {
         static const std::vector<std::string> paths = {"cancel", "cancel", "dismiss", "check"};
         return "panel POST /api/fw/" + r.pick(paths);
       }},
      {3, [](SoakRandom&) { return text("panel GET /api/fw"); }},
      // The panel's other tabs: the device, its settings, its tests.
      {3, [](SoakRandom&) { return text("panel GET /api/dev"); }},
      {2,
       [](SoakRandom& r) {
         static const std::vector<std::string> ids = {"247", "248", "249"};
         return "panel GET /api/feature?id=" + r.pick(ids);
       }},
      {4, settingsCommand},
      {2, outputReport},
      {3,
       [](SoakRandom& r) {
         if (r.chance(150)) return text("stream input open");
         return r.chance(550) ? text("stream fw open") : text("stream fw drop");
       }},
      // A newer copy of the app starting, rarely: it ends the history when this one quits.
      {1, [](SoakRandom& r) { return r.chance(500) ? text("handover yes") : text("handover no"); }},
  };
  return choices;
}

}  // namespace

History makeHistory(std::uint64_t seed, std::size_t maxSteps) {
  static const std::vector<Choice> choices = vocabulary();
  unsigned total = 0;
  for (const Choice& choice : choices) total += choice.weight;

  SoakRandom random(seed);
  History history;
  history.seed = seed;
  const std::size_t length = maxSteps < 8 ? maxSteps : random.between(maxSteps / 4, maxSteps);
  for (std::size_t i = 0; i < length; ++i) {
    Step step;
    step.waitMs = randomWait(random);
    unsigned roll = static_cast<unsigned>(random.below(total));
    for (const Choice& choice : choices) {
      if (roll < choice.weight) {
        step.action = choice.make(random);
        break;
      }
      roll -= choice.weight;
    }
    history.steps.push_back(std::move(step));
  }
  // The day ends: the person quits from the menu, agreeing if a job is still running.
  history.steps.push_back(Step{randomWait(random), "handover yes"});
  return history;
}

std::string describeWait(std::uint64_t ms) {
  char text[64];
  if (ms < 60'000) {
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ms) / 1000.0);
  } else if (ms < 3'600'000) {
    std::snprintf(text, sizeof text, "%llu min %.3f s",
                  static_cast<unsigned long long>(ms / 60'000),
                  static_cast<double>(ms % 60'000) / 1000.0);
  } else {
    std::snprintf(text, sizeof text, "%llu h %llu min %.3f s",
                  static_cast<unsigned long long>(ms / 3'600'000),
                  static_cast<unsigned long long>(ms % 3'600'000 / 60'000),
                  static_cast<double>(ms % 60'000) / 1000.0);
  }
  return text;
}

std::string describeHistory(const History& history, std::size_t lastStep) {
  std::string out;
  for (std::size_t i = 0; i < history.steps.size() && i <= lastStep; ++i) {
    const Step& step = history.steps[i];
    out += "  " + std::to_string(i) + ": wait " + describeWait(step.waitMs) + ", then " +
           step.action + "\n";
  }
  return out;
}

std::string formBase64(const std::vector<std::uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string plain;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::uint32_t b0 = bytes[at];
    const std::uint32_t b1 = at + 1 < bytes.size() ? bytes[at + 1] : 0;
    const std::uint32_t b2 = at + 2 < bytes.size() ? bytes[at + 2] : 0;
    const std::uint32_t group = (b0 << 16) | (b1 << 8) | b2;
    plain += kAlphabet[(group >> 18) & 63];
    plain += kAlphabet[(group >> 12) & 63];
    plain += at + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    plain += at + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  // A form body turns "+" into a space; the page's script percent-encodes these three.
  std::string encoded;
  for (char c : plain) {
    if (c == '+') {
      encoded += "%2B";
    } else if (c == '/') {
      encoded += "%2F";
    } else if (c == '=') {
      encoded += "%3D";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace tw::soak
