// Runs a test in a fresh, empty working directory and removes it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_system.h"
#include "support/system_support.h"

namespace pyokoran {

class TempWorkingDir {
 public:
  TempWorkingDir() {
    std::string pattern = test::TemporaryFolderPattern();
    if (!MakeTemporaryFolder(pattern)) ADD_FAILURE() << "cannot make a temporary folder";
    path_ = pattern;
    old_cwd_ = CurrentFolderPath();
    if (old_cwd_.empty()) ADD_FAILURE() << "cannot read the working folder";
    if (!EnterFolder(path_)) ADD_FAILURE() << "cannot enter " << path_;
  }
  ~TempWorkingDir() {
    if (!EnterFolder(old_cwd_)) ADD_FAILURE() << "cannot go back to " << old_cwd_;
    test::RemoveTree(path_);
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
    std::ifstream in(std::filesystem::u8path(name), std::ios::binary);
    if (!in) return "<missing>";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(std::filesystem::u8path(name), std::ios::binary) << bytes;
  }

 private:
  std::string path_;
  std::string old_cwd_;
};

}  // namespace pyokoran
