#include "flash/firmware_document.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "firmware/update_host.h"
#include "firmware/versions.h"
#include "flash/online_check.h"
#include "flash/our_firmware.h"

namespace tw {
namespace {

constexpr std::size_t kScratchCapacity = 256;
constexpr char kBuiltInNotes[] =
    "Light bar colours work from the panel, the panel notices the dongle arriving, Repair is a "
    "single button, and updates are never installed on their own.";

void formatAdvice(FirmwareAdvice& advice, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void formatAdvice(FirmwareAdvice& advice, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(advice.text, sizeof advice.text, format, args);
  va_end(args);
  if (written < 0) {
    advice.text[0] = '\0';
    return;
  }
  // A cut inside a character leaves a broken tail: drop it.
  const std::size_t kept = utf8Prefix(advice.text, sizeof advice.text - 1).size();
  advice.text[kept] = '\0';
}

void setAdvice(FirmwareAdvice& advice, const char* kind, const char* primary, bool confirm = false,
               bool ahead = false) {
  advice.kind = kind;
  advice.primary = primary;
  advice.confirm = confirm;
  advice.ahead = ahead;
  advice.text[0] = '\0';
}

std::uint64_t secondsSince(std::uint64_t nowMs, std::uint64_t thenMs) {
  if (thenMs == 0 || nowMs < thenMs) return 0;
  return (nowMs - thenMs) / 1000;
}

// Writes the fields of nested JSON objects, each as "key":value with a comma before all but the
// first of its object, so every key is written once and in one shape. A number or a flag goes to
// the builder in one piece with its key, and so does the brace of an object with its key.
class JsonFields {
 public:
  explicit JsonFields(JsonDocumentBuilder& doc) : doc_(doc) {}

  // The document's own object.
  void open() {
    doc_.append("{");
    enter();
  }
  void open(const char* key) {
    field(key, "{");
    enter();
  }
  void close() {
    doc_.append("}");
    --depth_;
  }

  void string(const char* key, std::string_view value) {
    field(key, "");
    doc_.appendJsonString(value);
  }
  void boolean(const char* key, bool value) { field(key, value ? "true" : "false"); }
  void integer(const char* key, long long value) {
    doc_.appendFormat("%s\"%s\":%lld", separator(), key, value);
  }
  void count(const char* key, unsigned long long value) {
    doc_.appendFormat("%s\"%s\":%llu", separator(), key, value);
  }

 private:
  static constexpr int kMaxDepth = 3;  // the document, "fw", "online"

  void enter() { started_[++depth_] = false; }
  // The comma that goes before the next field of the innermost object.
  const char* separator() {
    const bool first = !started_[depth_];
    started_[depth_] = true;
    return first ? "" : ",";
  }
  void field(const char* key, const char* rest) {
    doc_.appendFormat("%s\"%s\":%s", separator(), key, rest);
  }

  JsonDocumentBuilder& doc_;
  int depth_ = 0;
  bool started_[kMaxDepth + 1] = {};
};

}  // namespace

JsonDocumentBuilder::JsonDocumentBuilder(char* buffer, std::size_t capacity)
    : buffer_(buffer), capacity_(capacity) {
  if (capacity_ == 0) {
    overflow_ = true;  // not even the empty text fits
    return;
  }
  buffer_[0] = '\0';
}

void JsonDocumentBuilder::append(std::string_view piece) {
  if (overflow_) return;
  if (length_ + piece.size() + 1 > capacity_) {
    overflow_ = true;
    return;
  }
  std::memcpy(buffer_ + length_, piece.data(), piece.size());
  length_ += piece.size();
  buffer_[length_] = '\0';
}

void JsonDocumentBuilder::appendFormat(const char* format, ...) {
  char scratch[kScratchCapacity];
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(scratch, sizeof scratch, format, args);
  va_end(args);
  if (written < 0) return;
  append(scratch);
}

void JsonDocumentBuilder::appendJsonString(std::string_view text) {
  append("\"");
  for (std::size_t at = 0; at < text.size() && !overflow_;) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '"') {
      append("\\\"");
    } else if (c == '\\') {
      append("\\\\");
    } else if (c < 0x20 || c == '<' || c == '>') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      append(escape);
    } else {
      const std::size_t length = wellFormedUtf8Length(text, at);
      if (length == 0) {
        append("\\ufffd");
      } else {
        append(text.substr(at, length));
        at += length;
        continue;
      }
    }
    ++at;
  }
  append("\"");
}

