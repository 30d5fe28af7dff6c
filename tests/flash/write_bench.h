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
  // that is not ours. Nullopt and `failed` as the stage gives them.
  std::optional<FirmwareJobEnding> write(bool& failed, bool confirm = true) {
    std::vector<std::uint8_t> uf2 = sim::makeUf2(image);
    FirmwareRequest request;
    request.action = FirmwareAction::Install;
    request.confirm = confirm;
    InstallPorts ports{PicobootPorts{world.usb(), clock}, files, dongle, {}, {}};
    std::string lastMessage;
    FirmwareStore store([&](WParam) {
      const FirmwareJob job = store.snapshot().job;
      if (job.msg != lastMessage) {
        lastMessage = job.msg;
        messages.push_back(std::to_string(job.pct) + " " + lastMessage);
      }
    });
    FirmwareJobContext job(store, clock, stop);
    InstallWork work(job, ports, request);
    failed = true;
    if (checkUf2(uf2.data(), uf2.size(), work.image) != 1) {
      ADD_FAILURE() << "the bench's image is not a whole UF2 file";
      return std::nullopt;
    }
    work.path = world.boardPath();
    work.target = "0.9.3";
    world.board().resetCounters();
    std::optional<FirmwareJobEnding> ending = writeOverPicoboot(work, failed);
    tech = work.tech;
    return ending;
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
  std::string tech;
};

}  // namespace tw::test
