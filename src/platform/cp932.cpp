#include "platform/cp932.h"

namespace pyokoran {

bool Cp932ToUtf8(const std::string& text, std::string& out) {
  out = text;
  return true;
}

bool Utf8ToCp932(const std::string& text, std::string& out) {
  out = text;
  return true;
}

}  // namespace pyokoran
