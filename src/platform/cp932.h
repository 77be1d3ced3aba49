// Code page 932 text (subject IDs as stored in the settings and result files) to and from
// UTF-8 (what the screen and file names use here).
#pragma once

#include <string>

namespace pyokoran {

// A conversion is lossless or it fails: true only when out converts back to exactly text.
//
// False when text is not valid code page 932 (out then holds the text with every bad byte
// shown as U+FFFD) or holds a character that would come back as another one (one of the
// duplicates of the vendor extensions; out then holds what the screen may show).
bool Cp932ToUtf8(const std::string& text, std::string& out);
// False when text is not valid UTF-8 or has characters code page 932 cannot hold, including
// those it would silently swap for others (U+00A5 for a backslash, U+301C for U+FF5E); out
// then holds "?" for each of them.
bool Utf8ToCp932(const std::string& text, std::string& out);

}  // namespace pyokoran
