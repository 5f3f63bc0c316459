#include "ops/messages.h"

namespace hnx {

void Show(DialogUi& ui, const Message& message) {
  ui.ShowMessage(message.text, message.caption, message.icon);
}

Message ExchangeFailure(Exchange failure) {
  return failure == Exchange::WriteFailure ? kWriteFailure : kReadFailure;
}

Message ProgramFailure(Exchange failure) {
  return failure == Exchange::ReadFailure ? kReadFailure : kFlashWriteFailure;
}

}  // namespace hnx
