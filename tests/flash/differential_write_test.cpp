// The write over PICOBOOT on its own: which sectors it erases and writes for a board that holds
// nothing, the same image, or an image with a few differing sectors; the boot sector erased first
// and written last; the progress it reports; and no read-back when nothing was written.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "firmware/uf2_check.h"
#include "flash/board_bench.h"
#include "flash/install_work.h"
#include "sim/sim_file_system.h"

namespace tw {
namespace {

constexpr std::uint32_t kImageSectors = 33;  // the boot sector and two runs of a 64 KB block

struct WriteBench {
  WriteBench() {
    sim::FirmwareRecipe recipe;
    recipe.size = kImageSectors * kFlashSectorSize;
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

  // Runs the write stage as the pipeline would once the board was found and identified.
  bool write(std::vector<std::string>& messages) {
    std::vector<std::uint8_t> uf2 = sim::makeUf2(image);
    FirmwareRequest request;
    request.action = "install";
    request.confirm = true;
    InstallPorts ports{PicobootPorts{world.usb(), clock}, files, dongle, {}, {}};
    std::string lastMessage;
    FirmwareJobContext job(state, clock, cancel, stop, [&](WParam) {
      std::lock_guard<std::mutex> lock(state.lock);
      if (state.job.msg != lastMessage) {
        lastMessage = state.job.msg;
        messages.push_back(std::to_string(state.job.pct) + " " + lastMessage);
      }
    });
    InstallWork work(job, ports, request);
    if (checkUf2(uf2.data(), uf2.size(), work.image) != 1) return false;
    work.path = world.boardPath();
    work.target = "0.9.3";
    world.board().resetCounters();
    bool failed = true;
    EXPECT_FALSE(writeOverPicoboot(work, failed).has_value());
    return !failed;
  }

  sim::VirtualClock clock{0x5A17};
  sim::World world{clock, test::boardOnly()};
  sim::SimFileSystem files{clock};
  DongleLink dongle{world.hid()};
  FirmwareState state;
  std::atomic<bool> cancel{false}, stop{false};
  std::vector<std::uint8_t> image;
};

std::vector<std::uint32_t> allSectorsBootLast() {
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t s = 1; s < kImageSectors; ++s) sectors.push_back(s);
  sectors.push_back(0);
  return sectors;
}

std::vector<std::uint32_t> allSectors() {
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t s = 0; s < kImageSectors; ++s) sectors.push_back(s);
  return sectors;
}

struct DifferentialCase {
  const char* name;
  bool blank;
  std::vector<std::uint32_t> differing;  // on a board holding the image
  std::vector<std::uint32_t> erased;     // sectors, in order
  std::vector<std::uint32_t> written;    // sectors, in order of their first page
  std::vector<std::string> writeMessages;
  bool verified;
};

TEST(DifferentialWrite, ErasesAndWritesOnlyTheDifferingSectorsWithTheBootSectorLast) {
  const char* ellipsis = "Writing firmware\xE2\x80\xA6 ";
  auto progress = [ellipsis](std::vector<std::string> points) {
    for (std::string& point : points) {
      std::size_t space = point.find(' ');
      point = point.substr(0, space + 1) + ellipsis + point.substr(space + 1);
    }
    return points;
  };
  const std::vector<DifferentialCase> cases = {
      {"a blank board",
       true,
       {},
       allSectors(),
       allSectorsBootLast(),
       progress({"25 0%", "49 48%", "73 96%", "75 100%"}),
       true},
      {"the same image", false, {}, {}, {}, {}, false},
      {"the boot sector and two others differ",
       false,
       {0, 5, 20},
       {0, 5, 20},
       {5, 20, 0},
       progress({"25 0%", "41 33%", "58 66%", "75 100%"}),
       true},
      // The boot sector is rewritten last whenever anything else is, so that the board never
      // starts a half-changed image.
      {"one sector differs",
       false,
       {7},
       {0, 7},
       {7, 0},
       progress({"25 0%", "50 50%", "75 100%"}),
       true},
  };
  for (const DifferentialCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBench bench;
    if (!c.blank) bench.boardHoldsImageBut(c.differing);
    std::vector<std::string> messages;
    ASSERT_TRUE(bench.write(messages));

    std::vector<std::uint32_t> erased, written;
    for (const sim::FlashOperation& op : bench.world.board().counters().flashLog) {
      EXPECT_FALSE(op.viaDrive);
      std::uint32_t sector = (op.address - kFlashStart) / kFlashSectorSize;
      std::vector<std::uint32_t>& list =
          op.kind == sim::FlashOperation::Kind::Erase ? erased : written;
      if (list.empty() || list.back() != sector) list.push_back(sector);
    }
    EXPECT_EQ(erased, c.erased);
    EXPECT_EQ(written, c.written);

    std::vector<std::string> writing;
    bool verified = false;
    for (const std::string& message : messages) {
      if (message.find("Writing firmware") != std::string::npos) writing.push_back(message);
      if (message.find("Checking the write") != std::string::npos) verified = true;
    }
    EXPECT_EQ(writing, c.writeMessages);
    EXPECT_EQ(verified, c.verified);
    EXPECT_EQ(bench.world.flash().read(0, bench.image.size()), bench.image);
  }
}

}  // namespace
}  // namespace tw
