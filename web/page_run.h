// A run of the page: the granted devices are identified, one is chosen (the user picks when several
// identify), and the operation runs on it with the page's message boxes and progress bar.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/isp.h"
#include "web/page_texts.h"

namespace hnx::web {

// What a run returned to the page; the values are those of web/README.md.
enum class RunOutcome {
  Succeeded = 0,
  Failed = 1,     // the message box said why
  NotOurs = 2,    // no granted device identified, none refused access; the message box said so
  Cancelled = 3,  // the user chose no device; nothing was shown
};

// "Update": the one-click update with the embedded image.
RunOutcome RunPageUpdate(Platform platform, StopFlag stop);

// The chosen image file (`content`, named `name`): read by the image reader, then mass erase with
// its blank check, write and verify; one message box, the verify's or the first failure's.
RunOutcome RunPageWriteVerify(std::span<const std::uint8_t> content, const std::string& name, Platform platform,
                              StopFlag stop);

}  // namespace hnx::web
