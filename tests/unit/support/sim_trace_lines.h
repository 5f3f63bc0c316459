// The simulated device's trace as lines of the trace file, for exact comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_device.h"

namespace hnx::test {

std::vector<std::string> TraceLines(const sim::SimDevice& device);

// The lines of a text file without their line ends; none when it cannot be read.
std::vector<std::string> TraceFileLines(const std::string& path);

// The trace line of a whole, accepted write of a well-formed frame.
std::string FrameTraceLine(std::uint8_t opcode, std::uint32_t address);

}  // namespace hnx::test
