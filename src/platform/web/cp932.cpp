// The browser's C library has no code page 932: the program's own table.
#include "platform/cp932.h"

#include "platform/cp932_table.h"

namespace pyokoran {

bool Cp932ToUtf8(const std::string& text, std::string& out) { return TableCp932ToUtf8(text, out); }
bool Utf8ToCp932(const std::string& text, std::string& out) { return TableUtf8ToCp932(text, out); }

}  // namespace pyokoran
