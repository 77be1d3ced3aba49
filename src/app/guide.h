// Where the experimenter's guide lies: its HTML pages, which the About box names.
#pragma once

#include <string>
#include <vector>

namespace pyokoran {

// The guide's pages, Japanese first, as the build makes them and the packages install them.
inline constexpr const char* kGuidePages[] = {"guide.html", "guide.en.html"};

// The guide's pages in the first of folders that holds any of them, as full names in that
// folder's own spelling; empty when none does. Called once at start-up.
std::vector<std::string> FindGuidePages(const std::vector<std::string>& folders);

}  // namespace pyokoran
