// What the window takes from its environment: where to log the transfers and to append the records.
#pragma once

#include <memory>
#include <string>

#include "link/transfer_trace.h"

namespace hnx::gui {

// HNX_TRACE names a file that gets a line per transfer, as hnx-update --log writes it.
std::unique_ptr<TransferLogFile> TransferLogNamedByEnvironment();

// HNX_RECORD names a file that gets a production record per run, as hnx-update --record writes it.
std::string RecordFileNamedByEnvironment();

}  // namespace hnx::gui
