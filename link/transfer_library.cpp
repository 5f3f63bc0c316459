#include "link/transfer_library.h"

namespace hnx {
namespace {

template <typename Function>
Function ResolveOrReport(DynamicLibrary& loader, DynamicLibrary::Handle handle, const char* name,
                         DialogUi& ui) {
  void* address = loader.Resolve(handle, name);
  if (address == nullptr) ui.ShowAppMessage(std::string("Can't load function ") + name + "!");
  return reinterpret_cast<Function>(address);
}

}  // namespace

TransferLibrary::TransferLibrary(DynamicLibrary& loader, const std::string& path, DialogUi& ui)
    : loader_(loader), handle_(path.empty() ? nullptr : loader.Load(path)) {
  if (handle_ == nullptr) return;
  openPipe_ = ResolveOrReport<UsbOpenPipeFn>(loader_, handle_, kUsbOpenPipeName, ui);
  closePipe_ = ResolveOrReport<UsbClosePipeFn>(loader_, handle_, kUsbClosePipeName, ui);
  bulkWrite_ = ResolveOrReport<UsbBulkWriteFn>(loader_, handle_, kUsbBulkWriteName, ui);
  bulkRead_ = ResolveOrReport<UsbBulkReadFn>(loader_, handle_, kUsbBulkReadName, ui);
}

TransferLibrary::~TransferLibrary() { Unload(); }

bool TransferLibrary::OpenPipe() {
  if (openPipe_ == nullptr) return false;
  if (openPipe_() == 0) return false;
  pipeOpen_ = true;
  return true;
}

bool TransferLibrary::BulkWrite(const std::uint8_t* data, std::uint32_t length) {
  if (bulkWrite_ == nullptr) return false;
  std::uint32_t count = 0;
  // The library's signature takes a non-const pointer; it does not write through it.
  const bool reported = bulkWrite_(const_cast<std::uint8_t*>(data), length, &count) != 0;
  return reported && count == length;
}

bool TransferLibrary::BulkRead(std::uint8_t* buffer, std::uint32_t length) {
  if (bulkRead_ == nullptr) return false;
  std::uint32_t count = 0;
  const bool reported = bulkRead_(buffer, length, &count) != 0;
  return reported && count == length;
}

void TransferLibrary::ClosePipe() {
  if (pipeOpen_ && closePipe_ != nullptr) closePipe_();
  pipeOpen_ = false;
}

void TransferLibrary::Unload() {
  ClosePipe();
  UnloadKeepingPipeOpen();
}

void TransferLibrary::UnloadKeepingPipeOpen() {
  if (handle_ != nullptr) loader_.Unload(handle_);
  handle_ = nullptr;
  openPipe_ = nullptr;
  closePipe_ = nullptr;
  bulkWrite_ = nullptr;
  bulkRead_ = nullptr;
  pipeOpen_ = false;
}

}  // namespace hnx
