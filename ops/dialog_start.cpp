#include "ops/operations.h"

namespace hnx {
namespace {

constexpr std::uint16_t kProgressSteps = 2048;
constexpr const char* kDefaultChipType = "ZB29K702";

}  // namespace

void InitialiseDialog(DialogState& state, DialogUi& ui) {
  ui.SetControlText(IDC_CHIP_TYPE, kDefaultChipType);
  ui.ControlsToMembers();
  ui.SetProgressRange(0, kProgressSteps);
  ui.SetProgressPos(0);
  state.m_strChecksum = "";
  ui.MoveControl(IDC_PROGRESS, 30, 50, 350, 30);
  ui.MoveControl(IDC_UPDATE, 400, 50, 80, 30);
  ui.ResizeWindow(530, 180);
  ui.MembersToControls();
}

}  // namespace hnx
