// The version the program was built as (written by the build).
#pragma once

#include <string>

namespace pyokoran {

// The project version, e.g. "1.6.0".
extern const char* const kProgramVersion;
// The commit built from, e.g. "2891d84abc" ("-dirty" after it with uncommitted changes);
// empty when not built from a git checkout.
extern const char* const kGitCommit;

// "1.6.0 (git 2891d84abc)", or "1.6.0" without a commit.
inline std::string VersionText() {
  std::string text = kProgramVersion;
  if (*kGitCommit) text += std::string(" (git ") + kGitCommit + ")";
  return text;
}

}  // namespace pyokoran
