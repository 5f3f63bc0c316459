#ifdef _WIN32

#include <gtest/gtest.h>

#include "link/presence_scan.h"

namespace hnx {
namespace {

TEST(Win32HubDriverTest, ANameThatCannotBeOpenedGivesNoHandle) {
  Win32HubDriver driver;
  EXPECT_EQ(driver.Open(R"(\\.\HNX_NO_SUCH_HUB)"), nullptr);
}

TEST(Win32HubDriverTest, ConvertsThroughTheNulIntoTheAnsiCodePage) {
  Win32HubDriver driver;
  EXPECT_EQ(driver.ConvertWideToNarrow(u"ROOT_HUB#0", nullptr, 0), 11);
  char narrow[11];
  EXPECT_EQ(driver.ConvertWideToNarrow(u"ROOT_HUB#0", narrow, sizeof narrow), 11);
  EXPECT_STREQ(narrow, "ROOT_HUB#0");
  EXPECT_EQ(WideToNarrow(driver, u"USB#ROOT_HUB30#4&1"), "USB#ROOT_HUB30#4&1");
}

}  // namespace
}  // namespace hnx

#endif
