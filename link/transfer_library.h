// The transfer library bound for one operation: loaded, its four entry points resolved, and
// released (pipe closed, library unloaded) when the operation ends.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_ui.h"
#include "link/dynamic_library.h"
#include "link/usb_entry_points.h"

namespace hnx {

class TransferLibrary {
 public:
  // Loads the library at `path` and resolves USB_Open_PIPE, USB_Close_PIPE, USB_BulkWrite and
  // USB_BulkRead in that order; each missing one is reported with ShowAppMessage and binding goes on.
  // A library that cannot be loaded is reported by nobody and resolves nothing.
  TransferLibrary(DynamicLibrary& loader, const std::string& path, DialogUi& ui);
  ~TransferLibrary();
  TransferLibrary(const TransferLibrary&) = delete;
  TransferLibrary& operator=(const TransferLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // The library is loaded and USB_Open_PIPE was resolved, so OpenPipe can ask the device at all.
  bool canOpenPipe() const { return openPipe_ != nullptr; }
  bool pipeOpen() const { return pipeOpen_; }

  // One call of USB_Open_PIPE; false when the device answered 0 or the entry point is missing.
  bool OpenPipe();
  // One bulk write or read; true only when the library reports success and moved exactly `length`
  // bytes. A missing entry point is a failed transfer.
  bool BulkWrite(const std::uint8_t* data, std::uint32_t length);
  bool BulkRead(std::uint8_t* buffer, std::uint32_t length);

  // USB_Close_PIPE if this binding opened the pipe (and the entry point exists).
  void ClosePipe();
  // Closes the pipe if it is open, then unloads the library. Safe to call more than once.
  void Unload();
  // Exit ISP: the device has been told to leave ISP mode, so the library is unloaded with the pipe
  // left open.
  void UnloadKeepingPipeOpen();

 private:
  DynamicLibrary& loader_;
  DynamicLibrary::Handle handle_ = nullptr;
  UsbOpenPipeFn openPipe_ = nullptr;
  UsbClosePipeFn closePipe_ = nullptr;
  UsbBulkWriteFn bulkWrite_ = nullptr;
  UsbBulkReadFn bulkRead_ = nullptr;
  bool pipeOpen_ = false;
};

}  // namespace hnx
