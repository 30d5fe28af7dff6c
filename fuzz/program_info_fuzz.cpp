// readProgramInfo over arbitrary flash contents: the input is the flash from 0x10000000, and reads
// beyond it fail as they would on a board whose image ends there. Copy tables in the input map
// RAM addresses back into it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "firmware/program_info.h"

namespace {

struct Flash {
  const std::uint8_t* bytes;
  std::size_t size;
  int reads;
};

bool readFlash(void* context, std::uint32_t address, void* buffer, std::size_t length) {
  auto* flash = static_cast<Flash*>(context);
  ++flash->reads;
  if (address < 0x10000000) return false;
  std::uint64_t offset = address - 0x10000000u;
  if (offset + length > flash->size) return false;
  std::memcpy(buffer, flash->bytes + offset, length);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Flash flash{data, size, 0};
  char program[64], version[16];
  int result =
      tw::readProgramInfo(readFlash, &flash, program, sizeof program, version, sizeof version);
  if (result < -1 || result > 1) std::abort();
  if (std::strlen(program) >= sizeof program || std::strlen(version) >= sizeof version) {
    std::abort();
  }
  for (const char* p = program; *p; ++p) {
    if (*p < 0x20 || *p > 0x7e) std::abort();
  }
  // The reader's own bounds: the header, ten table entries, the array, two entries per pointer
  // at most (one entry, one string).
  if (flash.reads > 1 + 10 + 1 + 256 * 2) std::abort();
  return 0;
}
