// Holds a file open the way a spreadsheet holds the file it shows: for writing, shared with
// nobody, so that other programs cannot open it. Where the system has no such sharing
// modes, it answers 2 at once.
#pragma once

#include <string>

int HoldFile(const std::string& path, double seconds);
