// The version the header announces is the project's version.
#include <gtest/gtest.h>

#include <string>

#include "orvexportio.h"

namespace {

TEST(VersionTest, HeaderMacrosMatchTheProjectVersion) {
  EXPECT_EQ(ORVEX_VERSION_MAJOR, ORVEX_PROJECT_VERSION_MAJOR);
  EXPECT_EQ(ORVEX_VERSION_MINOR, ORVEX_PROJECT_VERSION_MINOR);
  EXPECT_EQ(ORVEX_VERSION_PATCH, ORVEX_PROJECT_VERSION_PATCH);
  EXPECT_EQ(std::string(ORVEX_VERSION), ORVEX_PROJECT_VERSION);
  EXPECT_EQ(std::string(ORVEX_VERSION), std::to_string(ORVEX_VERSION_MAJOR) + "." +
                                            std::to_string(ORVEX_VERSION_MINOR) + "." +
                                            std::to_string(ORVEX_VERSION_PATCH));
}

}  // namespace
