// Numbers to and from text as std::to_chars and std::from_chars give them, on every system
// (the browser's own implementation included).
#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace pyokoran {
namespace {

TEST(NumberTextTest, FixedTextAsToChars) {
  struct Case {
    double value;
    int digits;
    const char* text;
  };
  const Case cases[] = {
      {0.125, 2, "0.12"},  // an exact tie goes to the even digit
      {0.375, 2, "0.38"},
      {2.5, 0, "2"},
      {-0.0, 1, "-0.0"},
      {1234.5678, 3, "1234.568"},
      {33.333333333333336, 1, "33.3"},
      {1e21, 1, "1000000000000000000000.0"},
      {0.1, 20, "0.10000000000000000555"},
  };
  for (const Case& c : cases) {
    char buffer[64];
    const auto [end, error] = FixedToChars(buffer, buffer + sizeof buffer, c.value, c.digits);
    ASSERT_EQ(error, std::errc()) << c.text;
    EXPECT_EQ(std::string(buffer, end), c.text);
  }
  char small[3];
  EXPECT_EQ(FixedToChars(small, small + sizeof small, 12.5, 1).ec, std::errc::value_too_large);
}

TEST(NumberTextTest, DecimalsReadAsFromChars) {
  struct Case {
    const char* text;
    std::errc error;
    size_t length;  // characters read
    double value;   // 99 when left alone
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"12.5", std::errc(), 4, 12.5},
      {"-0.25e2", std::errc(), 7, -25},
      {".5", std::errc(), 2, 0.5},
      {"5.", std::errc(), 2, 5},
      {"1e", std::errc(), 1, 1},         // no exponent without digits
      {"1.5x", std::errc(), 3, 1.5},
      {"0x10", std::errc(), 1, 0},       // no hexadecimal
      {"-inf", std::errc(), 4, -inf},
      {"Infinity", std::errc(), 8, inf},
      {"0.1000000000000000055511151231257827", std::errc(), 36, 0.1},
      {"+1", std::errc::invalid_argument, 0, 99},
      {" 1", std::errc::invalid_argument, 0, 99},
      {"", std::errc::invalid_argument, 0, 99},
      {"-", std::errc::invalid_argument, 0, 99},
      {"e5", std::errc::invalid_argument, 0, 99},
      {"1e400", std::errc::result_out_of_range, 5, 99},
      {"-1e-400", std::errc::result_out_of_range, 7, 99},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    double value = 99;
    const auto [end, error] = DecimalFromChars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(error, c.error) << c.text;
    if (error != std::errc::invalid_argument) {
      EXPECT_EQ(size_t(end - text.data()), c.length) << c.text;
    }
    EXPECT_EQ(value, c.value) << c.text;
  }
  double nan = 0;
  const std::string text = "nan(1)";
  EXPECT_EQ(DecimalFromChars(text.data(), text.data() + text.size(), nan).ptr, text.data() + 6);
  EXPECT_TRUE(std::isnan(nan));
}

}  // namespace
}  // namespace pyokoran
