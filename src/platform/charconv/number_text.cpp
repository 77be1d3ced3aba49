#include "platform/number_text.h"

namespace pyokoran {

std::to_chars_result FixedToChars(char* first, char* last, double value, int digits) {
  return std::to_chars(first, last, value, std::chars_format::fixed, digits);
}

std::from_chars_result DecimalFromChars(const char* first, const char* last, double& value) {
  return std::from_chars(first, last, value);
}

}  // namespace pyokoran
