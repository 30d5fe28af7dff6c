#include "soak/soak_driver.h"

#include <deque>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>

#include "app/tray_ids.h"
#include "host_app/linux_program.h"
#include "sim/virtual_clock.h"
#include "soak/soak_invariants.h"
#include "soak/soak_streams.h"

namespace tw::soak {
namespace {

constexpr std::uint32_t kPanelPort = 17832;
constexpr std::size_t kStateCapacity = 16384;
// The stepped loop is looked at this often while the soak waits, as the tray's loop would wake
// for its 2-second timer.
constexpr std::uint64_t kLoopSliceMs = POLL_INTERVAL_MS;
constexpr std::size_t kTailLines = 40;
constexpr std::size_t kMaxStreams = 3;
constexpr std::uint64_t kEventStreamLifetimeMs = 20 * 60 * 1000;  // a tab left open a while
constexpr std::uint64_t kInputStreamLifetimeMs = 1500;            // the tests tab, briefly
constexpr std::uint32_t kDiskFull = 112;                          // ERROR_DISK_FULL

// The console's output: the last lines for the report, and a count of started jobs.
class TailBuffer : public std::streambuf {
 public:
  std::uint64_t queuedLines = 0;
  std::string tail() const {
    std::string text;
    for (const std::string& line : lines_) text += "    " + line + "\n";
    return text;
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (c != '\n') {
      if (current_.size() < 400) current_ += static_cast<char>(c);
      return c;
    }
    if (current_.rfind("[fw] ", 0) == 0 && current_.size() > 7 &&
        current_.compare(current_.size() - 7, 7, " queued") == 0) {
      ++queuedLines;
    }
    lines_.push_back(std::move(current_));
    current_.clear();
    if (lines_.size() > kTailLines) lines_.pop_front();
    return c;
  }

 private:
  std::string current_;
  std::deque<std::string> lines_;
};

// The panel's server without a socket: the soak hands it requests in memory.
class InMemoryServer : public PanelServer {
 public:
  explicit InMemoryServer(PanelHttpServer*& server) : server_(server) {}
  bool startServer() override { return server_ && server_->prepareWithoutSocket(kPanelPort); }
  std::uint32_t serverPort() override { return server_ ? server_->serverPort() : 0; }

 private:
  PanelHttpServer*& server_;
};

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

class Driver {
 public:
  Driver(const History& history, Progress* progress)
      : history_(history), progress_(progress), out_(&tail_) {
    host::LinuxProgramOptions options;
    options.clock = &clock_;
    options.out = &out_;
    options.commandLine = "Tarnwick.exe";
    options.steppedLoop = true;
    options.server = &server_;
    program_ = std::make_unique<host::LinuxProgram>(std::move(options));
    httpServer_ = &program_->panelServer();
    streams_ = std::make_unique<Streams>(clock_, *httpServer_);
  }

  RunOutcome run() {
    program_->duringRun([this] { playHistory(); });
    program_->run();
    quit_ = true;
    // The moment the process would end: the board is judged as it is left. A firmware thread
    // that did not stop within its 4 s would die with the process; here it runs on to its end
    // before the program's objects go.
    if (outcome_.failures.empty()) {
      observeAndCheck(history_.steps.empty() ? 0 : history_.steps.size() - 1, true);
    }
    streams_->dropAll();
    for (int i = 0; i < 3600 && clock_.liveThreads() > 0; ++i) clock_.sleepMs(1000);
    endChecks();
    streams_.reset();
    outcome_.consoleTail = tail_.tail();
    outcome_.jobsJudged = invariants_.jobsJudged();
    return std::move(outcome_);
  }

 private:
  void playHistory() {
    observeAndCheck(0, true);
    for (std::size_t i = 0; i < history_.steps.size() && outcome_.failures.empty(); ++i) {
      const Step& step = history_.steps[i];
      if (progress_) progress_->step = i;
      outcome_.stepsRun = i + 1;
      if (!waitFor(step.waitMs)) return;
      if (!observeAndCheck(i, false)) return;
      const ActionEffects effects = effectsOf(step.action);
      invariants_.beforeAction(effects, last_);
      const bool started = act(step.action);
      const bool running = settleAndDispatch();
      invariants_.afterAction(effects, started);
      if (!observeAndCheck(i, false) || !running) return;
    }
  }

