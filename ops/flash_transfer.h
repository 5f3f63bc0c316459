// Whole-flash transfers shared by the update run and the engineering Write and Verify.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "chip/chip_catalogue.h"
#include "link/isp_exchange.h"

namespace hnx {

// Programs `image` block by block at 0, L, 2L, ... and stops at the first exchange that is not Ok.
// `beforeData(address)` runs after each program frame was sent and before its block is; it may
// still change that block in the image.
Exchange ProgramFlash(TransferLibrary& link, IspFrame& frame, std::uint32_t blockLength,
                      std::span<const std::uint8_t> image,
                      const std::function<void(std::uint32_t address)>& beforeData = {});

// Reads the blocks at 0, L, 2L, ... below the image size through `block` into `readBack` at their
// offsets, asking again for a block the device refuses. `beforeRequest` runs before every request.
Exchange ReadBackFlash(TransferLibrary& link, IspFrame& frame, const ChipProfile& chip,
                       std::span<std::uint8_t> block, std::span<std::uint8_t> readBack,
                       const std::function<void()>& beforeRequest = {});

}  // namespace hnx
