// The program's windows on Windows: what the Windows entry (src/main_windows.cpp) starts once
// the command line has asked for no mode of its own, and the timing check it asks for with
// --check-timing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pyokoran {

struct Win32Start {
  std::string version;          // the version text, for the About box
  std::string launcher_folder;  // the working folder to make (from sample_stimuli) and enter
                                // first; empty: the current folder is the working one
  std::string sample_stimuli;   // the stim folder installed beside the program
  std::vector<std::string> guide_pages;  // the guide's pages, for the About box
  std::string present;          // --present: "locked", "fallback", or empty
};

// Runs the main window until the user exits; returns the process's exit status.
int RunWin32Program(const Win32Start& start);

// The timing self-check on the Win32 platform, its report printed to out: 0 for PASS, 1 for
// FAIL. present as for RunWin32Program. Under Wine the report begins by saying that Wine's
// figures say nothing about a Windows PC.
int RunWin32TimingCheck(const std::string& present, std::FILE* out);

// The Wine version when the program runs under Wine; empty on Windows.
std::string WineVersion();

}  // namespace pyokoran
