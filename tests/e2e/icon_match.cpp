#include "icon_match.h"

#include <windows.h>

#include <array>
#include <utility>

#include "screen_image.h"

namespace hnx::e2e {
namespace {

ScreenImage DrawOnBackground(HICON icon, int width, int height, std::uint32_t background) {
  ScreenImage image{width, height, std::vector<std::uint32_t>(std::size_t(width) * height)};
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  const HBRUSH brush =
      CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, brush);
  DrawIcon(memory, 0, 0, icon);
  SelectObject(memory, previous);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  GetDIBits(memory, bitmap, 0, height, image.pixels.data(), &info, DIB_RGB_COLORS);
  for (auto& pixel : image.pixels) pixel &= 0x00FFFFFF;
  DeleteObject(brush);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return image;
}

std::size_t Differences(const ScreenImage& a, const ScreenImage& b) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) count += a.pixels[i] != b.pixels[i];
  return count;
}

}  // namespace

Icon MatchSystemIcon(const Rect& area) {
  const ScreenImage shown = CaptureScreen(area);
  if (shown.pixels.empty()) return Icon::Unknown;
  const std::array<std::pair<Icon, LPCSTR>, 3> candidates = {
      {{Icon::Error, IDI_HAND}, {Icon::Exclamation, IDI_EXCLAMATION}, {Icon::Information, IDI_ASTERISK}}};
  for (const auto& [icon, name] : candidates) {
    const ScreenImage drawn =
        DrawOnBackground(LoadIconA(nullptr, name), area.width, area.height, shown.pixels[0]);
    if (Differences(shown, drawn) == 0) return icon;
  }
  return Icon::Unknown;
}

}  // namespace hnx::e2e
