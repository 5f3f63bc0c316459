#include "ops/sleeper_win32.h"

#include <windows.h>

namespace hnx {

void Win32Sleeper::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace hnx
