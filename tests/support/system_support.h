// What tests do to files and the environment that differs by system. Tests of what a system
// does not have (FIFOs, symbolic links a user may make) skip themselves where it is missing.
#pragma once

#include <string>

namespace pyokoran::test {

// True where the system has FIFOs, and where a test may make symbolic links to anything
// (on Windows a test may still try MakeSymlink to a file of its own, and skip when refused).
bool SystemHasFifos();
bool SystemHasSymlinks();
// True where the documents folder comes from the XDG user folders (HOME, user-dirs.dirs).
bool SystemHasXdgUserFolders();
// A pattern for MakeTemporaryFolder in the system's folder for temporary files.
std::string TemporaryFolderPattern();
// Each false (errno set) where it failed or the system lacks it.
bool MakeFifo(const std::string& path);
bool MakeSymlink(const std::string& target, const std::string& link);
bool MakeFolder(const std::string& path);
// Removes a folder and everything in it; quietly leaves what cannot be removed.
void RemoveTree(const std::string& path);
// Sets the time zone for local times (a POSIX TZ value such as "JST-9").
void SetTimeZone(const char* tz);

}  // namespace pyokoran::test
