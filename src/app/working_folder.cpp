#include "app/working_folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pyokoran {

std::string WorkingFolderProblem(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return "does not exist";
    return std::string("cannot be opened: ") + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode)) return "is not a folder";
  // Make (and remove) a file: permissions, read-only file systems and ACLs all answer.
  const std::string probe = path + "/.pyokoran-write-test-" + std::to_string(getpid());
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return std::string("cannot be written: ") + std::strerror(errno);
  close(fd);
  unlink(probe.c_str());
  return {};
}

std::string CurrentFolder() {
  std::string path(4096, '\0');
  while (!getcwd(path.data(), path.size())) {
    if (errno != ERANGE) return {};
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return path;
}

bool EnterWorkingFolder(const std::string& path, std::string& error) {
  const std::string problem = WorkingFolderProblem(path);
  if (problem.empty() && chdir(path.c_str()) == 0) return true;
  error = "the folder '" + path + "' " +
          (problem.empty() ? std::string("cannot be entered: ") + std::strerror(errno) : problem);
  return false;
}

}  // namespace pyokoran
