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

// Characters code page 932 would swap for others or drop fail instead of changing the ID;
// "?" marks each of them and the rest converts.
struct LossyCase {
  const char* name;
  std::string utf8;
  std::string expected;
  friend std::ostream& operator<<(std::ostream& os, const LossyCase& c) { return os << c.name; }
};

class Cp932LossyTest : public ::testing::TestWithParam<LossyCase> {};

TEST_P(Cp932LossyTest, FailsAndMarksTheCharacter) {
  const LossyCase& c = GetParam();
  std::string out;
  EXPECT_FALSE(Utf8ToCp932(c.utf8, out));
  EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cp932LossyTest,
    ::testing::Values(LossyCase{"YenSignWouldBeBackslash", "A¥1", "A?1"},
                      LossyCase{"WaveDashWouldBeFullWidthTilde", "〜", "?"},
                      LossyCase{"CentPoundNot", "¢£¬", "???"},
                      LossyCase{"DashesAndLines", "—‖‾−", "????"},
                      LossyCase{"TagCharacterWouldVanish", "S\U000E0041", "S?"},
                      LossyCase{"MixedWithGoodJapanese", "被〜験", "\x94\xED?\x8C\xB1"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever converts, converts back unchanged: every Unicode scalar value to code page 932,
// and every one- and two-byte sequence of code page 932 to UTF-8.
TEST(Cp932, EveryConversionThatSucceedsIsLossless) {
  int held = 0;
  std::string utf8, cp932, back;
  for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    utf8.clear();
    if (cp < 0x80) {
      utf8 += char(cp);
    } else if (cp < 0x800) {
      utf8 += char(0xC0 | cp >> 6);
      utf8 += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      utf8 += char(0xE0 | cp >> 12);
      utf8 += char(0x80 | (cp >> 6 & 0x3F));
      utf8 += char(0x80 | (cp & 0x3F));
    } else {
      utf8 += char(0xF0 | cp >> 18);
      utf8 += char(0x80 | (cp >> 12 & 0x3F));
      utf8 += char(0x80 | (cp >> 6 & 0x3F));
      utf8 += char(0x80 | (cp & 0x3F));
    }
    if (!Utf8ToCp932(utf8, cp932)) continue;
    ++held;
    ASSERT_TRUE(Cp932ToUtf8(cp932, back)) << "U+" << std::hex << uint32_t(cp);
    ASSERT_EQ(back, utf8) << "U+" << std::hex << uint32_t(cp);
  }
  // ASCII, half-width katakana, JIS X 0208 and the vendor extensions, less the duplicates.
  EXPECT_GT(held, 7700);

  for (int first = 1; first < 256; ++first) {
    for (int second = -1; second < 256; ++second) {
      cp932.assign(1, char(first));
      if (second >= 0) cp932 += char(second);
      if (!Cp932ToUtf8(cp932, utf8)) continue;
      ASSERT_TRUE(Utf8ToCp932(utf8, back)) << std::hex << first << " " << second;
      ASSERT_EQ(back, cp932) << std::hex << first << " " << second;
    }
  }
}

}  // namespace
}  // namespace pyokoran
