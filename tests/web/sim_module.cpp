// The simulated device in WebAssembly, for the page engine's tests under Node.js: a C interface to
// SimDevice that the tests' WebUSB device (fake_usb.mjs) forwards its claims and transfers to.
#include <emscripten.h>

#include <cstdint>
#include <memory>
#include <string>

#include "link/transfer_trace.h"
#include "sim/sim_device.h"

using hnx::sim::SimDevice;

extern "C" {

// A fresh device with the fault plan `faults` (sim/README.md), kept to the module's end; nullptr when
// the plan does not parse.
EMSCRIPTEN_KEEPALIVE SimDevice* sim_new(const char* faults) {
  const auto plan = hnx::sim::FaultPlan::Parse(faults);
  if (!plan) return nullptr;
  auto device = std::make_unique<SimDevice>();
  device->faults() = *plan;
  return device.release();
}

EMSCRIPTEN_KEEPALIVE int sim_open(SimDevice* device) {
  return device->OpenPipe();
}

EMSCRIPTEN_KEEPALIVE void sim_close(SimDevice* device) {
  device->ClosePipe();
}

// The bytes moved, or -1 when the device failed the transfer.
EMSCRIPTEN_KEEPALIVE int sim_write(SimDevice* device, const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t count = 0;
  return device->BulkWrite(data, length, &count) != 0 ? static_cast<int>(count) : -1;
}

EMSCRIPTEN_KEEPALIVE int sim_read(SimDevice* device, std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t count = 0;
  return device->BulkRead(buffer, length, &count) != 0 ? static_cast<int>(count) : -1;
}

EMSCRIPTEN_KEEPALIVE std::uint8_t* sim_flash(SimDevice* device) {
  return device->flash().data();
}

EMSCRIPTEN_KEEPALIVE std::uint32_t sim_flash_size(SimDevice* device) {
  return static_cast<std::uint32_t>(device->flash().size());
}

EMSCRIPTEN_KEEPALIVE int sim_pipe_open(SimDevice* device) {
  return device->pipeOpen() ? 1 : 0;
}

// Every call the device received, a line each in the transfer log's format; valid until the next call.
EMSCRIPTEN_KEEPALIVE const char* sim_trace(SimDevice* device) {
  static std::string text;
  text.clear();
  for (const hnx::TraceRecord& record : device->trace()) text += hnx::FormatTraceRecord(record) + "\n";
  return text.c_str();
}

}  // extern "C"
