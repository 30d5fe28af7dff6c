// Version texts: the packed integer form used between instances of the program.
#pragma once

#include <cstdint>
#include <string_view>

namespace tw {

// Reads "%u.%u.%u" (numbers that are not read stay 0) and packs major * 1000000 + minor * 1000 +
// patch; "1.2.0" packs to 1002000.
std::uint32_t packedVersion(std::string_view text);

}  // namespace tw
