#include "platform/cp932.h"

#include <cerrno>
#include <iconv.h>

namespace pyokoran {
namespace {

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// One iconv descriptor per direction and thread, opened on first use and kept: opening one
// costs far more than converting a subject ID.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts text. A sequence the source encoding rejects, or one cut short at the end, is
  // replaced by `replacement`, so nothing vanishes without a trace; the answer is false when
  // anything had to be replaced or iconv cannot convert at all.
  bool Convert(bool from_utf8, const std::string& text, const char* replacement,
               std::string& out) {
    out.clear();
    if (!ok()) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial state

    bool good = true;
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char buffer[256];
    while (in_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t r = iconv(cd_, &in, &in_left, &dst, &dst_left);
      out.append(buffer, size_t(dst - buffer));
      if (r != size_t(-1) || errno == E2BIG) continue;
      if (errno != EILSEQ && errno != EINVAL) {
        good = false;
        break;
      }
      // Mark the bad sequence and go on after it: one byte of code page 932 (its second
      // byte may be a character of its own), or one whole UTF-8 character.
      good = false;
      out += replacement;
      do {
        ++in;
        --in_left;
      } while (from_utf8 && in_left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);  // any closing shift sequence
    out.append(buffer, size_t(dst - buffer));
    return good;
  }

 private:
  iconv_t cd_;
};

Converter& ToUtf8() {
  thread_local Converter converter("UTF-8", "CP932");
  return converter;
}
Converter& ToCp932() {
  thread_local Converter converter("CP932", "UTF-8");
  return converter;
}

// True when out converts back to exactly text: several code points share one code page 932
// character (U+301C and U+FF5E are both 0x81 0x60), and some vanish (U+E0000 ... U+E007F).
bool ConvertsBack(Converter& back, bool from_utf8, const std::string& out,
                  const std::string& text) {
  std::string again;
  return back.Convert(from_utf8, out, "", again) && again == text;
}

}  // namespace

bool Cp932ToUtf8(const std::string& text, std::string& out) {
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  return ToUtf8().Convert(false, text, "\xEF\xBF\xBD", out) &&  // U+FFFD
         ConvertsBack(ToCp932(), true, out, text);
}

bool Utf8ToCp932(const std::string& text, std::string& out) {
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  if (ToCp932().Convert(true, text, "?", out) && ConvertsBack(ToUtf8(), false, out, text)) {
    return true;
  }
  // Character by character, so that only what cannot come back shows as "?".
  std::string piece, converted;
  out.clear();
  for (size_t i = 0; i < text.size();) {
    size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    piece.assign(text, i, end - i);
    if (ToCp932().Convert(true, piece, "?", converted) &&
        ConvertsBack(ToUtf8(), false, converted, piece)) {
      out += converted;
    } else {
      out += '?';
    }
    i = end;
  }
  return false;
}

}  // namespace pyokoran
