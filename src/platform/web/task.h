// The task itself (the main window, its dialogs and runs) where the browser build can show it:
// in a page; under Node.js there is nothing to show it in.
#pragma once

#include <string>

namespace pyokoran {

// Runs the program in the working folder (the current folder) until its main window closes;
// the process's exit code. version: what the About box shows.
int RunTaskHere(const std::string& version);

}  // namespace pyokoran
