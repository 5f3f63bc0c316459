// The data members of the main dialog that the operations share.
#pragma once

#include <cstdint>
#include <string>

namespace hnx {

// The window-system members (the icon handle and the progress-bar object) stay in the Win32 dialog
// class; everything the operations read or write lives here, in the dialog's declaration order.
struct DialogState {
  std::string m_strImagePath;
  std::string m_strChipType;
  std::string m_strChecksum;
  std::uint32_t m_nBlockLength = 0;
  std::uint32_t m_nImageSize = 0;
  std::uint8_t m_nReadResult = 0;
  std::uint32_t m_nProgressStep = 0;
};

}  // namespace hnx
