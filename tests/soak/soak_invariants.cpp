#include "soak/soak_invariants.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/strict_json.h"

namespace tw::soak {
namespace {

const std::string kTipStart = "Tarnwick Bridge \xE2\x80\x94 ";
// The tray's job lines; only a busy firmware side may show them.
const char* const kJobLines[] = {"Press the button on your dongle",
                                 "Updating firmware \xE2\x80\x94", "Restarting the dongle",
                                 "Getting firmware ready"};

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string value(const std::map<std::string, std::string>& doc, const std::string& key) {
  auto found = doc.find(key);
  return found == doc.end() ? std::string() : found->second;
}

bool flag(const std::map<std::string, std::string>& doc, const std::string& key) {
  return value(doc, key) == "true";
}

}  // namespace

ActionEffects effectsOf(const std::string& action) {
  ActionEffects effects;
  const bool swapsBoard = startsWith(action, "board ours") || action == "board blank" ||
                          startsWith(action, "board foreign");
  effects.replacesFlash = swapsBoard;
  // The 0xF6 command 0x02 (save) is "Ag" in base64.
  const bool save = startsWith(action, "panel POST /api/feature id=246&data=Ag");
  effects.changesSettings = swapsBoard || save || action == "pair";
  effects.mayStartJob = startsWith(action, "fw start") ||
                        startsWith(action, "panel POST /api/fw/start") || action == "choose 1006";
  return effects;
}

Invariants::Invariants() = default;

void Invariants::published(const std::string& version) {
  if (std::find(versions_.begin(), versions_.end(), version) == versions_.end()) {
    versions_.push_back(version);
  }
}

void Invariants::beforeAction(const ActionEffects& effects, const Observation& now) {
  wasBusy_ = now.busy;
  pendingStart_.reset();
  if (effects.mayStartJob) pendingStart_ = Job{lastImage_, lastSettings_};
  if ((effects.replacesFlash || effects.changesSettings) && job_ && !job_->judged) {
    job_->worldTouched = true;
  }
}

void Invariants::afterAction(const ActionEffects& effects, bool started) {
  stepEffects_ = effects;
  if (started && pendingStart_) job_ = std::move(pendingStart_);
  secondJob_ = started && wasBusy_;
  pendingStart_.reset();
}

std::vector<std::string> Invariants::check(const Observation& seen) {
  std::vector<std::string> failures;
  test::StrictJson json;
  if (!seen.documentFits) failures.push_back("the state document did not fit its 16384 bytes");
  if (!json.parse(seen.document)) {
    failures.push_back("the state document is not valid JSON: " + seen.document);
    stepEffects_ = {};
    return failures;
  }
  const std::map<std::string, std::string> doc = json.values();
  if (secondJob_) {
    failures.push_back("a job was queued while another was active or queued");
    secondJob_ = false;
  }
  checkDocument(seen, doc, failures);
  checkFlash(seen, failures);
  checkSettings(seen, doc, failures);
  judgeEnding(seen, doc, failures);
  stepEffects_ = {};
  return failures;
}

void Invariants::checkDocument(const Observation& seen,
                               const std::map<std::string, std::string>& doc,
                               std::vector<std::string>& failures) {
  const std::uint64_t docSeq = std::strtoull(value(doc, "seq").c_str(), nullptr, 10);
  if (docSeq < lastSeq_) {
    failures.push_back("firmwareSeq went back from " + std::to_string(lastSeq_) + " to " +
                       std::to_string(docSeq));
  }
  if (seen.seq < docSeq) {
    failures.push_back("firmwareSeq() " + std::to_string(seen.seq) + " is behind the document's " +
                       std::to_string(docSeq));
  }
  lastSeq_ = std::max<std::uint64_t>(docSeq, seen.seq);

  const bool active = flag(doc, "job.active");
  const bool queued = flag(doc, "job.queued");
  if (active && queued) failures.push_back("a job is active while another is queued");
  if (seen.busy != (active || queued)) {
    failures.push_back(std::string("isFirmwareBusy() says ") + (seen.busy ? "busy" : "idle") +
                       " but the document's job is " +
                       (active   ? "active"
                        : queued ? "queued"
                                 : "idle"));
  }
  if (seen.hasJobLine != seen.busy) {
    failures.push_back("jobTrayText() " + std::string(seen.hasJobLine ? "has" : "has no") +
                       " line while the firmware side is " + (seen.busy ? "busy" : "idle"));
  }
  if (seen.trayVisible) {
    if (seen.busy && seen.hasJobLine) {
      const std::string expected = kTipStart + seen.jobLine;
      const std::size_t common = std::min(expected.size(), seen.tip.size());
      if (seen.tip.compare(0, common, expected, 0, common) != 0 || common < kTipStart.size()) {
        failures.push_back("the tray's tip \"" + seen.tip + "\" is not the job's line \"" +
                           seen.jobLine + "\"");
      }
    } else if (!seen.busy) {
      for (const char* line : kJobLines) {
        if (startsWith(seen.tip, kTipStart + line)) {
          failures.push_back("the tray's tip \"" + seen.tip + "\" shows a job while none runs");
        }
      }
    }
  }
  if (seen.busy) {
    if (busySince_ == 0) busySince_ = seen.nowMs;
    if (!boundReported_ && seen.nowMs - busySince_ > kJobBoundMs) {
      boundReported_ = true;
      failures.push_back("a job has been busy for " + std::to_string(seen.nowMs - busySince_) +
                         " ms, longer than its bound of " + std::to_string(kJobBoundMs) + " ms");
    }
  } else {
    busySince_ = 0;
    boundReported_ = false;
  }
}

void Invariants::checkFlash(const Observation& seen, std::vector<std::string>& failures) {
  if (!seen.imageAreaRead) return;
  lastImage_ = seen.imageArea;
  if (baseline_.empty() || stepEffects_.replacesFlash) {
    baseline_ = seen.imageArea;
    driveBytesAtBaseline_ = seen.driveBytes;
    return;
  }
  if (bootSectorErased(seen.imageArea)) return;  // nothing would start
  if (seen.imageArea == baseline_) return;
  if (catalogue_.holdsAnyOf(seen.imageArea, versions_)) {
    baseline_ = seen.imageArea;
    driveBytesAtBaseline_ = seen.driveBytes;
    return;
  }
  // The one way a mix is known to arise: the boot ROM writes the drive's blocks as they land, in
  // the file's own order, so a copy that breaks off (the drive gone, the program quit) leaves
  // part of each image. The drive is the last resort after the direct write failed, the job
  // then says the firmware only got partway on, and rewriting the release's UF2 file to change
  // that would stake the fallback on how the real boot ROM takes a hand-made file.
  if (seen.driveBytes != driveBytesAtBaseline_) {
    ++partialDriveCopies_;
    return;
  }
  failures.push_back(
      "the board's flash would start, but holds neither the image it had nor a whole new one");
  baseline_ = seen.imageArea;  // reported once
}

void Invariants::checkSettings(const Observation& seen,
                               const std::map<std::string, std::string>& doc,
                               std::vector<std::string>& failures) {
  const bool repairNow = value(doc, "job.action") == "repair";
  if (!lastSettings_.empty() && seen.settingsArea != lastSettings_ &&
      !stepEffects_.changesSettings && !repairInFlight_ && !repairNow) {
    failures.push_back(
        "the dongle's saved settings or pairing changed without a settings save or a repair");
  }
  lastSettings_ = seen.settingsArea;
  repairInFlight_ = repairNow && seen.busy;
}

void Invariants::judgeEnding(const Observation& seen, const std::map<std::string, std::string>& doc,
                             std::vector<std::string>& failures) {
  if (!job_ || job_->judged || seen.busy) return;
  const std::string result = value(doc, "job.result");
  if (result.empty()) {
    job_.reset();  // cancelled while queued: no ending to judge
    return;
  }
  job_->judged = true;
  ++jobsJudged_;
  if (job_->worldTouched) return;
  const std::string action = value(doc, "job.action");
  std::string said = value(doc, "job.msg") + " " + value(doc, "job.error");
  for (const std::string& balloon : seen.balloons) said += " " + balloon;
  const std::vector<std::uint8_t>& now = lastImage_;

  if (result == "ok") {
    const bool unchanged = now == job_->imageBefore;
    const bool whole =
        catalogue_.holdsAnyOf(now, {value(doc, "job.installed"), value(doc, "job.target")});
    if (action == "restart" ? !unchanged : !(whole || (unchanged && !bootSectorErased(now)))) {
      failures.push_back("the job said ok (" + action + ", " + value(doc, "job.msg") +
                         "), but the board does not hold " + value(doc, "job.installed") +
                         " whole");
    }
  }
  if (lower(said).find("nothing was changed") != std::string::npos &&
      (now != job_->imageBefore || seen.settingsArea != job_->settingsBefore)) {
    failures.push_back("the job said nothing was changed (" + value(doc, "job.msg") +
                       "), but the board's " +
                       (now != job_->imageBefore ? "firmware" : "settings") + " changed");
  }
}

}  // namespace tw::soak
