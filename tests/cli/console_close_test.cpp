// hnx-update's console control handler as Windows calls it when the console is closed: Windows ends
// the process as soon as the handler returns, so the handler asks the run to stop and returns only
// once the run has ended, its outcome written and its staging gone. The run is an update through the
// simulator library, on a thread as the program's main thread runs it.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_runner.h"
#include "cli/platform.h"
#include "ops/files.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

TEST(ConsoleClose, HoldsTheProcessUntilTheRunHasEnded) {
  const std::string trace = "console_close.trace", errPath = "console_close.err";
  std::remove(trace.c_str());
  SetEnvironmentVariableA("HNX_SIM_STATE", "console_close.state");
  SetEnvironmentVariableA("HNX_SIM_TRACE", trace.c_str());
  SetEnvironmentVariableA("HNX_SIM_FAULTS", "delay-us=2000");
  cli::PrepareProcess();
  const StopFlag stop = cli::StopOnInterrupt();
  cli::CommandLine line;
  line.library = HNX_SIM_LIBRARY;
  line.progress = cli::ProgressStyle::None;
  std::FILE* out = std::fopen("console_close.out", "w");
  std::FILE* err = std::fopen(errPath.c_str(), "w");
  ASSERT_TRUE(out != nullptr && err != nullptr);
  std::atomic<bool> ended = false;
  int code = -1;
  std::thread run([&] {
    code = cli::RunCommand(line, out, err, stop);
    ended = true;
    cli::RunEnded();
  });

  const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (FileLines(trace).size() < 1 + 2 + 3 * 20 && std::chrono::steady_clock::now() < patience)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(FolderExists(kProgramStaging.folder));  // the update is under way
  EXPECT_EQ(cli::OnConsoleControl(CTRL_CLOSE_EVENT), TRUE);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(FolderExists(kProgramStaging.folder));
  run.join();
  std::fclose(out);
  std::fclose(err);
  EXPECT_EQ(code, 130);
  const std::vector<std::string> said = FileLines(errPath);
  ASSERT_FALSE(said.empty());
  EXPECT_EQ(said.back(), "Interrupted");
  EXPECT_EQ(FileLines(trace).back(), "close");
}

}  // namespace
}  // namespace hnx::test
