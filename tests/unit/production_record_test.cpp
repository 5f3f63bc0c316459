// The production record's file: appends from many threads at once, each line whole.
#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ops/production_record.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

// Eight threads append 500 lines each, of lengths from 40 bytes to 4 KiB, to one file at once: every
// line arrives once and whole, none cut into or written over by another.
TEST(ProductionRecordFile, AppendsFromManyThreadsAtOnceKeepEveryLineWhole) {
  const TempFolder temp;
  const std::string path = temp.Path("records.jsonl");
  constexpr int kThreads = 8, kLines = 500;
  const auto lineOf = [](int thread, int line) {
    return std::to_string(thread) + ":" + std::to_string(line) + ":" +
           std::string(40 + (thread * 977 + line * 131) % 4000, static_cast<char>('a' + thread)) + "\n";
  };
  {
    std::vector<std::jthread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
      threads.emplace_back([&, thread] {
        for (int line = 0; line < kLines; ++line) EXPECT_EQ(AppendRecordLine(path, lineOf(thread, line)), "");
      });
  }
  std::set<std::string> expected, found;
  for (int thread = 0; thread < kThreads; ++thread)
    for (int line = 0; line < kLines; ++line) expected.insert(lineOf(thread, line));
  const std::vector<std::string> lines = FileLines(path);
  for (const std::string& line : lines) found.insert(line + "\n");
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  EXPECT_EQ(found, expected);
}

// A record's time is UTC to the millisecond, before and beyond the 32-bit seconds' end in 2038.
TEST(ProductionRecordLine, TellsItsStartInUtcToTheMillisecond) {
  const RecordHeader header;
  for (const auto& [milliseconds, time] : {std::pair{1796670618123LL, "2026-12-07T19:10:18.123Z"},
                                           {946684799999LL, "1999-12-31T23:59:59.999Z"},
                                           {2147483648000LL, "2038-01-19T03:14:08.000Z"}}) {
    ProductionRecord record;
    record.start = std::chrono::system_clock::time_point(std::chrono::milliseconds(milliseconds));
    record.header = &header;
    EXPECT_THAT(RecordLine(record), ::testing::StartsWith(std::string(R"({"time":")") + time + R"(",)"));
  }
}

}  // namespace
}  // namespace hnx::test
