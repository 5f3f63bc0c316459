#include "app/operation_guard.h"

namespace hnx {

void DisableOperationButtons(DialogUi& ui) {
  for (int id : kOperationButtons) ui.EnableControl(id, false);
}

void EnableOperationButtons(DialogUi& ui) {
  for (int id : kOperationButtons) ui.EnableControl(id, true);
}

}  // namespace hnx
