// The page's own words: why a granted device could not be reached, and what to do about it.
#pragma once

#include <optional>
#include <string>

#include "web/webusb_transport.h"

namespace hnx::web {

// The system the browser runs on, as the page's host reports it.
enum class Platform { Linux, Windows, Other };

inline constexpr const char* kAccessDeniedText =
    "Access to the device was denied. On Linux, install the udev rule 60-hnx-update.rules that the "
    "hnx-update package installs (or copy it from packaging/ to /etc/udev/rules.d/), then plug the device "
    "in again. On a managed machine, the administrator grants the device to this page with the "
    "WebUsbAllowDevicesForUrls policy.";
inline constexpr const char* kClaimRefusedText =
    "The device is held by another program or a kernel driver: close the other program (another tab, "
    "hnx-update or the update window) or unbind the driver, then try again.";
inline constexpr const char* kWindowsDriverText =
    "On Windows the vendor's driver keeps the device from the browser: update it with the Windows "
    "program, ZB4450_download.exe, instead.";
inline constexpr const char* kNotIdentifiedText =
    "The device did not identify as a ZB29K702, so nothing was written to it.";

// What to say in place of the operation's "not found" when the device was reached this way;
// nothing when the operation's own words stand (the device was gone).
std::optional<std::string> ReachText(Reach reach, Platform platform);

}  // namespace hnx::web
