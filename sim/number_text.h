// Numbers as the simulator's settings write them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hnx::sim {

// Decimal, or hexadecimal after "0x"; the whole text must be the number and not exceed `limit`.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t limit);

}  // namespace hnx::sim
