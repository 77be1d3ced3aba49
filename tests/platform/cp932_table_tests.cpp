// The program's own code page 932 table (the browser's) gives what glibc's iconv gives, for
// every one- and two-byte sequence and every code point, and the same for bad input.
#include "platform/cp932_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/cp932.h"

namespace pyokoran {
namespace {

std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xC0 | cp >> 6);
    s += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += char(0xE0 | cp >> 12);
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xF0 | cp >> 18);
    s += char(0x80 | ((cp >> 12) & 0x3F));
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  }
  return s;
}

// The count of inputs on which the table and iconv differ, the first few reported.
template <typename Table, typename System>
int Differences(const std::vector<std::string>& inputs, Table table, System system) {
  int differ = 0;
  for (const std::string& in : inputs) {
    std::string by_table, by_system;
    const bool table_ok = table(in, by_table);
    const bool system_ok = system(in, by_system);
    if (table_ok != system_ok || by_table != by_system) {
      if (++differ <= 5) {
        ADD_FAILURE() << "input " << testing::PrintToString(in) << ": table " << table_ok << " "
                      << testing::PrintToString(by_table) << ", iconv " << system_ok << " "
                      << testing::PrintToString(by_system);
      }
    }
  }
  return differ;
}

TEST(Cp932TableTest, ReadsEverySequenceAsIconvDoes) {
  std::vector<std::string> inputs;
  for (int first = 0; first < 256; ++first) {
    inputs.push_back(std::string(1, char(first)) + "A");  // every byte, ASCII after it
    for (int second = 0x80; second < 256; second += first >= 0x81 ? 1 : 0x3F) {
      inputs.push_back({char(first), char(second)});
    }
    for (int second = 0x40; second < 0x80 && first >= 0x81; ++second) {
      inputs.push_back({char(first), char(second)});
    }
  }
  // Cut short at the end, a bad byte before a good character, a subject ID.
  inputs.push_back("\x94\xED\x8C\xB1\x8E\xD2");
  inputs.push_back("AB\x94");
  inputs.push_back("\x85\x40\x83\x5C");
  inputs.push_back("\xFF\x82\xA0\x80");
  EXPECT_EQ(Differences(inputs, TableCp932ToUtf8, Cp932ToUtf8), 0);
}

TEST(Cp932TableTest, WritesEveryCodePointAsIconvDoes) {
  std::vector<std::string> inputs;
  for (uint32_t cp = 0x80; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    inputs.push_back(Utf8(cp));
  }
  for (uint32_t cp : {0x10000u, 0x20B9Fu, 0xE0001u, 0x10FFFFu}) inputs.push_back(Utf8(cp));
  // Not UTF-8: overlong, a surrogate, cut short, stray continuation bytes, beyond U+10FFFF;
  // then mixed with good characters.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE3\x81", "\x80\x80", "\xF4\x90\x80\x80",
                          "\xFE", "被\xE3\x81験", "A\xC2\xA5~\xE3\x80\x9C"}) {
    inputs.push_back(bad);
  }
  EXPECT_EQ(Differences(inputs, TableUtf8ToCp932, Utf8ToCp932), 0);
}

}  // namespace
}  // namespace pyokoran
