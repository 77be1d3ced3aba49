// Message boxes that name files: a full file name on a line of its own (NamingFile) stays
// whole, where QMessageBox would wrap it between any two Japanese characters.
#pragma once

#include <string>

class QMessageBox;

namespace pyokoran {

// Gives box its text, UTF-8. With a file name on a line of its own the box widens for it, as
// far as it goes on the screen (all of a screen up to 1024 pixels wide, else the width less 480
// up to 1000, less its icon and margins); an even longer name wraps. Before exec().
void SetMessageText(QMessageBox& box, const std::string& text);

}  // namespace pyokoran