void chooseAdvice(const AdviceInputs& in, FirmwareAdvice& advice) {
  const char* T = in.target != nullptr ? in.target : "";
  const char* R = in.runningVersion != nullptr ? in.runningVersion : "";
  const bool targetUsable = isUsableVersion(T);
  if (in.busy) return setAdvice(advice, "busy", "");
  if (in.station) {
    setAdvice(advice, "station", "");
    return formatAdvice(advice,
                        "Another Tarnwick flashing tool is at work (the Pellmark Rig or a bench "
                        "script), so this app is leaving boards alone.");
  }
  const BootBoard* board = in.board != nullptr && in.board->present ? in.board : nullptr;
  if (board == nullptr) {
    if (!in.runningPresent) return setAdvice(advice, "none", "");
    if (!targetUsable) return setAdvice(advice, "current", "");
    const bool runningUsable = isUsableVersion(R);
    if (runningUsable && compareVersions(T, R) == 0) {
      setAdvice(advice, "current", "");
      return formatAdvice(advice, "You have %s, the newest release.", R);
    }
    if (runningUsable && compareVersions(T, R) < 0) {
      setAdvice(advice, "ahead", "", false, true);
      return formatAdvice(advice, "You have %s, newer than the %s release.", R, T);
    }
    setAdvice(advice, "update", "update");
    if (R[0] != '\0') return formatAdvice(advice, "Version %s is ready. You have %s.", T, R);
    return formatAdvice(advice, "Version %s is ready.", T);
  }

  const char* B = board->version.c_str();
  if (board->read == BoardRead::NotRead) {
    setAdvice(advice, "reading", "");
    return formatAdvice(advice, "Reading what\xE2\x80\x99s on it\xE2\x80\xA6");
  }
  if (board->read == BoardRead::Busy) {
    setAdvice(advice, "inuse", "");
    return formatAdvice(advice, "Another program is using it right now.");
  }
  if (!targetUsable) {
    setAdvice(advice, "nofw", "");
    return formatAdvice(advice,
                        "This app has no firmware to install yet. Check your internet connection.");
  }
  if (board->read == BoardRead::Read && board->ours) {
    if (isUsableVersion(B) && compareVersions(T, B) < 0) {
      setAdvice(advice, "restart", "restart", false, true);
      return formatAdvice(
          advice, "It has %s, which is newer than the %s release. Restart it to carry on.", B, T);
    }
    if (isUsableVersion(B) && compareVersions(T, B) == 0) {
      setAdvice(advice, "restart", "restart");
      return formatAdvice(advice,
                          "It already has %s, the newest release. Restart it to carry on, or "
                          "reinstall if it has been acting up.",
                          B);
    }
    setAdvice(advice, "update", "update");
    if (B[0] != '\0') {
      return formatAdvice(advice, "It has firmware %s. Version %s is ready to install.", B, T);
    }
    return formatAdvice(advice,
                        "It has Bridge firmware of an unknown version. Install %s to be sure.", T);
  }
  if (board->read == BoardRead::Read && board->blank) {
    setAdvice(advice, "install", "install");
    return formatAdvice(advice, "It has no firmware yet. Install %s to make it a Tarnwick Bridge.",
                        T);
  }
  if (board->read == BoardRead::Read) {
    setAdvice(advice, "replace", "install", true);
    return formatAdvice(advice,
                        "It\xE2\x80\x99s running something else (\xE2\x80\x9C%s\xE2\x80\x9D). "
                        "Installing Tarnwick Bridge %s replaces it.",
                        board->program.empty() ? "unnamed" : board->program.c_str(), T);
  }
  setAdvice(advice, "unknown", "install", true);
  formatAdvice(advice,
               "This app couldn\xE2\x80\x99t read what\xE2\x80\x99s on it. Installing %s writes "
               "the Tarnwick firmware onto it.",
               T);
}

