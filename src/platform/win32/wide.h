// UTF-8 (the program's strings and file names) to and from UTF-16 (the wide Windows API).
#pragma once

#include <string>

namespace pyokoran {

// False when text is not valid UTF-8; out then holds what could be converted.
bool Utf8ToWide(const std::string& text, std::wstring& out);
// The UTF-8 form of a UTF-16 text (lone surrogates become U+FFFD).
std::string WideToUtf8(const std::wstring& text);
// Sets errno from the calling thread's last Windows error, for callers that report errno.
void SetErrnoFromLastError();

}  // namespace pyokoran
