#include "settings/settings_file.h"

#include <gtest/gtest.h>

namespace pyokoran {
namespace {

TEST(SettingsFile, Placeholder) {
  SettingsFile f;
  f.Parse("a = 1\r\n");
  EXPECT_EQ(f.Serialise(), "a = 1\r\n");
}

}  // namespace
}  // namespace pyokoran
