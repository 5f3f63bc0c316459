// Counts the attached devices that answer the identification string "ZB29K702".
#pragma once

#include <cstdint>

#include "link/hub_driver.h"

namespace hnx {

// Walks host controllers 0 to 9, their root hubs and every hub behind them; always writes the count.
void CountAttachedDevices(HubDriver& driver, std::uint32_t& deviceCount);

}  // namespace hnx
