// The 10-byte ISP command frame.
#pragma once

#include <array>
#include <cstdint>

namespace hnx {

enum IspOpcode : std::uint8_t {
  OpMassErase = 0x25,     // '%'
  OpProgramBlock = 0x28,  // '('
  OpReadBlock = 0x2A,     // '*'
  OpFinish = 0x2F,        // '/'
  OpReadProtect = 0x2C,   // ','
  OpExitIsp = 0x20,       // ' '
};

inline constexpr std::uint32_t kFrameLength = 10;
inline constexpr std::uint8_t kMassEraseTrailer = 0xFF;
inline constexpr std::uint8_t kCommandTrailer = 0x40;  // '@'

// Byte 0 opcode; 1, 2 zero; 3..6 the address, most significant byte first; 7 zero; 8 the trailer;
// 9 zero. One frame may be reused: Encode rewrites every byte that varies.
struct IspFrame {
  std::array<std::uint8_t, kFrameLength> bytes{};

  void Encode(IspOpcode opcode, std::uint32_t address);
};

}  // namespace hnx
