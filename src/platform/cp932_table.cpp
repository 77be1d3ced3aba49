#include "platform/cp932_table.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pyokoran {
namespace {

struct Cp932Written {
  uint16_t code_point;
  uint16_t bytes;  // one byte, or lead << 8 | second
};

#include "platform/cp932_table_data.inc"

constexpr uint16_t kNone = 0xFFFF;
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The code point of the two-byte character lead, second; 0 for none.
uint16_t DoubleByte(unsigned lead, unsigned second) {
  if (second < 0x40 || second > 0xFC) return 0;
  const unsigned row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 0x1F;
  return kCp932Double[row][second - 0x40];
}

// How each code point of the Basic Multilingual Plane is written (0xFFFF: it is not): the
// first sequence that reads as it, unless iconv writes it otherwise.
class Writer {
 public:
  Writer() : bytes_(0x10000, kNone) {
    for (unsigned b = 0x100; b-- > 0;) {
      if (kCp932Single[b] != kNone) bytes_[kCp932Single[b]] = uint16_t(b);
    }
    for (unsigned lead = 0xFC; lead >= 0x81; --lead) {
      if (!IsLead(lead)) continue;
      for (unsigned second = 0xFC; second >= 0x40; --second) {
        if (const uint16_t cp = DoubleByte(lead, second)) bytes_[cp] = uint16_t(lead << 8 | second);
      }
    }
    for (const Cp932Written& w : kCp932OtherBytes) bytes_[w.code_point] = w.bytes;
    for (const uint16_t* cp = kCp932Refused; *cp != 0; ++cp) bytes_[*cp] = kNone;
  }
  // False when code_point cannot be written.
  bool Write(uint32_t code_point, std::string& out) const {
    if (code_point > 0xFFFF || bytes_[code_point] == kNone) return false;
    const uint16_t b = bytes_[code_point];
    if (b > 0xFF) out += char(b >> 8);
    out += char(b & 0xFF);
    return true;
  }

 private:
  std::vector<uint16_t> bytes_;
};

const Writer& TheWriter() {
  static const Writer writer;
  return writer;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6);
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | cp >> 12);
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// The one code point a whole piece of UTF-8 stands for; false when it is not exactly one
// well-formed character.
bool OneCodePoint(const std::string& text, size_t begin, size_t end, uint32_t& cp) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned b = byte(begin);
  size_t length = 0;
  uint32_t min = 0;
  if (b < 0x80) {
    length = 1, cp = b;
  } else if (b >= 0xC2 && b <= 0xDF) {
    length = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (end - begin != length) return false;
  for (size_t i = begin + 1; i < end; ++i) cp = cp << 6 | (byte(i) & 0x3F);
  return cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool TableCp932ToUtf8(const std::string& text, std::string& out) {
  out.clear();
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  // Every character read must be written back as the same bytes.
  bool good = true;
  std::string back;
  for (size_t i = 0; i < text.size();) {
    const unsigned b = static_cast<unsigned char>(text[i]);
    uint32_t cp = kNone;
    size_t length = 1;
    if (kCp932Single[b] != kNone) {
      cp = kCp932Single[b];
    } else if (IsLead(b) && i + 1 < text.size()) {
      if (const uint16_t d = DoubleByte(b, static_cast<unsigned char>(text[i + 1]))) cp = d, length = 2;
    }
    if (cp == kNone) {
      // One bad byte: its successor may be a character of its own.
      good = false;
      out += kReplacement;
      ++i;
      continue;
    }
    AppendUtf8(cp, out);
    back.clear();
    if (!TheWriter().Write(cp, back) || back.compare(0, std::string::npos, text, i, length) != 0) good = false;
    i += length;
  }
  return good;
}

bool TableUtf8ToCp932(const std::string& text, std::string& out) {
  out.clear();
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  // Character by character (a lead byte and the continuation bytes after it): what cannot
  // be written, or would read back as another character, is "?".
  bool good = true;
  std::string written;
  for (size_t i = 0; i < text.size();) {
    size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    uint32_t cp = 0;
    written.clear();
    bool ok = OneCodePoint(text, i, end, cp) && TheWriter().Write(cp, written);
    if (ok) {
      const unsigned b = static_cast<unsigned char>(written[0]);
      const uint32_t read = written.size() == 1 ? kCp932Single[b]
                                                : DoubleByte(b, static_cast<unsigned char>(written[1]));
      ok = read == cp;
    }
    if (ok) {
      out += written;
    } else {
      out += '?';
      good = false;
    }
    i = end;
  }
  return good;
}

}  // namespace pyokoran
