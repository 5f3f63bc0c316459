#include "sim/in_process_library.h"

#include <cstring>

#include "link/transfer_library.h"

namespace hnx::sim {
namespace {

// The entry points are plain C functions without a context, so the device they reach is a global.
SimDevice* loadedDevice = nullptr;
int callsWhileUnloaded = 0;

SimDevice* Target() {
  if (loadedDevice == nullptr) ++callsWhileUnloaded;
  return loadedDevice;
}

extern "C" {

unsigned char ZB_USB_CALL SimOpenPipe(void) {
  SimDevice* device = Target();
  return device == nullptr ? 0 : device->OpenPipe();
}

void ZB_USB_CALL SimClosePipe(void) {
  if (SimDevice* device = Target()) device->ClosePipe();
}

unsigned char ZB_USB_CALL SimBulkWrite(unsigned char* data, std::uint32_t length, std::uint32_t* count) {
  SimDevice* device = Target();
  if (device != nullptr) return device->BulkWrite(data, length, count);
  if (count != nullptr) *count = 0;
  return 0;
}

unsigned char ZB_USB_CALL SimBulkRead(unsigned char* buffer, std::uint32_t length, std::uint32_t* count) {
  SimDevice* device = Target();
  if (device != nullptr) return device->BulkRead(buffer, length, count);
  if (count != nullptr) *count = 0;
  return 0;
}

}  // extern "C"

}  // namespace

InProcessLibrary::InProcessLibrary(SimDevice& device) : device_(device) {}

InProcessLibrary::~InProcessLibrary() {
  if (loadedDevice == &device_) loadedDevice = nullptr;
}

DynamicLibrary::Handle InProcessLibrary::Load(const std::string& path) {
  lastPath_ = path;
  if (refuseLoad_) return nullptr;
  loaded_ = true;
  ++loads_;
  loadedDevice = &device_;
  return this;
}

void* InProcessLibrary::Resolve(Handle library, const char* name) {
  if (library != this || !loaded_ || withheld_.contains(name)) return nullptr;
  if (std::strcmp(name, kUsbOpenPipeName) == 0) return reinterpret_cast<void*>(&SimOpenPipe);
  if (std::strcmp(name, kUsbClosePipeName) == 0) return reinterpret_cast<void*>(&SimClosePipe);
  if (std::strcmp(name, kUsbBulkWriteName) == 0) return reinterpret_cast<void*>(&SimBulkWrite);
  if (std::strcmp(name, kUsbBulkReadName) == 0) return reinterpret_cast<void*>(&SimBulkRead);
  return nullptr;
}

void InProcessLibrary::Unload(Handle library) {
  if (library != this || !loaded_) return;
  loaded_ = false;
  ++unloads_;
  if (loadedDevice == &device_) loadedDevice = nullptr;
}

int InProcessLibrary::CallsWhileUnloaded() {
  return callsWhileUnloaded;
}

}  // namespace hnx::sim
