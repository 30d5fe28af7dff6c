#include "sim/boot_rom.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tw::sim {

void BootRom::eraseSector(std::uint32_t address, bool viaDrive) {
  address &= ~(kFlashSectorSize - 1);
  std::uint32_t offset = address - kFlashBase;
  if (offset < kChipSelectSize) flash_.eraseSector(offset);
  ++counters.sectorsErased;
  counters.logFlash({FlashOperation::Kind::Erase, address, viaDrive});
}

void BootRom::programPage(std::uint32_t address, const std::uint8_t* page, bool viaDrive) {
  std::uint32_t offset = address - kFlashBase;
  char pageName[24];
  std::snprintf(pageName, sizeof pageName, "program@%08x", static_cast<unsigned>(address));
  bool anyPageKept = flashFaults.next("program") != FaultKind::Fail;
  bool kept = flashFaults.next(pageName) != FaultKind::Fail && anyPageKept;
  if (offset < kChipSelectSize && kept) flash_.programPage(offset, page, kFlashPageSize);
  ++counters.pagesProgrammed;
  counters.logFlash({FlashOperation::Kind::Program, address, viaDrive});
}

void BootRom::readFlash(std::uint32_t address, std::uint8_t* out, std::size_t length) {
  std::uint32_t offset = address - kFlashBase;
  if (offset < kChipSelectSize) {
    flash_.read(offset, out, length);
  } else {
    std::memset(out, 0xFF, length);
  }
  ++counters.pagesRead;
}

void BootRom::readSram(std::uint32_t address, std::uint8_t* out, std::size_t length) {
  std::size_t at = address - kSramBase;
  for (std::size_t i = 0; i < length; ++i) {
    out[i] = at + i < sram_.size() ? sram_[at + i] : 0;
  }
}

void BootRom::writeSram(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  if (sram_.empty()) sram_.assign(kSramEnd - kSramBase, 0);
  std::size_t at = address - kSramBase;
  std::memcpy(sram_.data() + at, data, length);
}

bool BootRom::claimMutation(MutationSource source, bool continuesStream) {
  if (continuesStream && lastMutation_ != source) return false;
  lastMutation_ = source;
  return true;
}

std::uint32_t BootRom::requestReboot(std::uint32_t flags, std::uint32_t delayMs, std::uint32_t p0,
                                     std::uint32_t p1, std::uint64_t nowMs) {
  flags &= ~kRebootNoReturnOnSuccess;
  std::uint32_t type = flags & 0xF;
  std::uint32_t architecture = flags & (kRebootToArm | kRebootToRiscv);
  bool valid = (flags & ~(0xFu | kRebootToArm | kRebootToRiscv)) == 0 &&
               architecture != (kRebootToArm | kRebootToRiscv);
  switch (type) {
    case kRebootTypeNormal:
    case kRebootTypeBootsel:
      break;
    case kRebootTypeRamImage:
      valid = valid && p1 != 0 && isSramAddress(p0) && p1 <= kSramEnd - p0;
      break;
    case kRebootTypeFlashUpdate:
      valid = valid && isFlashAddress(p0);
      break;
    default:
      // Starting at a given PC and SP is for secure code only; other types do not exist.
      valid = false;
      break;
  }
  if (!valid) return kPicobootNotPermitted;
  reboot_ = RebootRequest{flags, delayMs, p0, p1, nowMs + delayMs};
  return kPicobootOk;
}

std::string BootRom::commandFaultName(std::uint8_t commandId) {
  char name[16];
  std::snprintf(name, sizeof name, "command-%02x", commandId);
  return name;
}

std::uint32_t BootRom::injectedStatus(std::uint8_t commandId) {
  if (commandFaults_.next(commandFaultName(commandId)) == FaultKind::None) return 0;
  auto found = injected_.find(commandId);
  return found == injected_.end() ? kPicobootUnknownError : found->second;
}

void BootRom::failCommand(std::uint8_t commandId, std::uint32_t status, std::uint32_t nth,
                          std::uint32_t count) {
  injected_[commandId] = status;
  commandFaults_.inject(commandFaultName(commandId), FaultKind::Fail, nth, count);
}

void BootRom::powerOn() {
  exclusive_ = kNotExclusive;
  lastMutation_ = MutationSource::None;
  reboot_.reset();
  sram_.clear();
}

}  // namespace tw::sim