  // Lets `ms` of virtual time pass with the tray's loop turning; false once the program quit.
  bool waitFor(std::uint64_t ms) {
    const std::uint64_t target = clock_.tickMs() + ms;
    for (std::uint64_t now = clock_.tickMs(); now < target; now = clock_.tickMs()) {
      clock_.sleepMs(static_cast<std::uint32_t>(std::min(target - now, kLoopSliceMs)));
      if (progress_) ++progress_->beats;
      if (!settleAndDispatch()) return false;
      std::vector<std::string> problems;
      streams_->reap(problems);
      if (!problems.empty()) {
        fail(progress_ ? progress_->step.load() : 0, problems);
        return false;
      }
    }
    return true;
  }

  // Lets every thread finish what is due now and the tray take its messages, until nothing moves.
  bool settleAndDispatch() {
    for (int round = 0; round < 6; ++round) {
      clock_.settle();
      const std::uint32_t before = program_->firmware().firmwareSeq();
      if (!program_->loop().dispatchPending()) return false;
      clock_.settle();
      if (program_->firmware().firmwareSeq() == before) break;
    }
    return true;
  }

  // Carries out one action; true when it queued a firmware job.
  bool act(const std::string& action) {
    host::LinuxProgram& p = *program_;
    sim::World& world = p.world();
    std::istringstream words(action);
    std::string verb, what;
    words >> verb >> what;
    if (verb == "panel") return panel(action.substr(6));
    if (verb == "stream") {
      if (what == "drop") {
        streams_->dropOldest();
      } else if (streams_->open() < kMaxStreams) {
        const bool events = action == "stream fw open";
        streams_->open(events ? "/api/fw/events" : "/api/input",
                       events ? kEventStreamLifetimeMs : kInputStreamLifetimeMs, events);
      }
      return false;
    }
    if (verb == "soakfault") {
      std::uint32_t nth = 1;
      words >> nth;
      if (what == "drive-write") {
        if (auto drive = world.boardDrive())
          drive->faults.inject("drive-write", sim::FaultKind::Fail, nth);
      } else if (what == "cache-write") {
        p.files().failCall("write", kDiskFull, nth, 1);
      }
      return false;
    }
    if (verb == "pair") {
      world.setController([](sim::ControllerState& c) { c.paired = true; });
      return false;
    }
    if (verb == "handover") {
      // A newer copy asks this one to quit, as its start-up does; it may ask its user first.
      streams_->dropAll();
      p.desktop().answerNextMessageBox(what == "yes" ? MessageBoxAnswer::Yes
                                                     : MessageBoxAnswer::No);
      p.loop().postMessage(p.app().trayWindow(), msg::COMMAND, ID_QUIT, 0);
      return false;
    }
    if (verb == "publish") invariants_.published(what);
    const std::string jobBefore = jobPart(last_.document);
    const std::uint64_t queuedBefore = tail_.queuedLines;
    p.console().execute(action);
    if (verb == "fw") return tail_.queuedLines != queuedBefore;
    if (action == "choose 1006") {
      // The menu's update: the tray says nothing when it queues; the record shows it.
      settleAndDispatch();
      return !last_.busy && (p.firmware().isFirmwareBusy() || jobPart(document()) != jobBefore);
    }
    return false;
  }

  bool panel(const std::string& request) {
    std::istringstream words(request);
    std::string method, target, body;
    words >> method >> target;
    std::getline(words >> std::ws, body);
    const char joiner = target.find('?') == std::string::npos ? '?' : '&';
    const std::string text = method + " " + target + joiner + "k=" + httpServer_->runKey() +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(kPanelPort) +
                             "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body;
    sim::MemoryConnection connection(text);
    httpServer_->serveConnection(connection);
    if (!startsWith(connection.sent, "HTTP/1.1 ")) {
      fail(progress_ ? progress_->step.load() : 0,
           {"the panel answered " + request + " with no status line"});
    }
    return target == "/api/fw/start" && startsWith(connection.sent, "HTTP/1.1 200");
  }

  std::string document() {
    std::unique_ptr<char[]> buffer(new char[kStateCapacity]);
    if (!program_->firmware().writeFirmwareState(buffer.get(), kStateCapacity)) return {};
    return buffer.get();
  }

  static std::string jobPart(const std::string& document) {
    const std::size_t at = document.find("\"job\":");
    return at == std::string::npos ? std::string() : document.substr(at);
  }

