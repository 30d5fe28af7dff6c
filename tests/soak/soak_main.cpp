// tw_soak: seeded random histories of the whole Linux program on virtual time, each checked
// against the invariants after every step. A failure prints its seed, step and history and is
// replayed with --seed N.
//
//   tw_soak --seed N [--steps S]               one history
//   tw_soak --seeds FILE                       every seed listed in FILE (# starts a comment);
//                                              "SEED STEP" replays it up to that step, then quits
//   tw_soak --first-seed N --seconds T         new seeds from N on, for T seconds of real time
//   tw_soak --first-seed N --count K           K seeds from N on
//   tw_soak --print-history N                  the steps of seed N, without running them
//   --failures FILE                            appends each failing seed to FILE
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "soak/soak_driver.h"
#include "soak/soak_history.h"

namespace {

using Seconds = std::chrono::duration<double>;
constexpr int kWatchdogSeconds = 180;  // of real time without the soak's clock moving
constexpr long kMemoryLimitMb = 3072;  // resident, sanitizers' shadow memory included

int countEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (!dir) return -1;
  int count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count;
}

long residentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

struct SeedToRun {
  std::uint64_t seed = 0;
  long lastStep = -1;  // -1: the whole history
};

std::vector<SeedToRun> readSeeds(const std::string& path) {
  std::vector<SeedToRun> seeds;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    SeedToRun run;
    if (!(words >> run.seed)) continue;
    if (!(words >> run.lastStep)) run.lastStep = -1;
    seeds.push_back(run);
  }
  return seeds;
}

struct Totals {
  std::uint64_t histories = 0, steps = 0, jobs = 0, events = 0, simulatedMs = 0, failed = 0;
};

// Ends the process with the report when a history stops moving: a hang is a failure too.
class Watchdog {
 public:
  explicit Watchdog(tw::soak::Progress& progress) : progress_(progress) {
    thread_ = std::thread([this] { watch(); });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    stop_.notify_one();
    thread_.join();
  }
  const tw::soak::History* history = nullptr;

 private:
  void watch() {
    std::uint64_t lastBeats = progress_.beats;
    int still = 0;
    // A hang is measured in real time; the wait ends at once when the run is over.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) {
      const std::uint64_t beats = progress_.beats;
      still = beats == lastBeats ? still + 1 : 0;
      lastBeats = beats;
      if (still >= kWatchdogSeconds && history) {
        tw::soak::RunOutcome hung;
        hung.failedStep = progress_.step;
        hung.failures.push_back("the program made no progress for " +
                                std::to_string(kWatchdogSeconds) + " s of real time (a hang)");
        std::cout << tw::soak::describeFailure(*history, hung) << std::flush;
        std::_Exit(2);
      }
    }
  }
  tw::soak::Progress& progress_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool done_ = false;  // under mutex_
  std::thread thread_;
};

