// What must hold after every step of a soak history, judged from outside the program: the state
// document, the firmware side's public answers, the tray, and the simulated board's flash.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "soak/soak_flash.h"

namespace tw::soak {

// The longest a job may take, from the program's own waits: the release check it waits for (150 x
// 100 ms) and its own (HTTPS time-outs, 2 x 30 s), switching over (15 s), the button (600 s),
// finding and probing the board (4 s + 1.5 s), writing and verifying the whole image with every
// retry (about 2 x 60 s modelled), the drive copy and its wait (60 s + 30 s), and the return (10 s
// + 60 s); stalled USB transfers add their time-outs. Thirty minutes holds all of it with room.
inline constexpr std::uint64_t kJobBoundMs = 30 * 60 * 1000;

// What the soak looked at, at one moment when every thread of the program waited.
struct Observation {
  std::uint64_t nowMs = 0;
  std::string document;  // writeFirmwareState
  bool documentFits = true;
  std::uint32_t seq = 0;  // firmwareSeq(), read after the document
  bool busy = false;      // isFirmwareBusy()
  bool hasJobLine = false;
  std::string jobLine;  // jobTrayText
  bool trayVisible = false;
  std::string tip;
  std::vector<std::string> balloons;  // "title: text" shown since the last observation
  std::vector<std::uint8_t> imageArea;
  bool imageAreaRead = false;  // false: the flash did not change since the last look
  std::vector<std::uint8_t> settingsArea;
  // Bytes the board's RP2350 drive has taken since the world began.
  std::uint64_t driveBytes = 0;
};

// What the step's action may change by a person's hand, and whether it asked for a job.
struct ActionEffects {
  bool replacesFlash = false;    // a board swapped for another
  bool changesSettings = false;  // a settings save, pairing the controller, a board swapped
  bool mayStartJob = false;
};
ActionEffects effectsOf(const std::string& action);

class Invariants {
 public:
  Invariants();
  // Versions a job may install: the update host's, once published.
  void published(const std::string& version);
  // Before the action: a job it starts is judged against the flash as it is now.
  void beforeAction(const ActionEffects& effects, const Observation& now);
  // After the action: `started` tells whether it queued a job (as its caller was told).
  void afterAction(const ActionEffects& effects, bool started);
  // Checks one observation; each broken rule is one line.
  std::vector<std::string> check(const Observation& seen);

  std::uint64_t jobsJudged() const { return jobsJudged_; }
  // Mixed images left by a copy onto the drive that broke off (see checkFlash).
  std::uint64_t partialDriveCopies() const { return partialDriveCopies_; }

 private:
  struct Job {
    std::vector<std::uint8_t> imageBefore;
    std::vector<std::uint8_t> settingsBefore;
    bool worldTouched = false;
    bool judged = false;
  };
  void checkDocument(const Observation& seen, const std::map<std::string, std::string>& doc,
                     std::vector<std::string>& failures);
  void checkFlash(const Observation& seen, std::vector<std::string>& failures);
  void checkSettings(const Observation& seen, const std::map<std::string, std::string>& doc,
                     std::vector<std::string>& failures);
  void judgeEnding(const Observation& seen, const std::map<std::string, std::string>& doc,
                   std::vector<std::string>& failures);

  ImageCatalogue catalogue_;
  std::vector<std::string> versions_{"0.9.3"};
  std::uint64_t lastSeq_ = 0;
  std::uint64_t busySince_ = 0;
  bool boundReported_ = false;
  bool wasBusy_ = false;
  bool repairInFlight_ = false;
  std::vector<std::uint8_t> baseline_;  // the last whole image seen on the board
  std::uint64_t driveBytesAtBaseline_ = 0;
  std::uint64_t partialDriveCopies_ = 0;
  std::vector<std::uint8_t> lastImage_;
  std::vector<std::uint8_t> lastSettings_;
  ActionEffects stepEffects_;  // the current step's action, until its observation
  std::optional<Job> pendingStart_;
  std::optional<Job> job_;
  bool secondJob_ = false;
  std::uint64_t jobsJudged_ = 0;
};

}  // namespace tw::soak
