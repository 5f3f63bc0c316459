// Pixels of the screen, for the demo's screenshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "windows_probe.h"

namespace hnx::e2e {

struct ScreenImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// What the screen shows in `area` (screen coordinates).
ScreenImage CaptureScreen(const Rect& area);
// A 24-bit bitmap file.
bool SaveBitmap(const ScreenImage& image, const std::string& path);

}  // namespace hnx::e2e
