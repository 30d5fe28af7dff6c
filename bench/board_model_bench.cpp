// The simulated RP2350 board in update mode against the published hardware figures, driven through
// the system's own PICOBOOT transport on virtual time. The figures that matter are the SIMULATED
// seconds in the counters (what a person with the board would wait); the time columns only say
// how long the simulation took on this machine.
//
// A full-image load is done the way a plain loader does it: erase every 4 KB sector the image
// touches, write every page of those sectors, then read them all back. Its simulated time is
// split by cause with the board's counters and timing: sector erases, page programs, page reads
// on the chip, and what is left, the USB transfer (data, command blocks, acknowledgements,
// control requests).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "built_in_firmware.h"
#include "firmware/firmware_image.h"
#include "firmware/uf2_check.h"
#include "dongle/dongle_link.h"
#include "flash/install_work.h"
#include "flash/picoboot.h"
#include "sim/firmware_builder.h"
#include "sim/sim_file_system.h"
#include "sim/board_timing.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace {

using tw::sim::BoardCounters;
using tw::sim::BoardTiming;
using tw::sim::World;

constexpr double kUsPerSecond = 1e6;
constexpr double kMsPerSecond = 1e3;

// A world with nothing but the board, plugged in update mode and opened as the firmware job
// opens it: exclusive access, out of XIP. The counters start from there.
struct BoardOnDesk {
  explicit BoardOnDesk(const World::BoardSetup& setup)
      : world(clock, options()), ports{world.usb(), clock} {
    world.plugBoard(setup);
    ready = tw::openPicoboot(ports, device, world.boardPath()) &&
            tw::exclusiveAccess(device, tw::kPicobootExclusive) && tw::exitXip(device);
    world.board().resetCounters();
  }
  ~BoardOnDesk() { tw::closePicoboot(device); }

  static World::Options options() {
    World::Options o;
    o.donglePlugged = false;
    return o;
  }

  std::string failure() const {
    char text[tw::kFailureTextCapacity];
    tw::describeFailure(device, text, sizeof text);
    return text;
  }

  tw::sim::VirtualClock clock;
  World world;
  tw::PicobootPorts ports;
  tw::PicobootDevice device;
  bool ready = false;
};

// Simulated time of one piece of work, by cause, in seconds.
struct Split {
  double total = 0, erasing = 0, programming = 0, reading = 0, transfer = 0;

  static Split of(std::uint64_t elapsedMs, const BoardCounters& c, const BoardTiming& t) {
    Split s;
    s.total = elapsedMs / kMsPerSecond;
    s.erasing = c.sectorsErased * double(t.sectorEraseUs) / kUsPerSecond;
    s.programming = c.pagesProgrammed * double(t.pageProgramUs) / kUsPerSecond;
    s.reading = c.pagesRead * double(t.pageReadUs) / kUsPerSecond;
    s.transfer = s.total - s.erasing - s.programming - s.reading;
    return s;
  }
};

// Whole pieces of work are reported in seconds; single operations, averaged over `operations`
// separate commands (the clock moves in whole milliseconds), in milliseconds.
void report(benchmark::State& state, const Split& s, const BoardCounters& c,
            std::uint32_t operations) {
  const bool perOperation = operations > 1;
  const double scale = perOperation ? kMsPerSecond / operations : 1.0;
  const std::string unit = perOperation ? "_ms" : "_s";
  state.counters["sim" + unit] = s.total * scale;
  state.counters["erase" + unit] = s.erasing * scale;
  state.counters["program" + unit] = s.programming * scale;
  state.counters["read" + unit] = s.reading * scale;
  state.counters["transfer" + unit] = s.transfer * scale;
  state.counters["sectors"] = c.sectorsErased;
  state.counters["pages_out"] = c.pagesProgrammed;
  state.counters["pages_in"] = c.pagesRead;
  std::uint32_t commands = 0;
  for (const auto& [id, count] : c.commands) commands += count;
  state.counters["commands"] = commands;
}

