// The ISP protocol: the 10-byte command frame, the exchanges of frames, data blocks and status bytes
// with the device, and the whole-flash transfer loops built on them. Exchanges report what happened
// as a kind; the operations choose the words. The frames are listed in PROTOCOL.md beside this file.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

#include "link/transfer_library.h"

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

enum class Exchange {
  Ok,
  WriteFailure,  // a frame or a data block was not sent whole
  ReadFailure,   // a data block or a status byte was not received whole
  Refused,       // the device answered a non-zero status to a program block
  Stopped,       // asked to stop: the loop ended at a block boundary, no frame begun
};

// Read at block boundaries by the whole-flash loops; nullptr: never stop.
using StopFlag = const std::atomic<bool>*;

inline bool StopRequested(StopFlag stop) {
  return stop != nullptr && stop->load();
}

// A read block refused this many times in a row is given up as a read failure, so a broken device
// cannot hold the tool for ever.
inline constexpr std::uint32_t kReadRefusalLimit = 1000;

// Finish, read protect, exit: the frame alone, no reply.
Exchange SendCommand(TransferLibrary& link, IspFrame& frame, IspOpcode opcode);

// The mass-erase frame and its status byte. The status value says nothing about the erase and is
// not examined.
Exchange MassErase(TransferLibrary& link, IspFrame& frame);

// The program frame for `address`, then the block, then the status byte. `beforeData` runs after
// the frame was sent and before the block is, and may still change the block's bytes.
Exchange ProgramBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address,
                      std::span<const std::uint8_t> block, const std::function<void()>& beforeData = {});

// Read frame, block, status, asked again at once for the same address while the device refuses
// it. `beforeRequest` runs before every request, repeats included. On Ok `block` holds the
// accepted bytes.
Exchange ReadBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address,
                   std::span<std::uint8_t> block, const std::function<void()>& beforeRequest = {});

// Programs `image` block by block at 0, L, 2L, ... and stops at the first exchange that is not Ok,
// or before the next block once `stop` is set. `beforeData(address)` runs after each program frame
// was sent and before its block is; it may still change that block in the image.
Exchange ProgramFlash(TransferLibrary& link, IspFrame& frame, std::uint32_t blockLength,
                      std::span<const std::uint8_t> image,
                      const std::function<void(std::uint32_t address)>& beforeData = {}, StopFlag stop = nullptr);

// Reads the blocks of `readBack` (its size a multiple of the block's) at 0, L, 2L, ... through
// `block` into their offsets, asking again for a block the device refuses, and stops before the next
// block once `stop` is set. `beforeRequest(address)` runs before every request.
Exchange ReadBackFlash(TransferLibrary& link, IspFrame& frame, std::span<std::uint8_t> block,
                       std::span<std::uint8_t> readBack,
                       const std::function<void(std::uint32_t address)>& beforeRequest = {},
                       StopFlag stop = nullptr);

}  // namespace hnx
