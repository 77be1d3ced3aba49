// Messages that name a file put the name on a line of its own, whole: a message box wraps
// Japanese text between any two characters, and a name broken in two cannot be found again.
#pragma once

#include <string>

namespace pyokoran {

// before, then name on its own line, then after (when not empty), each on its own lines.
std::string NamingFile(const std::string& before, const std::string& name, const std::string& after = {});

// True for a line that is a full file name on its own (from the root, a drive or a share), as
// NamingFile lays them out: message boxes keep such lines unbroken.
bool IsFileNameLine(const std::string& line);

}  // namespace pyokoran
