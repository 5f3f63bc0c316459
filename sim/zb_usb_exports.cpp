// The four entry points of ZB_USB, backed by one simulated device per load of the library. A build
// may leave one out (ZB_USB_OMIT_<name>) to stand for a broken library.
#include "link/transfer_library.h"
#include "sim/library_device.h"

#if defined(_WIN32)
#define ZB_USB_EXPORT extern "C" __declspec(dllexport)
#else
#define ZB_USB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Made at the first call; destroyed, and its state saved, when the library is unloaded.
hnx::sim::LibraryDevice& Device() {
  static hnx::sim::LibraryDevice device(hnx::sim::LibrarySettings::FromEnvironment());
  return device;
}

}  // namespace

#if !defined(ZB_USB_OMIT_USB_Open_PIPE)
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_Open_PIPE(void) {
  return Device().OpenPipe();
}
#endif

#if !defined(ZB_USB_OMIT_USB_Close_PIPE)
ZB_USB_EXPORT void ZB_USB_CALL USB_Close_PIPE(void) {
  Device().ClosePipe();
}
#endif

#if !defined(ZB_USB_OMIT_USB_BulkWrite)
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_BulkWrite(unsigned char* data, std::uint32_t length,
                                                      std::uint32_t* count) {
  return Device().BulkWrite(data, length, count);
}
#endif

#if !defined(ZB_USB_OMIT_USB_BulkRead)
ZB_USB_EXPORT unsigned char ZB_USB_CALL USB_BulkRead(unsigned char* buffer, std::uint32_t length,
                                                     std::uint32_t* count) {
  return Device().BulkRead(buffer, length, count);
}
#endif
