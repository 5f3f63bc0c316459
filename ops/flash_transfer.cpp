#include "ops/flash_transfer.h"

#include <algorithm>

namespace hnx {

Exchange ProgramFlash(TransferLibrary& link, IspFrame& frame, std::uint32_t blockLength,
                      std::span<const std::uint8_t> image,
                      const std::function<void(std::uint32_t address)>& beforeData) {
  for (std::uint32_t address = 0; address < image.size(); address += blockLength) {
    const auto announced = [&] {
      if (beforeData) beforeData(address);
    };
    const Exchange result =
        ProgramBlock(link, frame, address, image.subspan(address, blockLength), announced);
    if (result != Exchange::Ok) return result;
  }
  return Exchange::Ok;
}

Exchange ReadBackFlash(TransferLibrary& link, IspFrame& frame, const ChipProfile& chip,
                       std::span<std::uint8_t> block, std::span<std::uint8_t> readBack,
                       const std::function<void()>& beforeRequest) {
  for (std::uint32_t address = 0; address < chip.imageSize; address += chip.blockLength) {
    const Exchange result = ReadBlock(link, frame, address, block, beforeRequest);
    if (result != Exchange::Ok) return result;
    std::copy(block.begin(), block.end(), readBack.begin() + address);
  }
  return Exchange::Ok;
}

}  // namespace hnx
