#include "link/isp.h"

#include <algorithm>

namespace hnx {
namespace {

bool SendFrame(TransferLibrary& link, IspFrame& frame, IspOpcode opcode, std::uint32_t address) {
  frame.Encode(opcode, address);
  return link.BulkWrite(frame.bytes.data(), kFrameLength);
}

bool ReadStatus(TransferLibrary& link, std::uint8_t& status) {
  return link.BulkRead(&status, 1);
}

}  // namespace

void IspFrame::Encode(IspOpcode opcode, std::uint32_t address) {
  bytes[0] = opcode;
  bytes[3] = static_cast<std::uint8_t>(address >> 24);
  bytes[4] = static_cast<std::uint8_t>(address >> 16);
  bytes[5] = static_cast<std::uint8_t>(address >> 8);
  bytes[6] = static_cast<std::uint8_t>(address);
  bytes[8] = opcode == OpMassErase ? kMassEraseTrailer : kCommandTrailer;
}

Exchange SendCommand(TransferLibrary& link, IspFrame& frame, IspOpcode opcode) {
  return SendFrame(link, frame, opcode, 0) ? Exchange::Ok : Exchange::WriteFailure;
}

Exchange MassErase(TransferLibrary& link, IspFrame& frame) {
  if (!SendFrame(link, frame, OpMassErase, 0)) return Exchange::WriteFailure;
  std::uint8_t status = 0;
  return ReadStatus(link, status) ? Exchange::Ok : Exchange::ReadFailure;
}

Exchange ProgramBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address,
                      std::span<const std::uint8_t> block, const std::function<void()>& beforeData) {
  if (!SendFrame(link, frame, OpProgramBlock, address)) return Exchange::WriteFailure;
  if (beforeData) beforeData();
  if (!link.BulkWrite(block.data(), static_cast<std::uint32_t>(block.size()))) return Exchange::WriteFailure;
  std::uint8_t status = 0;
  if (!ReadStatus(link, status)) return Exchange::ReadFailure;
  return status == 0 ? Exchange::Ok : Exchange::Refused;
}

Exchange ReadBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address,
                   std::span<std::uint8_t> block, const std::function<void()>& beforeRequest) {
  for (std::uint32_t refusals = 0; refusals < kReadRefusalLimit; ++refusals) {
    if (beforeRequest) beforeRequest();
    if (!SendFrame(link, frame, OpReadBlock, address)) return Exchange::WriteFailure;
    if (!link.BulkRead(block.data(), static_cast<std::uint32_t>(block.size()))) return Exchange::ReadFailure;
    std::uint8_t status = 0;
    if (!ReadStatus(link, status)) return Exchange::ReadFailure;
    if (status == 0) return Exchange::Ok;
  }
  return Exchange::ReadFailure;
}

Exchange ProgramFlash(TransferLibrary& link, IspFrame& frame, std::uint32_t blockLength,
                      std::span<const std::uint8_t> image,
                      const std::function<void(std::uint32_t address)>& beforeData, StopFlag stop) {
  for (std::uint32_t address = 0; address < image.size(); address += blockLength) {
    if (StopRequested(stop)) return Exchange::Stopped;
    const auto announced = [&] {
      if (beforeData) beforeData(address);
    };
    const Exchange result =
        ProgramBlock(link, frame, address, image.subspan(address, blockLength), announced);
    if (result != Exchange::Ok) return result;
  }
  return Exchange::Ok;
}

Exchange ReadBackFlash(TransferLibrary& link, IspFrame& frame, std::span<std::uint8_t> block,
                       std::span<std::uint8_t> readBack,
                       const std::function<void(std::uint32_t address)>& beforeRequest, StopFlag stop) {
  for (std::size_t address = 0; address < readBack.size(); address += block.size()) {
    if (StopRequested(stop)) return Exchange::Stopped;
    const auto announced = [&] {
      if (beforeRequest) beforeRequest(static_cast<std::uint32_t>(address));
    };
    const Exchange result = ReadBlock(link, frame, static_cast<std::uint32_t>(address), block, announced);
    if (result != Exchange::Ok) return result;
    std::copy(block.begin(), block.end(), readBack.begin() + address);
  }
  return Exchange::Ok;
}

}  // namespace hnx
