// The unattended demo that tools/run starts in Xvfb, and a measurement of the program's start-up.
//   hnx_demo FOLDER SCREENSHOT_BMP         starts the program laid out in FOLDER, clicks "Update",
//                                          prints each message box, saves a screenshot of the window
//                                          and closes the program; 0 when the update succeeded
//   hnx_demo --measure-startup FOLDER RUNS prints the time from start to dialog shown, RUNS times
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "res/resource.h"

namespace {

using namespace hnx::drive;

constexpr DWORD kMessageTimeoutMs = 120000;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr const char* kSuccess = "Auto Command Succeeded !!";

std::string ProgramIn(const std::string& folder) {
  return folder + "\\ZB4450_download.exe";
}

// What the screen shows of the window, as a 24-bit bitmap file.
bool SaveScreenshot(HWND window, const std::string& path) {
  RECT area;
  GetWindowRect(window, &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, previous);
  // Bottom-up rows of 3-byte pixels, each row padded to 4 bytes: the file's own layout.
  BITMAPINFOHEADER header = {sizeof(header), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  header.biSizeImage = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  std::vector<char> pixels(header.biSizeImage);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&header), sizeof(header));
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

int RunDemo(const std::string& folder, const std::string& screenshot) {
  const Program program(ProgramIn(folder), folder);
  if (program.dialog() == nullptr) {
    std::cout << "The program showed no dialog." << std::endl;
    return 1;
  }
  std::cout << "Clicking \"Update\"." << std::endl;
  program.Click(IDC_UPDATE);
  bool succeeded = false;
  // Every message box of the run, until the run has released its guard and shows nothing more.
  while (const auto box = DismissMessageBox(program.processId(), kMessageTimeoutMs)) {
    std::cout << "Message box \"" << box->caption << "\": " << box->text << std::endl;
    succeeded = succeeded || box->text == kSuccess;
    if (WaitUntil([&] { return IsWindowEnabled(program.Control(IDC_UPDATE)) != FALSE; }, kMessageTimeoutMs) &&
        !MessageBoxShown(program.processId())) {
      break;
    }
  }
  SaveScreenshot(program.dialog(), screenshot);
  PostMessageA(program.dialog(), WM_CLOSE, 0, 0);
  program.WaitForExit(kCloseTimeoutMs);
  return succeeded ? 0 : 1;
}

int MeasureStartup(const std::string& folder, int runs) {
  std::vector<double> times;
  LARGE_INTEGER frequency, start, shown;
  QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < runs; ++run) {
    QueryPerformanceCounter(&start);
    const Program program(ProgramIn(folder), folder);
    QueryPerformanceCounter(&shown);
    if (program.dialog() == nullptr) return 1;
    times.push_back(1000.0 * double(shown.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    std::cout << "run " << run + 1 << ": " << times.back() << " ms" << std::endl;
    PostMessageA(program.dialog(), WM_CLOSE, 0, 0);
    program.WaitForExit(kCloseTimeoutMs);
  }
  if (times.empty()) return 1;
  std::sort(times.begin(), times.end());
  std::cout << "median: " << times[times.size() / 2] << " ms" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure-startup")
    return MeasureStartup(WindowsPath(argv[2]), std::stoi(argv[3]));
  if (argc == 3) return RunDemo(WindowsPath(argv[1]), WindowsPath(argv[2]));
  std::cerr << "usage: hnx_demo FOLDER SCREENSHOT_BMP | hnx_demo --measure-startup FOLDER RUNS\n";
  return 2;
}
