#include "platform/cp932.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace pyokoran {
namespace {

constexpr UINT kCp932 = 932;

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Strict decoding: false when any byte sequence is not code page 932.
bool Decode(const char* bytes, size_t size, std::wstring& out) {
  out.clear();
  if (size == 0) return true;
  const int n = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes, int(size), nullptr, 0);
  if (n <= 0) return false;
  out.resize(size_t(n));
  MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes, int(size), out.data(), n);
  return true;
}

// Strict encoding: false when a character has no code page 932 form of its own (no
// "best fit" stand-ins such as a backslash for U+00A5).
bool Encode(const std::wstring& text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()),
                                    nullptr, 0, nullptr, &used_default);
  if (n <= 0 || used_default) return false;
  out.resize(size_t(n));
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), out.data(), n,
                      nullptr, &used_default);
  return !used_default;
}

// One UTF-8 character of text into code page 932, exactly or not at all.
bool EncodeUtf8Exactly(const std::string& text, std::string& out) {
  std::wstring wide, back;
  return Utf8ToWide(text, wide) && Encode(wide, out) && Decode(out.data(), out.size(), back) &&
         back == wide;
}

}  // namespace

bool Cp932ToUtf8(const std::string& text, std::string& out) {
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  std::wstring wide;
  std::string again;
  if (Decode(text.data(), text.size(), wide)) {
    out = WideToUtf8(wide);
    // Several code points share one character (U+301C and U+FF5E are both 0x81 0x60).
    return Encode(wide, again) && again == text;
  }
  // Character by character, every bad byte shown as U+FFFD (its next byte may be a
  // character of its own).
  out.clear();
  std::wstring piece;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const size_t length = IsDBCSLeadByteEx(kCp932, b) && i + 1 < text.size() ? 2 : 1;
    if (Decode(text.data() + i, length, piece)) {
      out += WideToUtf8(piece);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return false;
}

bool Utf8ToCp932(const std::string& text, std::string& out) {
  if (IsAscii(text)) {
    out = text;
    return true;
  }
  if (EncodeUtf8Exactly(text, out)) return true;
  // Character by character, so that only what cannot come back shows as "?".
  std::string piece, converted;
  out.clear();
  for (size_t i = 0; i < text.size();) {
    size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    piece.assign(text, i, end - i);
    if (EncodeUtf8Exactly(piece, converted)) {
      out += converted;
    } else {
      out += '?';
    }
    i = end;
  }
  return false;
}

}  // namespace pyokoran