bool writeFirmwareState(const FirmwareState& state, const FirmwareDocumentFacts& facts,
                        std::uint64_t nowMs, char* buffer, std::size_t capacity) {
  JsonDocumentBuilder doc(buffer, capacity);
  if (capacity == 0) return false;

  bool fromList = false;
  OfferedVersion offer;
  const char* target = offerVersion(state, offer, &fromList);
  const bool builtInVerified = state.builtIn.builtInState == BuiltInState::Verified;
  const bool runningPresent = state.dongle.present;
  const char* runningVersion = state.dongle.version.c_str();
  const OnlineCheck& online = state.online;
  const bool onlineOk = online.state == OnlineState::Ok;
  const ReleaseInfo* selected = onlineOk ? selectBuild(&online.list) : nullptr;
  const char* notes = "";
  if (selected != nullptr && std::strcmp(selected->version, target) == 0) {
    notes = selected->notes;
  } else if (builtInVerified && std::strcmp(target, kBuiltInImageVersion) == 0) {
    notes = kBuiltInNotes;
  }

  JsonFields json(doc);
  json.open();
  json.count("seq", static_cast<unsigned>(state.firmwareSeq));
  json.string("app", facts.appVersion);
  json.boolean("station", state.station);

  const bool canSwitch = runningPresent && isUsableVersion(runningVersion) &&
                         compareVersions(runningVersion, kOldestSelfSwitchingVersion) >= 0;
  json.open("running");
  json.boolean("present", runningPresent);
  json.boolean("canSwitch", canSwitch);
  json.string("version", runningVersion);
  json.close();

  const BootBoard& board = state.board;
  json.open("boot");
  json.boolean("present", board.present);
  json.boolean("usb", board.usb);
  json.integer("read", static_cast<int>(board.read));
  json.boolean("blank", board.blank);
  json.boolean("ours", board.ours);
  json.string("drive", board.drive);
  json.string("serial", board.serial);
  json.string("program", board.program);
  json.string("version", board.version);
  json.string("why", board.why);
  json.close();

  json.open("fw");
  json.string("target", target);
  json.string("notes", notes);
  json.string("source", fromList ? UpdateHost : builtInVerified ? "built-in" : "");
  json.string("builtIn", builtInVerified ? kBuiltInImageVersion : "");
  json.boolean("builtInChecked", state.builtIn.builtInState != BuiltInState::NotExamined);
  json.open("online");
  json.string("state", onlineStateName(online.state));
  json.string("latest", selected != nullptr ? selected->version : "");
  json.string("error", online.state == OnlineState::Failed ? online.error : std::string_view());
  json.count("ago", secondsSince(nowMs, online.checkedAt));
  json.close();
  json.close();

  FirmwareAdvice advice;
  AdviceInputs inputs;
  inputs.busy = isJobBusy(state);
  inputs.station = state.station;
  inputs.runningPresent = runningPresent;
  inputs.runningVersion = runningVersion;
  inputs.board = &board;
  inputs.target = target;
  chooseAdvice(inputs, advice);
  json.open("advice");
  json.string("kind", advice.kind);
  json.string("primary", advice.primary);
  json.boolean("confirm", advice.confirm);
  json.boolean("ahead", advice.ahead);
  json.string("text", advice.text);
  json.close();

  const FirmwareJob& job = state.job;
  json.open("job");
  json.boolean("active", job.active);
  json.boolean("queued", state.request.queued);
  json.boolean("automatic", job.automatic);
  json.integer("pct", job.pct);
  json.boolean("cancellable", state.request.queued || job.cancellable);
  json.boolean("needsUser", job.needsUser);
  json.integer("countdown", job.countdown);
  json.string("action", actionWord(job.action));
  json.string("phase", phaseWord(job.phase));
  json.string("msg", job.msg);
  json.string("detail", job.detail);
  json.string("result", resultWord(job.result));
  json.string("error", job.error);
  json.string("tech", job.tech);
  json.boolean("refused", job.refused);
  json.string("from", job.from);
  json.string("target", job.target);
  json.string("installed", job.installed);
  json.count("ago", secondsSince(nowMs, job.finishedAt));
  json.close();
  json.close();
  return !doc.overflow();
}

bool jobTrayText(const FirmwareState& state, std::string& line) {
  if (!isJobBusy(state)) return false;
  const FirmwareJob& job = state.job;
  if (job.needsUser) {
    line = "Press the button on your dongle";
  } else if (job.phase == JobPhase::Write || job.phase == JobPhase::Verify ||
             job.phase == JobPhase::Copy) {
    line = formatText(64, "Updating firmware \xE2\x80\x94 %d%%", job.pct);
  } else if (job.phase == JobPhase::Reconnect || job.phase == JobPhase::Restart) {
    line = "Restarting the dongle";
  } else {
    line = "Getting firmware ready";
  }
  return true;
}

bool offeredUpdate(const FirmwareState& state, std::string& version) {
  OfferedVersion buffer;
  const char* offer = offerVersion(state, buffer);
  // A queued request does not hide the offer: it may be the update itself.
  if (state.job.active || !state.dongle.present || !isUsableVersion(offer)) return false;
  const char* running = state.dongle.version.c_str();
  if (isUsableVersion(running) && compareVersions(offer, running) <= 0) return false;
  version = offer;
  return true;
}

}  // namespace tw
