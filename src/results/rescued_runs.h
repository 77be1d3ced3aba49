// Runs that could not be written into the working folder, kept in the user's own folder on
// this computer until they can: one file per run, naming the working folder and holding each
// result file's share of the run with its exact bytes. The next run written into that folder
// puts them in place first.
#pragma once

#include <string>
#include <vector>

#include "results/result_files.h"

namespace pyokoran {

// The folder for rescued runs in the user's own data folder on this computer, made if
// missing; "" when it cannot be.
std::string RescueFolderIn(const std::string& user_data_folder);

// A rescued run as read back.
struct RescuedRun {
  std::string path;    // the rescue file
  std::string folder;  // the working folder it belongs to
  std::vector<FilePart> parts;
};

// Keeps parts, bound for working_folder, in a new file in rescue_folder, on disk before it
// returns; its path, or "" when it could not be written. label names the file (a date and
// time, say).
std::string SaveRescuedRun(const std::string& rescue_folder, const std::string& working_folder,
                           const std::vector<FilePart>& parts, const std::string& label);
// The bytes of a rescue file.
std::string RescuedRunBytes(const std::string& working_folder, const std::vector<FilePart>& parts);
// Reads a rescue file's bytes; false when they are not a whole rescue file.
bool ParseRescuedRun(const std::string& bytes, RescuedRun& run);
// The rescued runs of working_folder, oldest first; unreadable files are left out.
std::vector<RescuedRun> FindRescuedRuns(const std::string& rescue_folder,
                                        const std::string& working_folder);

// Messages: the run was kept in the file `path`; it could not be kept anywhere; an earlier
// run kept in `path` is now in the working folder; one that still cannot be written.
std::string RescuedMessage(const std::string& path);
std::string NotRescuedMessage();
std::string PutInPlaceMessage(const std::string& path);
std::string StillRescuedMessage(const std::string& path);

}  // namespace pyokoran
