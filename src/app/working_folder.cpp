#include "app/working_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "app/message_text.h"
#include "app/program.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/utf8_path.h"
#include "platform/regular_file.h"

namespace pyokoran {
namespace {

constexpr const char kFolderName[] = "ピョコラン";

bool IsFolder(const std::string& path) {
  return !path.empty() && KindOfPath(path, true) == PathKind::kDirectory;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The documents folder named in user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/..." or an
// absolute path; empty when the file names none.
std::string DocumentsFromUserDirs(const std::string& text, const std::string& home) {
  std::istringstream lines(text);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    const std::string key = "XDG_DOCUMENTS_DIR=";
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value.front() == '/') found = value;  // the last line wins
  }
  return found;
}

}  // namespace

std::string WorkingFolderProblem(const std::string& path) {
  errno = 0;
  const PathKind kind = KindOfPath(path, true);
  if (kind == PathKind::kMissing) {
    if (errno == ENOENT || errno == 0) return "does not exist";
    return std::string("cannot be opened: ") + std::strerror(errno);
  }
  if (kind != PathKind::kDirectory) return "is not a folder";
  // Make (and remove) a file: permissions, read-only file systems and ACLs all answer.
  const std::string probe = path + "/.pyokoran-write-test-" + std::to_string(ProcessId());
  const int fd = CreateNewFile(probe, 0600);
  if (fd < 0) return std::string("cannot be written: ") + std::strerror(errno);
  close(fd);
  RemoveFile(probe);
  return {};
}

std::string CurrentFolder() { return CurrentFolderPath(); }

bool EnterWorkingFolder(const std::string& path, std::string& error) {
  const std::string problem = WorkingFolderProblem(path);
  if (problem.empty() && EnterFolder(path)) return true;
  error = "the folder '" + path + "' " +
          (problem.empty() ? std::string("cannot be entered: ") + std::strerror(errno) : problem);
  return false;
}

UserFolders ReadUserFolders() {
  UserFolders folders;
  if (const char* home = std::getenv("HOME")) folders.home = home;
  if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR")) folders.documents_variable = documents;
  std::string config;
  if (const char* config_home = std::getenv("XDG_CONFIG_HOME"); config_home && *config_home) {
    config = config_home;
  } else if (!folders.home.empty()) {
    config = folders.home + "/.config";
  }
  if (!config.empty()) {
    if (std::FILE* file = FopenRegular((config + "/user-dirs.dirs").c_str(), "rb")) {
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) folders.user_dirs.append(buffer, n);
      std::fclose(file);
    }
  }
  return folders;
}

std::string DocumentsWorkingFolder(const UserFolders& folders) {
  const std::string home = WithoutTrailingSlashes(folders.home.empty() ? "/" : folders.home);
  std::string documents = folders.documents_variable;
  if (documents.empty() || documents.front() != '/') {
    documents = DocumentsFromUserDirs(folders.user_dirs, home);
  }
  documents = WithoutTrailingSlashes(documents);
  const std::string base = IsFolder(documents) && documents != home ? documents : home;
  return (base == "/" ? "" : base) + "/" + kFolderName;
}

bool CreateWorkingFolder(const std::string& folder, const std::string& sample_stimuli,
                         std::string& error) {
  namespace fs = std::filesystem;
  if (const PathKind kind = KindOfPath(folder, true); kind != PathKind::kMissing) {
    if (kind == PathKind::kDirectory) return true;
    error = "同じ名前のファイルがあり、フォルダを作れません。";
    return false;
  }
  if (!IsFolder(sample_stimuli)) {
    error = NamingFile("見本の刺激のフォルダが見つかりません。", sample_stimuli);
    return false;
  }
  // Made complete under a temporary name beside the folder, then renamed into place.
  const std::string parent = Utf8FromPath(PathFromUtf8(folder).parent_path());
  std::string temporary = (parent.empty() ? "." : parent) + "/.ピョコラン-XXXXXX";
  if (!MakeTemporaryFolder(temporary)) {
    error = std::string("フォルダを作れません (") + std::strerror(errno) + ")。";
    return false;
  }
  std::error_code failure;
  fs::copy(PathFromUtf8(sample_stimuli), PathFromUtf8(temporary + "/stim"),
           fs::copy_options::recursive, failure);
  if (!failure && !GiveDefaultPermissions(temporary)) {
    failure = std::error_code(errno, std::generic_category());
  }
  if (!failure && !RenamePath(temporary, folder)) {
    failure = std::error_code(errno, std::generic_category());
  }
  if (failure) {
    std::error_code ignored;
    fs::remove_all(PathFromUtf8(temporary), ignored);
    error = "見本の刺激をコピーできません (" + failure.message() + ")。";
    return false;
  }
  return true;
}

bool OpenLauncherFolder(Platform& platform, const std::string& folder,
                        const std::string& sample_stimuli) {
  std::string error;
  bool ok = CreateWorkingFolder(folder, sample_stimuli, error);
  if (ok && !EnterWorkingFolder(folder, error)) {
    ok = false;
    error = "このフォルダは使えません (" + error + ")。";
  }
  if (ok) return true;
  const std::string text = "作業フォルダを用意できませんでした。\n" + folder + "\n" + error;
  std::fprintf(stderr, "pyokoran: %s\n", text.c_str());
  platform.ShowMessage(text, kApplicationTitle, MessageIcon::Stop);
  return false;
}

}  // namespace pyokoran
