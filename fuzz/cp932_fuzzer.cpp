// Code page 932 conversion both ways. A conversion that reports success is lossless: valid
// code page 932 text comes back to the same characters through UTF-8, and UTF-8 text that
// converts to code page 932 comes back byte for byte. Any input converts without a fault.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/cp932.h"

using namespace pyokoran;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The bytes as code page 932 (subject IDs read from the files). Some characters have two
  // codes in code page 932, so the way back may choose the other code: compare as UTF-8.
  std::string utf8;
  if (Cp932ToUtf8(input, utf8)) {
    std::string cp932, utf8_again;
    if (!Utf8ToCp932(utf8, cp932)) {
      fuzz::PropertyFailed("valid code page 932 text does not convert back", utf8, cp932);
    }
    if (!Cp932ToUtf8(cp932, utf8_again) || utf8_again != utf8) {
      fuzz::PropertyFailed("code page 932 text changed through UTF-8", utf8, utf8_again);
    }
  }

  // The bytes as UTF-8 (subject IDs typed into the dialog).
  std::string cp932;
  if (Utf8ToCp932(input, cp932)) {
    std::string back;
    if (!Cp932ToUtf8(cp932, back) || back != input) {
      fuzz::PropertyFailed("UTF-8 text changed through code page 932", input, back);
    }
  }
  return 0;
}
