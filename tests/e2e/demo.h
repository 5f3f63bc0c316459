// The driver's two modes besides the tests: the unattended demo and the start-up measurement.
#pragma once

#include <string>

namespace hnx::e2e {

// Starts the program laid out in `folder`, clicks "Update", prints each message box, saves a
// screenshot of the window as a bitmap at `screenshot` and closes the program. 0 when the update
// reported success.
int RunDemo(const std::string& folder, const std::string& screenshot);

// Starts the program in `folder` `runs` times and prints the time from start to dialog shown.
int MeasureStartup(const std::string& folder, int runs);

}  // namespace hnx::e2e
