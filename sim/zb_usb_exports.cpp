#include "link/usb_entry_points.h"

#if defined(_WIN32)
#define ZB_USB_EXPORT extern "C" __declspec(dllexport)
#else
#define ZB_USB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Placeholder until the model is written.
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_Open_PIPE(void) { return 0; }
ZB_USB_EXPORT void ZB_USB_CALL USB_Close_PIPE(void) {}
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_BulkWrite(unsigned char*, std::uint32_t, std::uint32_t*) { return 0; }
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_BulkRead(unsigned char*, std::uint32_t, std::uint32_t*) { return 0; }
