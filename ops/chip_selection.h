// The chip lookups with which the operations begin, each reporting its own failures.
#pragma once

#include <optional>

#include "chip/chip_catalogue.h"
#include "ops/operation_context.h"

namespace hnx {

// Looks up the dialog's chip type. Found: the profile is kept in m_nImageSize and m_nBlockLength.
// Otherwise "Please select the ic type!" or "IC Type Error!!" has been shown.
std::optional<ChipProfile> SelectChip(OperationContext& context);

// Write and Verify: an empty chip type first, then an empty image path ("Please open the program
// file!"), then an unknown chip type.
std::optional<ChipProfile> SelectChipAndImagePath(OperationContext& context);

}  // namespace hnx
