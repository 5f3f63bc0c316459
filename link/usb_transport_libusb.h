// The USB buses through libusb-1.0 and the kernel's USB file system (Linux). A device is ours when
// its string descriptor 0xFF in language 0x2861 reads the identification text, the rule of the
// Windows hub walk (presence_scan.h). Devices that cannot be opened or refuse the request are
// passed over; those refused for lack of permission are counted.
#pragma once

#include <chrono>
#include <memory>

#include "link/usb_bus.h"

namespace hnx {

// Every transfer, the identification request included, ends by then: an unplugged or silent device
// is a failed transfer.
inline constexpr unsigned kUsbTransferTimeoutMilliseconds = 5000;

// How often the buses are surveyed for changes where libusb offers no hot-plug notifications.
inline constexpr std::chrono::milliseconds kUsbSurveyInterval{250};

// A device that arrives is asked for its identification this many times at most while it stays
// plugged, this far apart, should it not answer (not ready yet, or its node not yet opened to us).
inline constexpr int kIdentificationTries = 3;
inline constexpr std::chrono::milliseconds kIdentificationRetryInterval{500};

// The buses through a libusb context; nullptr when libusb cannot start. Each transport it hands out
// has a context of its own, so that it may run on a thread of its own. Opening a transport claims
// interface 0 (detaching a kernel driver bound to it) and takes the
// interface's first bulk OUT and first bulk IN endpoints; closing releases both.
std::unique_ptr<UsbBus> MakeLibusbBus();

}  // namespace hnx
