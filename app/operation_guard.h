// Disables the operation buttons while an operation runs. "Read Protect" is deliberately left out.
#pragma once

#include <array>

#include "app/dialog_ui.h"
#include "res/resource.h"

namespace hnx {

inline constexpr std::array<int, 8> kOperationButtons = {
    IDC_RECONNECT, IDC_UPDATE, IDC_OPEN_FILE, IDC_MASS_ERASE, IDC_WRITE, IDC_VERIFY, IDC_READ, IDC_EXIT_ISP};

void DisableOperationButtons(DialogUi& ui);
void EnableOperationButtons(DialogUi& ui);

}  // namespace hnx
