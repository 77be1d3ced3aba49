// The browser's C library (musl) formats and reads numbers exactly, always with "." as the
// point; its C++ library has no floating-point to_chars/from_chars.
#include "platform/number_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pyokoran {
namespace {

bool StartsWithWord(const char* p, const char* last, const char* word) {
  const size_t n = std::strlen(word);
  if (size_t(last - p) < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(p[i])) != word[i]) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the number that std::from_chars would read at first ends; first when there is none.
const char* EndOfNumber(const char* first, const char* last) {
  const char* p = first;
  if (p != last && *p == '-') ++p;
  if (StartsWithWord(p, last, "infinity")) return p + 8;
  if (StartsWithWord(p, last, "inf")) return p + 3;
  if (StartsWithWord(p, last, "nan")) {
    p += 3;
    // nan(n-char-sequence) belongs to the number only when the parenthesis closes.
    const char* q = p;
    if (q != last && *q == '(') {
      ++q;
      while (q != last && (std::isalnum(static_cast<unsigned char>(*q)) || *q == '_')) ++q;
      if (q != last && *q == ')') return q + 1;
    }
    return p;
  }
  const char* digits = p;
  while (p != last && IsDigit(*p)) ++p;
  bool any = p != digits;
  if (p != last && *p == '.') {
    const char* fraction = ++p;
    while (p != last && IsDigit(*p)) ++p;
    any = any || p != fraction;
  }
  if (!any) return first;
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q != last && (*q == '+' || *q == '-')) ++q;
    const char* exponent = q;
    while (q != last && IsDigit(*q)) ++q;
    if (q != exponent) p = q;
  }
  return p;
}

}  // namespace

std::to_chars_result FixedToChars(char* first, char* last, double value, int digits) {
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%.*f", digits, value);
  if (n < 0 || size_t(n) >= sizeof buffer || n > last - first) {
    return {last, std::errc::value_too_large};
  }
  std::memcpy(first, buffer, size_t(n));
  return {first + n, std::errc()};
}

std::from_chars_result DecimalFromChars(const char* first, const char* last, double& value) {
  const char* end = EndOfNumber(first, last);
  if (end == first) return {first, std::errc::invalid_argument};
  const std::string text(first, end);
  errno = 0;
  const double v = std::strtod(text.c_str(), nullptr);
  // Out of range: too large, or too small to be anything but zero.
  if (errno == ERANGE && (std::isinf(v) || v == 0)) return {end, std::errc::result_out_of_range};
  value = v;
  return {end, std::errc()};
}

}  // namespace pyokoran
