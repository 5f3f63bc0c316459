// The device behind the exports of the ZB_USB simulator library: one per load, set up from the
// environment, its flash and protection kept in a state file across loads, every call appended to
// a trace file. Names and formats in sim/README.md.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_device.h"

namespace hnx::sim {

inline constexpr const char* kStateFileVariable = "HNX_SIM_STATE";
inline constexpr const char* kTraceFileVariable = "HNX_SIM_TRACE";
inline constexpr const char* kFaultPlanVariable = "HNX_SIM_FAULTS";
inline constexpr const char* kFlashSizeVariable = "HNX_SIM_FLASH_SIZE";
inline constexpr const char* kBlockLengthVariable = "HNX_SIM_BLOCK_LENGTH";
inline constexpr const char* kDelayVariable = "HNX_SIM_DELAY_US";

struct LibrarySettings {
  std::uint32_t flashSize = 0x10000;
  std::uint32_t blockLength = 64;
  FaultPlan faults;
  std::string statePath;  // "" : nothing persists
  std::string tracePath;  // "" : no trace file
  // Settings that could not be read; the device then never opens its pipe.
  std::vector<std::string> errors;

  static LibrarySettings FromEnvironment();
};

class LibraryDevice {
 public:
  explicit LibraryDevice(const LibrarySettings& settings);
  ~LibraryDevice();
  LibraryDevice(const LibraryDevice&) = delete;
  LibraryDevice& operator=(const LibraryDevice&) = delete;

  std::uint8_t OpenPipe() { return device_.OpenPipe(); }
  void ClosePipe();
  std::uint8_t BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t* count);
  std::uint8_t BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* count) {
    return device_.BulkRead(buffer, length, count);
  }

 private:
  void TraceLine(const std::string& line);
  void SaveIfChanged();

  SimDevice device_;
  std::string statePath_;
  std::FILE* trace_ = nullptr;
  std::uint64_t savedChanges_ = 0;
};

}  // namespace hnx::sim
