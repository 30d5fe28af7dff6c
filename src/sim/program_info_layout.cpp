#include "sim/program_info_layout.h"

#include <cstring>

namespace tw::sim {
namespace {

void putWord(std::vector<std::uint8_t>& bytes, std::uint32_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

ProgramInfoWriter::ProgramInfoWriter(std::vector<std::uint8_t>& image, std::uint32_t at,
                                     std::uint32_t flashBase)
    : image_(image), at_(at), flashBase_(flashBase) {}

std::uint32_t ProgramInfoWriter::address(std::uint32_t offset) const {
  return toRam_ && offset >= ramFrom_ ? ramAddress_ + (offset - ramFrom_) : flashBase_ + offset;
}

std::uint32_t ProgramInfoWriter::addText(std::string_view text) {
  const std::uint32_t where = address(at_);
  std::memcpy(image_.data() + at_, text.data(), text.size());
  image_[at_ + text.size()] = 0;
  at_ = (at_ + static_cast<std::uint32_t>(text.size()) + 1 + 3) & ~3u;
  return where;
}

void ProgramInfoWriter::moveRestToRam(std::uint32_t ramAddress) {
  toRam_ = true;
  ramFrom_ = at_;
  ramAddress_ = ramAddress;
}

ProgramInfoHeader ProgramInfoWriter::finish(const std::vector<ProgramInfoEntry>& entries,
                                            const std::vector<CopyTableRow>& rows) {
  std::vector<std::uint32_t> entryAddresses;
  for (const ProgramInfoEntry& entry : entries) {
    entryAddresses.push_back(address(at_));
    putWord(image_, at_, entry.type | std::uint32_t(kBinaryInfoTagRaspberryPi) << 16);
    putWord(image_, at_ + 4, entry.id);
    putWord(image_, at_ + 8, entry.value);
    at_ += 12;
  }
  ProgramInfoHeader header;
  header.pointers = address(at_);
  for (std::uint32_t entryAddress : entryAddresses) {
    putWord(image_, at_, entryAddress);
    at_ += 4;
  }
  header.pointersEnd = address(at_);
  const std::uint32_t ramTo = at_;

  header.copyTable = flashBase_ + at_;
  std::vector<CopyTableRow> table = rows;
  if (toRam_)
    table.push_back({flashBase_ + ramFrom_, ramAddress_, ramAddress_ + (ramTo - ramFrom_)});
  table.push_back({0, 0, 0});
  for (const CopyTableRow& row : table) {
    putWord(image_, at_, row.source);
    putWord(image_, at_ + 4, row.destination);
    putWord(image_, at_ + 8, row.end);
    at_ += 12;
  }
  return header;
}

void writeProgramInfoHeader(std::vector<std::uint8_t>& image, std::uint32_t at,
                            const ProgramInfoHeader& header) {
  putWord(image, at, kBinaryInfoMarkerStart);
  putWord(image, at + 4, header.pointers);
  putWord(image, at + 8, header.pointersEnd);
  putWord(image, at + 12, header.copyTable);
  putWord(image, at + 16, kBinaryInfoMarkerEnd);
}

}  // namespace tw::sim
