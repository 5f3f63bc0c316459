// The end-to-end driver: runs the real program under Wine and drives it as a user would.
//   e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE SOURCE_ROOT
//   e2e_driver --demo FOLDER SCREENSHOT_BMP
//   e2e_driver --measure-startup FOLDER RUNS
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "demo.h"
#include "paths.h"
#include "program_session.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--demo" && argc == 4) return hnx::e2e::RunDemo(argv[2], argv[3]);
  if (mode == "--measure-startup" && argc == 4) return hnx::e2e::MeasureStartup(argv[2], std::stoi(argv[3]));

  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::cerr << "usage: e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE "
                 "SOURCE_ROOT\n";
    return 2;
  }
  using hnx::e2e::WindowsPath;
  hnx::e2e::SetOutputs({WindowsPath(argv[1]), WindowsPath(argv[2]), WindowsPath(argv[3]),
                        WindowsPath(argv[4]), WindowsPath(argv[5])});
  return RUN_ALL_TESTS();
}
