// The dialog's object for its progress bar: attached to the control by the first data exchange.
#pragma once

#include <windows.h>

#include <cstdint>

namespace hnx::win {

class ProgressControl {
 public:
  bool attached() const { return window_ != nullptr; }
  void Attach(HWND window) { window_ = window; }
  void SetRange(std::uint16_t lower, std::uint16_t upper) const;
  void SetPos(int position) const;

 private:
  HWND window_ = nullptr;
};

}  // namespace hnx::win