// Runs `work` on a fresh board each iteration and reports the last one's simulated time (every
// iteration gives the same, virtual time being exact). `operations` > 1: `work` made that many
// separate commands of the kind measured.
template <typename Work>
void onFreshBoard(benchmark::State& state, const World::BoardSetup& setup, Work work,
                  std::uint32_t operations = 1) {
  Split split;
  BoardCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    BoardOnDesk desk(setup);
    if (!desk.ready) {
      state.SkipWithError(("opening the board: " + desk.failure()).c_str());
      return;
    }
    state.ResumeTiming();
    const std::uint64_t start = desk.clock.tickMs();
    std::string error;
    if (!work(desk, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.PauseTiming();
    counters = desk.world.board().counters();
    split = Split::of(desk.clock.tickMs() - start, counters, desk.world.board().timing());
    state.ResumeTiming();
  }
  report(state, split, counters, operations);
}

void readOneMegabyte(benchmark::State& state) {
  constexpr std::uint32_t kSize = 1 << 20;
  std::vector<std::uint8_t> buffer(kSize);
  onFreshBoard(state, World::BoardSetup::ours(), [&](BoardOnDesk& desk, std::string& error) {
    if (tw::readFlash(desk.device, tw::kFlashStart, buffer.data(), kSize)) return true;
    error = desk.failure();
    return false;
  });
  state.counters["KB/s"] = kSize / 1000.0 / state.counters["sim_s"];
}
BENCHMARK(readOneMegabyte)->Iterations(3)->Unit(benchmark::kMillisecond);

constexpr std::uint32_t kScratch = tw::kFlashStart + 0x40000;
constexpr std::uint32_t kSingleOperations = 64;

void eraseOneSector(benchmark::State& state) {
  onFreshBoard(
      state, World::BoardSetup::ours(),
      [](BoardOnDesk& desk, std::string& error) {
        for (std::uint32_t i = 0; i < kSingleOperations; ++i) {
          if (!tw::eraseFlash(desk.device, kScratch + i * tw::kFlashSectorSize,
                              tw::kFlashSectorSize)) {
            error = desk.failure();
            return false;
          }
        }
        return true;
      },
      kSingleOperations);
}
BENCHMARK(eraseOneSector)->Iterations(3)->Unit(benchmark::kMillisecond);

void programOnePage(benchmark::State& state) {
  std::uint8_t page[tw::kFlashPageSize];
  for (std::uint32_t i = 0; i < sizeof page; ++i) page[i] = static_cast<std::uint8_t>(i * 7 + 1);
  onFreshBoard(
      state, World::BoardSetup::blank(),
      [&](BoardOnDesk& desk, std::string& error) {
        for (std::uint32_t i = 0; i < kSingleOperations; ++i) {
          if (!tw::writeFlash(desk.device, kScratch + i * tw::kFlashPageSize, page, sizeof page)) {
            error = desk.failure();
            return false;
          }
        }
        return true;
      },
      kSingleOperations);
}
BENCHMARK(programOnePage)->Iterations(3)->Unit(benchmark::kMillisecond);

// The built-in image as flash: the sectors it touches, in runs of neighbours.
struct ImageRuns {
  tw::FirmwareImage image;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;  // address, size
  std::uint32_t sectors = 0;
  bool ok = false;
  char message[200] = {};

  ImageRuns() {
    ok = tw::checkUf2(builtInFirmwareImage, builtInFirmwareImageSize, image, message,
                      sizeof message) == 1;
    if (!ok) return;
    for (std::uint32_t at = image.base; at < image.base + image.size; at += tw::kFlashSectorSize) {
      if (!tw::sectorHasData(image, at)) continue;
      ++sectors;
      if (!runs.empty() && runs.back().first + runs.back().second == at) {
        runs.back().second += tw::kFlashSectorSize;
      } else {
        runs.emplace_back(at, tw::kFlashSectorSize);
      }
    }
  }

  const std::uint8_t* bytes(std::uint32_t address) const {
    return image.data.get() + (address - image.base);
  }

  // Calls `step(address, size)` over every run in pieces of at most `batch` bytes.
  template <typename Step>
  bool forEachPiece(std::uint32_t batch, Step step) const {
    for (const auto& [address, size] : runs) {
      for (std::uint32_t done = 0; done < size; done += batch) {
        if (!step(address + done, std::min(batch, size - done))) return false;
      }
    }
    return true;
  }
};

const ImageRuns& builtInRuns() {
  static const ImageRuns runs;
  return runs;
}

// Erase all, write all, read all back and compare; each phase in its own pass over the image, in
// commands of at most `batch` bytes.
void loadBuiltInImage(benchmark::State& state) {
  const ImageRuns& image = builtInRuns();
  if (!image.ok) {
    state.SkipWithError(image.message);
    return;
  }
  const auto batch = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> back(batch);
  double erasePhase = 0, writePhase = 0, readPhase = 0;
  onFreshBoard(state, World::BoardSetup::blank(), [&](BoardOnDesk& desk, std::string& error) {
    tw::PicobootDevice& d = desk.device;
    std::uint64_t mark = desk.clock.tickMs();
    auto lap = [&] {
      const std::uint64_t now = desk.clock.tickMs();
      const double seconds = (now - mark) / kMsPerSecond;
      mark = now;
      return seconds;
    };
    bool ok = image.forEachPiece(
        batch, [&](std::uint32_t a, std::uint32_t n) { return tw::eraseFlash(d, a, n); });
    erasePhase = lap();
    ok = ok && image.forEachPiece(batch, [&](std::uint32_t a, std::uint32_t n) {
      return tw::writeFlash(d, a, image.bytes(a), n);
    });
    writePhase = lap();
    bool same = true;
    ok = ok && image.forEachPiece(batch, [&](std::uint32_t a, std::uint32_t n) {
      if (!tw::readFlash(d, a, back.data(), n)) return false;
      same = same && std::memcmp(back.data(), image.bytes(a), n) == 0;
      return true;
    });
    readPhase = lap();
    if (!ok) error = desk.failure();
    if (ok && !same) error = "the board does not read back what was written";
    return ok && same;
  });
  state.counters["erase_phase_s"] = erasePhase;
  state.counters["write_phase_s"] = writePhase;
  state.counters["read_phase_s"] = readPhase;
  state.SetLabel("batch " + std::to_string(batch / 1024) + " KB");
}
BENCHMARK(loadBuiltInImage)
    ->Arg(4096)
    ->Arg(16384)
    ->Arg(65536)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The install pipeline's write stage (compare, write what differs with the boot sector last,
// verify, restart) on the same model, beside the model's bound: the chip time and the data
// transfer of exactly the reads, erases and writes the stage is meant to make, with no command
// overhead at all.
enum class Before { Blank, OneInTenDiffers, SameImage };

struct InstallScenario {
  Before before;
  const char* action;
};

void installBuiltInImage(benchmark::State& state, InstallScenario scenario) {
  const ImageRuns& runs = builtInRuns();
  if (!runs.ok) {
    state.SkipWithError(runs.message);
    return;
  }
  const tw::FirmwareImage& image = runs.image;
  const std::uint32_t sectors = image.size / tw::kFlashSectorSize;
  // What the board holds first: nothing, the image with a byte changed in every tenth sector, or
  // the image itself.
  std::vector<std::uint8_t> held(image.data.get(), image.data.get() + image.size);
  std::uint32_t differing = 0;
  for (std::uint32_t s = 0; s < sectors; ++s) {
    if (!tw::sectorHasData(image, image.base + s * tw::kFlashSectorSize)) continue;
    if (scenario.before == Before::Blank ||
        (scenario.before == Before::OneInTenDiffers && s % 10 == 5)) {
      held[std::size_t(s) * tw::kFlashSectorSize + 1000] ^= 0x5A;
      ++differing;
    }
  }
  const bool repair = std::string(scenario.action) == "repair";
  Split split;
  BoardCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    tw::sim::VirtualClock clock;
    World world(clock, BoardOnDesk::options());
    world.plugBoard(scenario.before == Before::Blank ? World::BoardSetup::blank()
                                                     : World::BoardSetup::ours());
    if (scenario.before != Before::Blank) {
      world.flash().eraseAll();
      tw::sim::writeImage(world.flash(), held);
    }
    tw::sim::SimFileSystem files(clock);
    tw::DongleLink dongle(world.hid());
    tw::FirmwareState firmwareState;
    std::atomic<bool> cancel{false};
    std::atomic<bool> stop{false};
    tw::FirmwareJobContext job(firmwareState, clock, cancel, stop, [](tw::WParam) {});
    tw::InstallPorts ports{tw::PicobootPorts{world.usb(), clock}, files, dongle, {}, {}};
    tw::FirmwareRequest request;
    tw::parseFirmwareAction(scenario.action, request.action);
    tw::InstallWork work(job, ports, request);
    work.source = builtInFirmwareImage;
    work.sourceSize = builtInFirmwareImageSize;
    work.target = "0.9.3";
    tw::checkUf2(work.source, work.sourceSize, work.image);
    work.path = world.boardPath();
    world.board().resetCounters();
    state.ResumeTiming();
    const std::uint64_t start = clock.tickMs();
    bool failed = false;
    const bool refused = tw::writeOverPicoboot(work, failed).has_value();
    state.PauseTiming();
    if (refused || failed) {
      state.SkipWithError(("the write stage failed: " + work.tech).c_str());
      return;
    }
    counters = world.board().counters();
    split = Split::of(clock.tickMs() - start, counters, world.board().timing());
    state.ResumeTiming();
  }
  report(state, split, counters, 1);

  // The bound: every touched sector read to compare, the differing ones (with the boot sector)
  // erased and written, all read again to verify when anything was written or for a repair, and
  // a repair's settings area erased and read.
  const BoardTiming t;
  const double pageInUs = t.pageReadUs + double(t.transferUs(tw::kFlashPageSize));
  const double pageOutUs = t.pageProgramUs + double(t.transferUs(tw::kFlashPageSize));
  const std::uint32_t pagesPerSector = tw::kFlashSectorSize / tw::kFlashPageSize;
  const std::uint32_t written = differing == 0 ? 0 : differing + (scenario.before != Before::Blank);
  const bool verifies = written > 0 || repair;
  double boundUs = runs.sectors * pagesPerSector * pageInUs;
  boundUs += written * (t.sectorEraseUs + pagesPerSector * pageOutUs);
  if (verifies) boundUs += runs.sectors * pagesPerSector * pageInUs;
  if (repair) boundUs += 4 * t.sectorEraseUs + 4 * pagesPerSector * pageInUs;
  state.counters["bound_s"] = boundUs / kUsPerSecond;
  state.counters["over_bound_pct"] = (split.total * kUsPerSecond / boundUs - 1) * 100;
  state.counters["written_sectors"] = written;
}
BENCHMARK_CAPTURE(installBuiltInImage, blank_board, InstallScenario{Before::Blank, "install"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(installBuiltInImage, one_sector_in_ten_differs,
                  InstallScenario{Before::OneInTenDiffers, "update"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(installBuiltInImage, already_there, InstallScenario{Before::SameImage, "install"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(installBuiltInImage, repair_of_same_image,
                  InstallScenario{Before::SameImage, "repair"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void printModel() {
  const BoardTiming t;
  const double pageInUs = t.pageReadUs + double(t.transferUs(tw::kFlashPageSize));
  const double pageOutUs = t.pageProgramUs + double(t.transferUs(tw::kFlashPageSize));
  std::printf("Board model (BoardTiming):\n");
  std::printf("  sector erase %.1f ms, page program %.2f ms, page read %.2f ms\n",
              t.sectorEraseUs / 1e3, t.pageProgramUs / 1e3, t.pageReadUs / 1e3);
  std::printf(
      "  USB bulk %.3f MB/s, command block + acknowledgement %.1f ms, control request "
      "%.1f ms, re-enumeration %u ms\n",
      t.usbBytesPerSecond / 1e6, t.commandOverheadUs / 1e3, t.controlTransferUs / 1e3,
      t.enumerationMs);
  std::printf(
      "  so: flash read streams at %.0f KB/s (256 B per %.0f us), a page written costs "
      "%.0f us with its transfer\n",
      tw::kFlashPageSize / pageInUs * 1e3, pageInUs, pageOutUs);
  const ImageRuns& image = builtInRuns();
  if (image.ok) {
    const std::uint32_t pages = image.sectors * (tw::kFlashSectorSize / tw::kFlashPageSize);
    std::printf("Built-in image: %u UF2 blocks, %u sectors in %zu run(s) from 0x%08x, %u pages\n",
                image.image.dataBlocks, image.sectors, image.runs.size(), image.image.base, pages);
    std::printf(
        "  by the model alone: erase %.2f s, program %.2f s, data out %.2f s, read back "
        "%.2f s\n",
        image.sectors * t.sectorEraseUs / kUsPerSecond, pages * t.pageProgramUs / kUsPerSecond,
        t.transferUs(std::uint64_t(pages) * tw::kFlashPageSize) / kUsPerSecond,
        pages * pageInUs / kUsPerSecond);
  }
  std::printf(
      "Hardware figures: 4 KB erase 45 ms typ. (400 max), page program 0.4 ms typ. (3 max); "
      "Pico 2 PICOBOOT read 428 KB/s;\n  1.24 MB image (303 sectors): erase 13.6 s, "
      "program 1.9 s, transfer ~1.0 s, read back 1.0-2.9 s, 17.5-19.5 s in all.\n");
  std::printf(
      "Counters are SIMULATED seconds; Time/CPU columns are the simulation's own cost.\n\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  printModel();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
