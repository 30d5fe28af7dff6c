// The write over PICOBOOT on its own, against a simulated board in update mode: the stage the
// pipeline runs once the board was found, with the progress messages it reported.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "firmware/uf2_check.h"
#include "flash/board_bench.h"
#include "flash/install_work.h"
#include "sim/sim_file_system.h"

namespace tw::test {

constexpr std::uint32_t kWriteBenchSectors = 33;  // the boot sector and two runs of a 64 KB block

struct WriteBench {
  WriteBench() {
    sim::FirmwareRecipe recipe;
    recipe.size = kWriteBenchSectors * kFlashSectorSize;
    image = sim::makeFirmwareImage(recipe);
    world.plugBoard(sim::World::BoardSetup::blank());
  }

  // Puts the image on the board, then spoils the first page of each sector in `differing`.
  void boardHoldsImageBut(const std::vector<std::uint32_t>& differing) {
    sim::writeImage(world.flash(), image);
    std::uint8_t zeros[256] = {};
    for (std::uint32_t sector : differing) {
      world.flash().programPage(sector * kFlashSectorSize, zeros, sizeof zeros);
    }
  }

  // Runs the write stage for `image`; `confirm` is the person's agreement to replace firmware
  // that is not ours, `repair` asks for the settings to be cleared too. What the stage said is
  // kept in `written`.
  const BoardWritten& run(bool confirm = true, bool repair = false) {
    std::vector<std::uint8_t> uf2 = sim::makeUf2(image);
    std::string lastMessage;
    FirmwareStore store([&](WParam) {
      const FirmwareJob job = store.snapshot().job;
      if (job.msg != lastMessage) {
        lastMessage = job.msg;
        messages.push_back(std::to_string(job.pct) + " " + lastMessage);
      }
    });
    FirmwareJobContext job(store, clock, stop);
    FirmwareImage checked;
    if (checkUf2(uf2.data(), uf2.size(), checked) != 1) {
      ADD_FAILURE() << "the bench's image is not a whole UF2 file";
      written = {StageResult::failed({}, "no image")};
      return written;
    }
    world.board().resetCounters();
    written = writeOverPicoboot(job, PicobootPorts{world.usb(), clock},
                                {checked, world.boardPath(), confirm, repair});
    tech = written.result.tech;
    return written;
  }

  // The same, as the job would end there: an ending for a refusal, else nullopt with `failed`
  // telling whether the drive copy would have to take over.
  std::optional<FirmwareJobEnding> write(bool& failed, bool confirm = true) {
    const StageResult& result = run(confirm).result;
    failed = result.end == StageEnd::Failed;
    if (result.end == StageEnd::Refused) return result.jobEnding();
    return std::nullopt;
  }

  // Sectors in the order the board erased them, and in the order of their first programmed page.
  void flashOrder(std::vector<std::uint32_t>& erased, std::vector<std::uint32_t>& written) {
    for (const sim::FlashOperation& op : world.board().counters().flashLog) {
      std::uint32_t sector = (op.address - kFlashStart) / kFlashSectorSize;
      std::vector<std::uint32_t>& list =
          op.kind == sim::FlashOperation::Kind::Erase ? erased : written;
      if (list.empty() || list.back() != sector) list.push_back(sector);
    }
  }

  sim::VirtualClock clock{0x5A17};
  sim::World world{clock, boardOnly()};
  sim::SimFileSystem files{clock};
  DongleLink dongle{world.hid()};
  std::atomic<bool> stop{false};
  std::vector<std::uint8_t> image;
  std::vector<std::string> messages;  // "<pct> <msg>" each time the message changed
  BoardWritten written;
  std::string tech;
};

}  // namespace tw::test
