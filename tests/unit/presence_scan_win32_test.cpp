#ifdef _WIN32

#include <gtest/gtest.h>

#include "link/presence_scan.h"

namespace hnx {
namespace {

// A name that cannot be opened gives no handle, never INVALID_HANDLE_VALUE, and a name converts
// through its NUL into the ANSI code page.
TEST(Win32HubDriverTest, OpensNothingForAMissingNameAndConvertsNames) {
  Win32HubDriver driver;
  EXPECT_EQ(driver.Open(R"(\\.\HNX_NO_SUCH_HUB)"), nullptr);
  EXPECT_EQ(WideToNarrow(driver, u"USB#ROOT_HUB30#4&1"), "USB#ROOT_HUB30#4&1");
}

}  // namespace
}  // namespace hnx

#endif