bool runSeed(SeedToRun run, std::size_t maxSteps, Totals& totals, const std::string& failures,
             tw::soak::Progress& progress, Watchdog& watchdog) {
  const std::uint64_t seed = run.seed;
  tw::soak::History history = tw::soak::makeHistory(seed, maxSteps);
  // Steps do not depend on the length drawn, so a history cut after a step is its beginning.
  if (run.lastStep >= 0 && static_cast<std::size_t>(run.lastStep) + 2 < history.steps.size()) {
    const tw::soak::Step quit = history.steps.back();
    history.steps.resize(static_cast<std::size_t>(run.lastStep) + 1);
    history.steps.push_back(quit);
  }
  watchdog.history = &history;
  const int threadsBefore = countEntries("/proc/self/task");
  const int filesBefore = countEntries("/proc/self/fd");
  tw::soak::RunOutcome outcome = tw::soak::runHistory(history, &progress);
  // The panel server's connection threads are detached and end on their own once their socket
  // closes, a moment after the program is gone: give them up to two seconds of real time (the
  // operating system's own teardown, not a wait of the program's) before calling one a leak.
  int threadsAfter = countEntries("/proc/self/task");
  for (int tries = 0; threadsAfter > threadsBefore && tries < 200; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    threadsAfter = countEntries("/proc/self/task");
  }
  const int filesAfter = countEntries("/proc/self/fd");
  if (outcome.failures.empty()) {
    if (threadsAfter != threadsBefore) {
      outcome.failures.push_back("threads: " + std::to_string(threadsBefore - 2) + " before, " +
                                 std::to_string(threadsAfter - 2) + " after");
    }
    if (filesAfter != filesBefore) {
      outcome.failures.push_back("file descriptors: " + std::to_string(filesBefore - 2) +
                                 " before, " + std::to_string(filesAfter - 2) + " after");
    }
    if (residentMb() > kMemoryLimitMb) {
      outcome.failures.push_back("resident memory " + std::to_string(residentMb()) +
                                 " MB is over " + std::to_string(kMemoryLimitMb) + " MB");
    }
    if (!outcome.failures.empty()) outcome.failedStep = history.steps.size() - 1;
  }
  watchdog.history = nullptr;
  ++totals.histories;
  totals.steps += outcome.stepsRun;
  totals.jobs += outcome.jobsJudged;
  totals.events += outcome.streamEvents;
  totals.simulatedMs += outcome.simulatedMs;
  if (outcome.failures.empty()) return true;
  ++totals.failed;
  std::cout << tw::soak::describeFailure(history, outcome) << std::flush;
  if (!failures.empty()) {
    std::ofstream(failures, std::ios::app) << seed << " " << outcome.failedStep << "\n";
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<SeedToRun> seeds;
  std::uint64_t firstSeed = 1;
  double seconds = 0;
  long count = -1;
  std::size_t maxSteps = 160;
  std::string failures;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!next) {
      std::cerr << "tw_soak: " << arg << " needs a value\n";
      return 2;
    }
    ++i;
    if (arg == "--seed") {
      seeds.push_back(SeedToRun{std::strtoull(next, nullptr, 10), -1});
    } else if (arg == "--seeds") {
      for (const SeedToRun& run : readSeeds(next)) seeds.push_back(run);
    } else if (arg == "--first-seed") {
      firstSeed = std::strtoull(next, nullptr, 10);
    } else if (arg == "--seconds") {
      seconds = std::strtod(next, nullptr);
    } else if (arg == "--count") {
      count = std::strtol(next, nullptr, 10);
    } else if (arg == "--steps") {
      maxSteps = std::strtoul(next, nullptr, 10);
    } else if (arg == "--failures") {
      failures = next;
    } else if (arg == "--print-history") {
      const tw::soak::History history =
          tw::soak::makeHistory(std::strtoull(next, nullptr, 10), maxSteps);
      std::cout << tw::soak::describeHistory(history, history.steps.size());
      return 0;
    } else {
      std::cerr << "tw_soak: unknown argument " << arg << "\n";
      return 2;
    }
  }

  Totals totals;
  tw::soak::Progress progress;
  Watchdog watchdog(progress);
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return Seconds(std::chrono::steady_clock::now() - start).count(); };
  for (const SeedToRun& run : seeds) runSeed(run, maxSteps, totals, failures, progress, watchdog);
  const bool newSeeds = seeds.empty() || seconds > 0 || count >= 0;
  if (newSeeds) {
    for (std::uint64_t seed = firstSeed;; ++seed) {
      if (count >= 0 && static_cast<long>(seed - firstSeed) >= count) break;
      if (count < 0 && elapsed() >= seconds && seed != firstSeed) break;
      runSeed(SeedToRun{seed, -1}, maxSteps, totals, failures, progress, watchdog);
      if (count < 0 && seconds <= 0) break;
    }
  }
  const double real = elapsed();
  const double hours = static_cast<double>(totals.simulatedMs) / 3'600'000.0;
  std::printf(
      "soak: %llu histories, %llu steps, %llu jobs judged, %llu stream events; %.1f simulated "
      "hours in %.1f s of real time (%.1f simulated hours per real minute); %llu failed\n",
      static_cast<unsigned long long>(totals.histories),
      static_cast<unsigned long long>(totals.steps), static_cast<unsigned long long>(totals.jobs),
      static_cast<unsigned long long>(totals.events), hours, real,
      real > 0 ? hours * 60.0 / real : 0.0, static_cast<unsigned long long>(totals.failed));
  return totals.failed == 0 ? 0 : 1;
}
