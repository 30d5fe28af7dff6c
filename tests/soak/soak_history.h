// A seeded random history of a person's days with the dongle: world events, the tray's menu,
// the panel's calls, the update host changing, with random waits between them. It is a pure
// function of the seed: the same seed gives the same steps on every machine, whatever the program
// does with them, so a failure can be replayed from its seed alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tw::soak {

struct Step {
  std::uint64_t waitMs = 0;  // virtual time to let pass before the action
  // One action, in words:
  //   a console line of the Linux app (world, board, fault, host, publish, fw, tray commands);
  //   "panel METHOD TARGET [BODY]"  one request to the panel server, handled in memory;
  //   "stream fw open|drop", "stream input open"  event streams opened and dropped;
  //   "soakfault drive-write|cache-write N"  faults the console has no words for;
  //   "pair"  the person pairs the controller again (PS + Create);
  //   "handover yes|no"  a newer instance asks this one to quit, with the answer to its question.
  std::string action;
};

struct History {
  std::uint64_t seed = 0;
  std::vector<Step> steps;
};

// `maxSteps` bounds the length; the history ends with a hand-over or a quit from the menu.
History makeHistory(std::uint64_t seed, std::size_t maxSteps = 160);

// "wait 12.345 s" / "wait 2 h 3 min" ..., for the printout.
std::string describeWait(std::uint64_t ms);
// The history so far, one numbered line per step, up to and including `lastStep`.
std::string describeHistory(const History& history, std::size_t lastStep);

// The text of a form value as the panel's script would send it (base64, then percent-encoded).
std::string formBase64(const std::vector<std::uint8_t>& bytes);

}  // namespace tw::soak
