// emscripten's file systems cannot enter a folder through a descriptor (fchdir on a folder
// opened as "." stays where it is): the folder is held by its absolute path.
#include "platform/file_system.h"

namespace pyokoran {

FolderHandle::~FolderHandle() = default;

bool FolderHandle::Open(const std::string& path) {
  path_.clear();
  if (KindOfPath(path, true) != PathKind::kDirectory) return false;
  std::string absolute = path;
  if (path.empty() || path[0] != '/') {
    absolute = CurrentFolderPath();
    if (absolute.empty()) return false;
    if (path != ".") absolute += (absolute.back() == '/' ? "" : "/") + path;
  }
  path_ = absolute;
  return true;
}

bool FolderHandle::valid() const { return !path_.empty(); }

bool FolderHandle::Enter() const { return valid() && EnterFolder(path_); }

}  // namespace pyokoran
