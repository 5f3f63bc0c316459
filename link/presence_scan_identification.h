// The identification request: string descriptor 0xFF in language 0x2861, whose text must be
// exactly "ZB29K702".
#pragma once

#include <cstdint>
#include <string_view>

#include "link/hub_driver.h"

namespace hnx {

inline constexpr std::u16string_view kIdentificationText = u"ZB29K702";
inline constexpr std::uint8_t kIdentificationDescriptorIndex = 0xFF;
inline constexpr std::uint16_t kIdentificationLanguage = 0x2861;

// Asks the device on `port` of an open hub for the identification string; true when its reply is a
// well-formed string descriptor whose text equals kIdentificationText.
bool DeviceIdentifies(HubDriver& driver, HubDriver::Handle hub, std::uint32_t port);

}  // namespace hnx
