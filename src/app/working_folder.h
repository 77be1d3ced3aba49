// The working folder: where the settings, the result files and stim/ are. The program uses
// the folder it was started in unless told another.
#pragma once

#include <string>

namespace pyokoran {

// Why path cannot serve as the working folder ("does not exist", "is not a folder",
// "cannot be written: Permission denied"); empty when it can: it is a folder and a file can
// be made in it (tried, not guessed from the mode bits).
std::string WorkingFolderProblem(const std::string& path);

// The process's current folder, absolute; empty if it cannot be read.
std::string CurrentFolder();

// Makes path the process's current folder after checking it as above. False, with a
// sentence naming the folder and the problem in error, when it cannot be used.
bool EnterWorkingFolder(const std::string& path, std::string& error);

}  // namespace pyokoran
