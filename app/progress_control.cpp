#include "app/progress_control.h"

#include <commctrl.h>

namespace hnx::win {

void ProgressControl::SetRange(std::uint16_t lower, std::uint16_t upper) const {
  SendMessageA(window_, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

void ProgressControl::SetPos(int position) const {
  SendMessageA(window_, PBM_SETPOS, position, 0);
}

}  // namespace hnx::win
