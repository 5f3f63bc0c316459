#include "link/isp_exchange.h"

namespace hnx {
namespace {

bool SendFrame(TransferLibrary& link, IspFrame& frame, IspOpcode opcode, std::uint32_t address) {
  frame.Encode(opcode, address);
  return link.BulkWrite(frame.bytes.data(), kFrameLength);
}

bool ReadStatus(TransferLibrary& link, std::uint8_t& status) { return link.BulkRead(&status, 1); }

}  // namespace

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

Exchange ReadBlock(TransferLibrary& link, IspFrame& frame, std::uint32_t address, std::span<std::uint8_t> block,
                   const std::function<void()>& beforeRequest) {
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

}  // namespace hnx
