// Code page 932 by a table of the program's own, for systems whose C library has none (the
// browser's): the same answers, the same text and the same replacements as the conversions
// of cp932.h give through glibc's iconv "CP932", from which the table was made
// (tools/make_cp932_table.cpp).
#pragma once

#include <string>

namespace pyokoran {

bool TableCp932ToUtf8(const std::string& text, std::string& out);
bool TableUtf8ToCp932(const std::string& text, std::string& out);

}  // namespace pyokoran
