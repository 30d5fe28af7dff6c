// Resources on Linux: byte arrays linked into the program (or a test), registered by id.
#pragma once

#include <vector>

#include "platform/resources.h"

namespace tw {

class EmbeddedResources : public Resources {
 public:
  void add(int id, const void* bytes, std::size_t size);
  bool loadRcData(int id, const std::uint8_t*& bytes, std::size_t& size) override;

 private:
  struct Entry {
    int id;
    const std::uint8_t* bytes;
    std::size_t size;
  };
  std::vector<Entry> entries_;
};

}  // namespace tw
