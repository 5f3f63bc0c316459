#include "link/isp_frame.h"

namespace hnx {

void IspFrame::Encode(IspOpcode opcode, std::uint32_t address) {
  bytes[0] = opcode;
  bytes[3] = static_cast<std::uint8_t>(address >> 24);
  bytes[4] = static_cast<std::uint8_t>(address >> 16);
  bytes[5] = static_cast<std::uint8_t>(address >> 8);
  bytes[6] = static_cast<std::uint8_t>(address);
  bytes[8] = opcode == OpMassErase ? kMassEraseTrailer : kCommandTrailer;
}

}  // namespace hnx
