#include <algorithm>
#include <array>

#include "sim/sim_device.h"

namespace hnx::sim {
namespace {

// "HSIM", version 1, flash size and block length (little-endian), protection, then the flash.
constexpr std::array<std::uint8_t, 5> kStateHeader = {'H', 'S', 'I', 'M', 1};
constexpr std::size_t kGeometryOffset = kStateHeader.size();
constexpr std::size_t kProtectionOffset = kGeometryOffset + 8;
constexpr std::size_t kFlashOffset = kProtectionOffset + 1;

void PutWord(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t GetWord(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[offset + i];
  return value;
}

}  // namespace

std::vector<std::uint8_t> SimDevice::SaveState() const {
  std::vector<std::uint8_t> state(kStateHeader.begin(), kStateHeader.end());
  PutWord(state, flashSize_);
  PutWord(state, blockLength_);
  state.push_back(readProtected_ ? 1 : 0);
  state.insert(state.end(), flash_.begin(), flash_.end());
  return state;
}

bool SimDevice::LoadState(const std::vector<std::uint8_t>& state) {
  if (state.size() != kFlashOffset + flashSize_) return false;
  if (!std::equal(kStateHeader.begin(), kStateHeader.end(), state.begin())) return false;
  if (GetWord(state, kGeometryOffset) != flashSize_ || GetWord(state, kGeometryOffset + 4) != blockLength_)
    return false;
  if (state[kProtectionOffset] > 1) return false;
  readProtected_ = state[kProtectionOffset] == 1;
  flash_.assign(state.begin() + kFlashOffset, state.end());
  return true;
}

}  // namespace hnx::sim
