#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <ostream>

namespace pyokoran {
namespace {

// Text that code page 932 holds converts both ways unchanged.
struct RoundTrip {
  const char* name;
  std::string cp932;
  std::string utf8;
  friend std::ostream& operator<<(std::ostream& os, const RoundTrip& c) { return os << c.name; }
};

class Cp932RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Cp932RoundTripTest, ConvertsBothWays) {
  const RoundTrip& c = GetParam();
  std::string out;
  EXPECT_TRUE(Cp932ToUtf8(c.cp932, out));
  EXPECT_EQ(out, c.utf8);
  EXPECT_TRUE(Utf8ToCp932(c.utf8, out));
  EXPECT_EQ(out, c.cp932);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cp932RoundTripTest,
    ::testing::Values(
        RoundTrip{"Empty", "", ""},
        RoundTrip{"AsciiKeepsBackslashAndTilde", "SBJ\\01~", "SBJ\\01~"},
        RoundTrip{"JapaneseSubject", "\x94\xED\x8C\xB1\x8E\xD2" "01", "被験者01"},
        // 0x5C as the second byte of a character is not a backslash.
        RoundTrip{"SecondByteIsBackslashCode", "\x83\x5C\x95\x5C", "ソ表"},
        RoundTrip{"HalfWidthKatakana", "\xB1\xB2", "ｱｲ"},
        RoundTrip{"NecAndIbmExtensions", "\x87\x40\xFA\x5C", "①纊"},
        RoundTrip{"WaveDashIsFullWidthTilde", "\x81\x60", "～"}),
    [](const auto& info) { return std::string(info.param.name); });

// Bad input converts what it can, marks every bad sequence and answers false.
struct BadInput {
  const char* name;
  bool from_cp932;
  std::string input;
  std::string expected;
  friend std::ostream& operator<<(std::ostream& os, const BadInput& c) { return os << c.name; }
};

class Cp932BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(Cp932BadInputTest, MarksBadSequencesAndAnswersFalse) {
  const BadInput& c = GetParam();
  std::string out;
  EXPECT_FALSE(c.from_cp932 ? Cp932ToUtf8(c.input, out) : Utf8ToCp932(c.input, out));
  EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cp932BadInputTest,
    ::testing::Values(
        BadInput{"Cp932InvalidByte", true, "A\xFF" "B", "A\uFFFD" "B"},
        BadInput{"Cp932CutAtEnd", true, "A\x82", "A\uFFFD"},
        // The byte after a bad lead byte is a character of its own.
        BadInput{"Cp932BadSecondByte", true, "\x82\x20Z", "\uFFFD Z"},
        BadInput{"Cp932ManyBadBytes", true, std::string(600, '\xFF'),
                 [] {
                   std::string s;
                   for (int i = 0; i < 600; ++i) s += "\uFFFD";
                   return s;
                 }()},
        BadInput{"Utf8NotInCp932", false, "a€b", "a?b"},
        BadInput{"Utf8Invalid", false, "a\xC3", "a?"},
        BadInput{"Utf8StrayContinuations", false, "\x80\x80x", "?x"}),
    [](const auto& info) { return std::string(info.param.name); });

// Both characters the screen may show for 0x81 0x60 go back to it.
TEST(Cp932, WaveDashAndFullWidthTildeEncodeAlike) {
  std::string out;
  EXPECT_TRUE(Utf8ToCp932("〜", out));
  EXPECT_EQ(out, "\x81\x60");
}

}  // namespace
}  // namespace pyokoran
