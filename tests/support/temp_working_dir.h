// Runs a test in a fresh, empty working directory and removes it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace pyokoran {

class TempWorkingDir {
 public:
  TempWorkingDir() {
    char pattern[] = "/tmp/pyokoran-test-XXXXXX";
    if (!mkdtemp(pattern)) ADD_FAILURE() << "cannot make a temporary folder";
    path_ = pattern;
    if (!getcwd(old_cwd_, sizeof old_cwd_)) ADD_FAILURE() << "cannot read the working folder";
    if (chdir(path_.c_str()) != 0) ADD_FAILURE() << "cannot enter " << path_;
  }
  ~TempWorkingDir() {
    if (chdir(old_cwd_) != 0) ADD_FAILURE() << "cannot go back to " << old_cwd_;
    std::system(("rm -rf '" + path_ + "'").c_str());
  }
  TempWorkingDir(const TempWorkingDir&) = delete;
  TempWorkingDir& operator=(const TempWorkingDir&) = delete;

  const std::string& path() const { return path_; }

  // The project's sample stim folder, copied into the working folder.
  static void CopySampleStimuli() {
    std::error_code error;
    std::filesystem::copy(std::string(PYOKORAN_SOURCE_DIR) + "/stim", "stim",
                          std::filesystem::copy_options::recursive, error);
    if (error) ADD_FAILURE() << "cannot copy the sample stimuli: " << error.message();
  }

  // The bytes of a file in the folder, or "<missing>".
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return "<missing>";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }

 private:
  std::string path_;
  char old_cwd_[4096] = {};
};

}  // namespace pyokoran
