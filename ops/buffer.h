// The byte buffers of an operation, zero-filled when allocated and given back at its release.
#pragma once

#include <cstdint>
#include <vector>

namespace hnx {

using Buffer = std::vector<std::uint8_t>;

inline void Free(Buffer& buffer) {
  Buffer().swap(buffer);
}

}  // namespace hnx