  bool observeAndCheck(std::size_t step, bool forceFlash) {
    host::LinuxProgram& p = *program_;
    Observation seen;
    seen.nowMs = clock_.tickMs();
    std::unique_ptr<char[]> buffer(new char[kStateCapacity]);
    seen.documentFits = p.firmware().writeFirmwareState(buffer.get(), kStateCapacity);
    seen.document = buffer.get();
    seen.seq = p.firmware().firmwareSeq();
    seen.busy = p.firmware().isFirmwareBusy();
    // The tray's own reading (on its thread, as the tray asks).
    seen.hasJobLine = quit_ ? seen.busy : p.firmware().jobTrayText(seen.jobLine);
    seen.trayVisible = !quit_ && p.tray().visible();
    seen.tip = p.tray().current().tip;
    for (const sim::TrayEvent& event : p.tray().events()) {
      if (event.kind == sim::TrayEvent::Kind::Balloon) {
        seen.balloons.push_back(event.title + ": " + event.text);
      }
    }
    p.tray().clear();
    const sim::NorFlash& flash = p.world().flash();
    const std::uint64_t changes = flash.changes();
    if (forceFlash || changes != flashChanges_) {
      seen.imageArea = readImageArea(flash);
      seen.imageAreaRead = true;
      flashChanges_ = changes;
    }
    seen.settingsArea = readSettingsArea(flash);
    seen.driveBytes = p.world().board().counters().driveBytesWritten;
    std::vector<std::string> failures = invariants_.check(seen);
    std::vector<std::string> problems;
    streams_->reap(problems);
    failures.insert(failures.end(), problems.begin(), problems.end());
    seen.imageArea.clear();
    last_ = std::move(seen);
    outcome_.simulatedMs = last_.nowMs - startMs_;
    if (failures.empty()) return true;
    fail(step, failures);
    return false;
  }

  // After the program's run: nothing it opened is still open.
  void endChecks() {
    host::LinuxProgram& p = *program_;
    std::vector<std::string> leaks;
    outcome_.streamEvents = streams_->eventsSeen();
    if (p.files().openFiles() != 0)
      leaks.push_back(std::to_string(p.files().openFiles()) + " files left open");
    if (p.updateHost().openHandles() != 0) {
      leaks.push_back(std::to_string(p.updateHost().openHandles()) + " HTTPS handles left open");
    }
    if (p.desktop().openHandles() != 0) {
      leaks.push_back(std::to_string(p.desktop().openHandles()) + " desktop handles left open");
    }
    if (p.panelServer().activeConnections() != 0)
      leaks.push_back("panel connections still running");
    if (!leaks.empty() && outcome_.failures.empty()) fail(history_.steps.size() - 1, leaks);
  }

  void fail(std::size_t step, const std::vector<std::string>& failures) {
    if (!outcome_.failures.empty()) return;
    outcome_.failures = failures;
    outcome_.failedStep = step;
  }

  const History& history_;
  Progress* progress_;
  sim::VirtualClock clock_;
  const std::uint64_t startMs_ = clock_.tickMs();
  TailBuffer tail_;
  std::ostream out_;
  PanelHttpServer* httpServer_ = nullptr;
  InMemoryServer server_{httpServer_};
  std::unique_ptr<host::LinuxProgram> program_;
  std::unique_ptr<Streams> streams_;
  Invariants invariants_;
  Observation last_;
  std::uint64_t flashChanges_ = 0;
  bool quit_ = false;
  RunOutcome outcome_;
};

}  // namespace

RunOutcome runHistory(const History& history, Progress* progress) {
  Driver driver(history, progress);
  return driver.run();
}

std::string describeFailure(const History& history, const RunOutcome& outcome) {
  std::string text = "SOAK FAILURE seed " + std::to_string(history.seed) + " at step " +
                     std::to_string(outcome.failedStep) + " (" + describeWait(outcome.simulatedMs) +
                     " of simulated time):\n";
  for (const std::string& failure : outcome.failures) text += "  - " + failure + "\n";
  text += "history so far:\n" + describeHistory(history, outcome.failedStep);
  text += "the program's last console lines:\n" + outcome.consoleTail;
  text += "replay: tw_soak --seed " + std::to_string(history.seed) + "\n";
  return text;
}

}  // namespace tw::soak
