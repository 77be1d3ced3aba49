// Text on the screen in the wide API's terms: bytes that are not UTF-8 (or UTF-16 that is not
// valid) become U+FFFD rather than nothing.
#pragma once

#include <string>

#include "platform/win32/wide.h"

namespace pyokoran {

inline std::wstring Widen(const std::string& utf8) {
  std::wstring wide;
  Utf8ToWide(utf8, wide);
  return wide;
}

inline std::string Narrow(const std::wstring& utf16) { return WideToUtf8(utf16); }

}  // namespace pyokoran
