// The write over PICOBOOT on its own: which sectors it erases and writes for a board that holds
// nothing, the same image, or an image with a few differing sectors; the boot sector erased first
// and written last; the progress it reports; and no read-back when nothing was written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/write_bench.h"

namespace tw {
namespace {

using test::kWriteBenchSectors;
using test::WriteBench;

std::vector<std::uint32_t> allSectorsBootLast() {
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t s = 1; s < kWriteBenchSectors; ++s) sectors.push_back(s);
  sectors.push_back(0);
  return sectors;
}

std::vector<std::uint32_t> allSectors() {
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t s = 0; s < kWriteBenchSectors; ++s) sectors.push_back(s);
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
    bool failed = true;
    EXPECT_FALSE(bench.write(failed).has_value());
    ASSERT_FALSE(failed) << bench.tech;
    std::vector<std::uint32_t> erased, written;
    bench.flashOrder(erased, written);
    for (const sim::FlashOperation& op : bench.world.board().counters().flashLog) {
      EXPECT_FALSE(op.viaDrive);
    }
    EXPECT_EQ(erased, c.erased);
    EXPECT_EQ(written, c.written);

    std::vector<std::string> writing;
    bool verified = false;
    for (const std::string& message : bench.messages) {
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
