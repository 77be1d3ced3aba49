#include "platform/cp932.h"

#include <cerrno>
#include <iconv.h>

namespace pyokoran {
namespace {

// Converts text with iconv. A sequence the source encoding rejects, or one cut short at the
// end, is replaced by `replacement`, so nothing vanishes without a trace; the answer is
// false when anything had to be replaced or iconv cannot convert at all.
bool Convert(const char* to, const char* from, bool from_utf8, const std::string& text,
             const char* replacement, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;

  bool ok = true;
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char buffer[256];
  while (in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, size_t(dst - buffer));
    if (r != size_t(-1) || errno == E2BIG) continue;
    if (errno != EILSEQ && errno != EINVAL) {
      ok = false;
      break;
    }
    // Mark the bad sequence and go on after it: one byte of code page 932 (its second byte
    // may be a character of its own), or one whole UTF-8 character.
    ok = false;
    out += replacement;
    do {
      ++in;
      --in_left;
    } while (from_utf8 && in_left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
  }
  char* dst = buffer;
  size_t dst_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);  // any closing shift sequence
  out.append(buffer, size_t(dst - buffer));
  iconv_close(cd);
  return ok;
}

}  // namespace

bool Cp932ToUtf8(const std::string& text, std::string& out) {
  return Convert("UTF-8", "CP932", false, text, "\xEF\xBF\xBD", out);  // U+FFFD
}

bool Utf8ToCp932(const std::string& text, std::string& out) {
  return Convert("CP932", "UTF-8", true, text, "?", out);
}

}  // namespace pyokoran
