#include "link/transfer_library.h"

#include <utility>

#include "link/isp.h"

namespace hnx {

TransferLibrary::TransferLibrary(DynamicLibrary& loader, const std::string& path, TransferLog* log)
    : loader_(&loader), log_(log), handle_(path.empty() ? nullptr : loader.Load(path)) {
  if (handle_ == nullptr) return;
  openPipe_ = Resolve<UsbOpenPipeFn>(kUsbOpenPipeName);
  closePipe_ = Resolve<UsbClosePipeFn>(kUsbClosePipeName);
  bulkWrite_ = Resolve<UsbBulkWriteFn>(kUsbBulkWriteName);
  bulkRead_ = Resolve<UsbBulkReadFn>(kUsbBulkReadName);
}

TransferLibrary::TransferLibrary(Transport& transport, TransferLog* log) : transport_(&transport), log_(log) {}

template <typename Function>
Function TransferLibrary::Resolve(const char* name) {
  void* address = loader_->Resolve(handle_, name);
  if (address == nullptr) missing_.push_back(name);
  return reinterpret_cast<Function>(address);
}

TransferLibrary::~TransferLibrary() {
  Unload();
}

void TransferLibrary::Log(TraceRecord record) {
  if (log_ != nullptr) log_->Record(record);
}

bool TransferLibrary::OpenPipe() {
  if (!canOpenPipe()) return false;
  const bool opened = transport_ != nullptr ? transport_->OpenPipe() : openPipe_() != 0;
  Log({TraceRecord::Call::OpenPipe, 0, 0, opened, {}});
  if (!opened) return false;
  if (log_ != nullptr && transport_ != nullptr)
    if (const std::optional<DeviceFacts> facts = transport_->facts()) log_->DeviceOpened(*facts);
  pipeOpen_ = true;
  return true;
}

bool TransferLibrary::BulkWrite(const std::uint8_t* data, std::uint32_t length) {
  if (!Writes()) return false;
  std::uint32_t count = 0;
  // The library's signature takes a non-const pointer; it does not write through it.
  const bool reported = transport_ != nullptr ? transport_->BulkWrite(data, length, count)
                                              : bulkWrite_(const_cast<std::uint8_t*>(data), length, &count) != 0;
  if (log_ != nullptr) {
    TraceRecord record{TraceRecord::Call::BulkWrite, length, count, reported, {}};
    if (length == kFrameLength) record.bytes.assign(data, data + length);
    Log(std::move(record));
  }
  return reported && count == length;
}

bool TransferLibrary::BulkRead(std::uint8_t* buffer, std::uint32_t length) {
  if (!Reads()) return false;
  std::uint32_t count = 0;
  const bool reported =
      transport_ != nullptr ? transport_->BulkRead(buffer, length, count) : bulkRead_(buffer, length, &count) != 0;
  if (log_ != nullptr) {
    TraceRecord record{TraceRecord::Call::BulkRead, length, count, reported, {}};
    if (length == 1 && reported && count == 1) record.bytes.push_back(buffer[0]);
    Log(std::move(record));
  }
  return reported && count == length;
}

void TransferLibrary::ClosePipe() {
  if (pipeOpen_ && (closePipe_ != nullptr || transport_ != nullptr)) {
    if (transport_ != nullptr) transport_->ClosePipe();
    else closePipe_();
    Log({TraceRecord::Call::ClosePipe, 0, 0, true, {}});
  }
  pipeOpen_ = false;
}

void TransferLibrary::Unload() {
  ClosePipe();
  UnloadKeepingPipeOpen();
}

void TransferLibrary::UnloadKeepingPipeOpen() {
  if (handle_ != nullptr) loader_->Unload(handle_);
  handle_ = nullptr;
  transport_ = nullptr;
  openPipe_ = nullptr;
  closePipe_ = nullptr;
  bulkWrite_ = nullptr;
  bulkRead_ = nullptr;
  pipeOpen_ = false;
}

std::string TransferLibraryPathBeside(const std::string& modulePath) {
  const auto lastSeparator = modulePath.find_last_of("\\/");
  if (lastSeparator == std::string::npos) return "";
  return modulePath.substr(0, lastSeparator + 1) + kTransferLibraryName;
}

}  // namespace hnx
