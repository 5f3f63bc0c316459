#include "sim/sim_device.h"

// Placeholder until the model is written.
namespace hnx::sim {
SimDevice::SimDevice(std::uint32_t flashSize, std::uint32_t blockLength)
    : flashSize_(flashSize), blockLength_(blockLength), flash_(flashSize, 0xFF) {}
std::uint8_t SimDevice::OpenPipe() { return 0; }
void SimDevice::ClosePipe() {}
std::uint8_t SimDevice::BulkWrite(const std::uint8_t*, std::uint32_t, std::uint32_t*) { return 0; }
std::uint8_t SimDevice::BulkRead(std::uint8_t*, std::uint32_t, std::uint32_t*) { return 0; }
}  // namespace hnx::sim
