// What the simulated device gets wrong on purpose.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

namespace hnx::sim {

// Transfer numbers count bulk writes and reads together, from 1, starting again at every successful
// USB_Open_PIPE.
struct FaultPlan {
  int openFailures = 0;                                 // USB_Open_PIPE answers 0 this many times; -1: always
  std::uint64_t failTransfer = 0;                       // this transfer reports failure (0: none)
  std::uint64_t shortTransfer = 0;                      // this transfer reports success with one byte fewer
  std::optional<std::uint8_t> eraseStatus;              // status answered to a mass erase
  std::map<std::uint32_t, std::uint8_t> programStatus;  // block address -> status after programming
  std::map<std::uint32_t, std::uint32_t> readRefusals;  // block address -> times the read is refused
  std::map<std::uint32_t, std::uint8_t> stuckCells;     // flash address -> value the cell always holds
  std::uint32_t delayMicroseconds = 0;                  // before every bulk transfer

  // "open-fail=3;fail-transfer=7;refuse-read=0x40:2;..." (sim/README.md); nullopt on a syntax error.
  static std::optional<FaultPlan> Parse(std::string_view text);

  bool operator==(const FaultPlan&) const = default;
};

}  // namespace hnx::sim
