// Which of the system's message-box icons the screen shows in an area.
#pragma once

#include "message_box.h"
#include "windows_probe.h"

namespace hnx::e2e {

// Draws each candidate icon over the area's own background and compares the result with the screen.
Icon MatchSystemIcon(const Rect& area);

}  // namespace hnx::e2e
