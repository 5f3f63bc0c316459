// The exchanges of ISP frames, data blocks and status bytes with the device. They report what
// happened as a kind; the operations choose the words.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "link/isp_frame.h"
#include "link/transfer_library.h"

namespace hnx {

enum class Exchange {
  Ok,
  WriteFailure,  // a frame or a data block was not sent whole
  ReadFailure,   // a data block or a status byte was not received whole
  Refused,       // the device answered a non-zero status to a program block
};

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
Exchange ReadBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address, std::span<std::uint8_t> block,
                   const std::function<void()>& beforeRequest = {});

}  // namespace hnx
