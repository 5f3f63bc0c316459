// The end-to-end driver: runs the real program under Wine and drives it as a user would.
//   e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE SOURCE_ROOT
#include <gtest/gtest.h>

#include <iostream>

#include "program_test.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::cerr << "usage: e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE "
                 "SOURCE_ROOT\n";
    return 2;
  }
  using hnx::drive::WindowsPath;
  hnx::e2e::Outputs() = {WindowsPath(argv[1]), WindowsPath(argv[2]), WindowsPath(argv[3]),
                         WindowsPath(argv[4]), WindowsPath(argv[5])};
  return RUN_ALL_TESTS();
}
