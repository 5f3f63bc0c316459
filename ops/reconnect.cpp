// Re-connect: report whether a device answering the identification string is attached.
#include "link/presence_scan.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {

void Reconnect(OperationContext& context) {
  std::uint32_t deviceCount = 0;
  CountAttachedDevices(context.hubs, deviceCount);
  Show(context.ui, deviceCount > 0 ? kDeviceFound : kNoDeviceAttached);
}

}  // namespace hnx
