// The four entry points of the vendor transfer library ZB_USB.DLL.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define ZB_USB_CALL __cdecl
#else
#define ZB_USB_CALL
#endif

extern "C" {
// Non-zero when a pipe to the device in ISP mode is open.
typedef unsigned char(ZB_USB_CALL* UsbOpenPipeFn)(void);
typedef void(ZB_USB_CALL* UsbClosePipeFn)(void);
// Non-zero on success; *count receives the bytes moved.
typedef unsigned char(ZB_USB_CALL* UsbBulkWriteFn)(unsigned char* data, std::uint32_t length,
                                                    std::uint32_t* count);
typedef unsigned char(ZB_USB_CALL* UsbBulkReadFn)(unsigned char* buffer, std::uint32_t length,
                                                   std::uint32_t* count);
}

namespace hnx {

inline constexpr const char* kUsbOpenPipeName = "USB_Open_PIPE";
inline constexpr const char* kUsbClosePipeName = "USB_Close_PIPE";
inline constexpr const char* kUsbBulkWriteName = "USB_BulkWrite";
inline constexpr const char* kUsbBulkReadName = "USB_BulkRead";

}  // namespace hnx
