#include "ops/chip_selection.h"

#include "ops/messages.h"

namespace hnx {

std::optional<ChipProfile> SelectChip(OperationContext& context) {
  const ChipLookup lookup = LookUpChip(context.state.m_strChipType);
  if (lookup.status != ChipLookupStatus::Found) {
    ReportChipLookup(lookup, context.ui);
    return std::nullopt;
  }
  context.state.m_nImageSize = lookup.profile.imageSize;
  context.state.m_nBlockLength = lookup.profile.blockLength;
  return lookup.profile;
}

std::optional<ChipProfile> SelectChipAndImagePath(OperationContext& context) {
  if (context.state.m_strChipType.empty()) {
    ReportChipLookup({ChipLookupStatus::Empty, {}}, context.ui);
    return std::nullopt;
  }
  if (context.state.m_strImagePath.empty()) {
    Show(context.ui, kNoImagePath);
    return std::nullopt;
  }
  return SelectChip(context);
}

}  // namespace hnx
