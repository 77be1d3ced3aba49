// Code page 932 text (subject IDs as stored in the settings and result files) to and from
// UTF-8 (what the screen and file names use here).
#pragma once

#include <string>

namespace pyokoran {

// False when text is not valid code page 932; out then holds the text with every bad byte
// shown as U+FFFD.
bool Cp932ToUtf8(const std::string& text, std::string& out);
// False when text has characters code page 932 cannot hold or is not valid UTF-8; out then
// holds "?" for each of them.
bool Utf8ToCp932(const std::string& text, std::string& out);

}  // namespace pyokoran
