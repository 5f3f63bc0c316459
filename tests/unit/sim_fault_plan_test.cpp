#include <gtest/gtest.h>

#include "sim/fault_plan.h"

namespace hnx::sim {
namespace {

struct ValidPlan {
  const char* text;
  FaultPlan plan;
};

void PrintTo(const ValidPlan& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

FaultPlan Planned(void (*fill)(FaultPlan&)) {
  FaultPlan plan;
  fill(plan);
  return plan;
}

class FaultPlanParseTest : public testing::TestWithParam<ValidPlan> {};

TEST_P(FaultPlanParseTest, ReadsEveryEntry) {
  EXPECT_EQ(FaultPlan::Parse(GetParam().text), GetParam().plan);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, FaultPlanParseTest,
    testing::Values(
        ValidPlan{"", FaultPlan{}}, ValidPlan{" ; ;", FaultPlan{}},
        ValidPlan{"open-fail=3;open-fail=always;fail-transfer=7;short-transfer=9;erase-status=1;"
                  "program-status=0x140:2;refuse-read=0x40:2;stuck=0x1234:0xFE;delay-us=200",
                  Planned([](FaultPlan& p) {
                    p.openFailures = -1;
                    p.failTransfer = 7;
                    p.shortTransfer = 9;
                    p.eraseStatus = 1;
                    p.programStatus = {{0x140, 2}};
                    p.readRefusals = {{0x40, 2}};
                    p.stuckCells = {{0x1234, 0xFE}};
                    p.delayMicroseconds = 200;
                  })},
        ValidPlan{" open-fail = 0x10 ; refuse-read=0:1;refuse-read=64:1000;refuse-read=0:5;erase-status=0xff",
                  Planned([](FaultPlan& p) {
                    p.openFailures = 16;
                    p.readRefusals = {{0, 5}, {64, 1000}};
                    p.eraseStatus = 0xFF;
                  })},
        ValidPlan{"fail-transfer=18446744073709551615;stuck=0xFFFFFFFF:0", Planned([](FaultPlan& p) {
                    p.failTransfer = UINT64_MAX;
                    p.stuckCells = {{0xFFFFFFFF, 0}};
                  })}));

class FaultPlanRejectTest : public testing::TestWithParam<const char*> {};

TEST_P(FaultPlanRejectTest, RejectsTheWholePlan) {
  EXPECT_EQ(FaultPlan::Parse(GetParam()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Invalid, FaultPlanRejectTest,
                         testing::Values("open-fail", "open-fail=", "open-fail=never", "open-fail=-1",
                                         "fail-transfer=0", "short-transfer=0", "fail-transfer=1x",
                                         "erase-status=256", "program-status=0x40",
                                         "program-status=0x40:0x100", "refuse-read=:2", "stuck=0x100000000:1",
                                         "stuck=0x10:", "delay-us=4294967296", "explode=1",
                                         "open-fail=1;bogus", "Open-Fail=1", "erase-status=0x"));

}  // namespace
}  // namespace hnx::sim
