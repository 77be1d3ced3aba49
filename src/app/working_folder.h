// The working folder: where the settings, the result files and stim/ are. From a terminal
// the program uses the folder it was started in unless told another; from the desktop menu
// it uses ピョコラン in the user's documents, made with the sample stimuli the first time.
#pragma once

#include <string>

namespace pyokoran {

class Platform;

// Why path cannot serve as the working folder ("does not exist", "is not a folder",
// "cannot be written: Permission denied"); empty when it can: it is a folder and a file can
// be made in it (tried, not guessed from the mode bits).
std::string WorkingFolderProblem(const std::string& path);

// The process's current folder, absolute; empty if it cannot be read.
std::string CurrentFolder();

// Makes path the process's current folder after checking it as above. False, with a
// sentence naming the folder and the problem in error, when it cannot be used.
bool EnterWorkingFolder(const std::string& path, std::string& error);

// What the desktop says about the user's folders.
struct UserFolders {
  std::string home;                // $HOME
  std::string documents_variable;  // $XDG_DOCUMENTS_DIR, when set
  std::string user_dirs;           // the text of user-dirs.dirs in the configuration folder
};

// The user's folders from the environment and ~/.config/user-dirs.dirs.
UserFolders ReadUserFolders();

// The working folder of the desktop launcher: ピョコラン in the documents folder when the desktop
// names one that exists (and is not the home folder itself), otherwise ピョコラン in the home
// folder.
std::string DocumentsWorkingFolder(const UserFolders& folders);

// Makes folder the working folder, creating it first when it does not exist yet: a copy of
// the sample stimuli folder as its stim/, all of it or nothing (it is made under a temporary
// name beside it and renamed when complete). A folder that exists is used as it is. False,
// with the reason in error, when the folder cannot be made or used.
bool CreateWorkingFolder(const std::string& folder, const std::string& sample_stimuli,
                         std::string& error);

// CreateWorkingFolder and entering the folder, for a start from the desktop menu: a failure
// is shown in a message box (and on stderr) and answers false.
bool OpenLauncherFolder(Platform& platform, const std::string& folder,
                        const std::string& sample_stimuli);

}  // namespace pyokoran
