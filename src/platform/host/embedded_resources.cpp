#include "platform/host/embedded_resources.h"

namespace tw {

void EmbeddedResources::add(int id, const void* bytes, std::size_t size) {
  entries_.push_back(Entry{id, static_cast<const std::uint8_t*>(bytes), size});
}

bool EmbeddedResources::loadRcData(int id, const std::uint8_t*& bytes, std::size_t& size) {
  for (const Entry& entry : entries_) {
    if (entry.id == id && entry.bytes != nullptr) {
      bytes = entry.bytes;
      size = entry.size;
      return true;
    }
  }
  return false;
}

}  // namespace tw
