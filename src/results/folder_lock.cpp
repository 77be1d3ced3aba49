#include "results/folder_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/file_system.h"
#include "platform/regular_file.h"

namespace pyokoran {
namespace {

// The process's hold on the lock: one descriptor and how many holders share it.
struct Hold {
  std::recursive_mutex mutex;  // one thread at a time writes the folder
  int fd = -1;
  int depth = 0;
  bool exclusive = false;
};

Hold& ProcessHold() {
  static Hold hold;
  return hold;
}

int OpenLockFile(const std::string& folder, bool create) {
  const std::string name = folder.empty() ? std::string(kLockFileName) : folder + "/" + kLockFileName;
  return OpenRegularFile(name.c_str(), create ? O_RDWR | O_CREAT : O_RDWR, 0666);
}

}  // namespace

ResultFolderLock::ResultFolderLock(bool exclusive, int wait_ms, const std::string& folder) {
  Hold& hold = ProcessHold();
  hold.mutex.lock();
  if (hold.depth > 0 && (hold.exclusive || !exclusive || hold.fd < 0)) {
    ++hold.depth;
    counted_ = true;
    state_ = hold.fd >= 0 ? State::kHeld : State::kUnlocked;
    return;
  }
  const bool nested = hold.depth > 0;
  int fd = nested ? hold.fd : OpenLockFile(folder, exclusive);
  if (fd < 0) {
    // No lock file in this folder (read-only, or not a folder to write): nothing to keep apart.
    ++hold.depth;
    counted_ = true;
    state_ = State::kUnlocked;
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  FileLock got = TryLockFile(fd, exclusive);
  for (auto pause = std::chrono::milliseconds(1); got == FileLock::kBusy;) {
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
    got = TryLockFile(fd, exclusive);
  }
  if (got == FileLock::kBusy) {
    if (!nested) close(fd);
    hold.mutex.unlock();
    state_ = State::kBusy;
    return;
  }
  if (got == FileLock::kRefused && !nested) {
    close(fd);
    fd = -1;
  }
  hold.fd = fd;
  hold.exclusive = hold.exclusive || exclusive;
  ++hold.depth;
  counted_ = true;
  state_ = fd >= 0 ? State::kHeld : State::kUnlocked;
}

ResultFolderLock::~ResultFolderLock() {
  if (!counted_) return;
  Hold& hold = ProcessHold();
  if (--hold.depth == 0) {
    if (hold.fd >= 0) {
      UnlockFile(hold.fd);
      close(hold.fd);
    }
    hold.fd = -1;
    hold.exclusive = false;
  }
  hold.mutex.unlock();
}

bool FolderKeepsLocks() {
  const int fd = OpenLockFile({}, true);
  if (fd < 0) return true;
  FileLock got = TryLockFile(fd, false);
  if (got == FileLock::kTaken) UnlockFile(fd);
  close(fd);
  return got != FileLock::kRefused;
}

std::string FolderBusyMessage(const std::string& folder) {
  return "ほかのコンピューターまたはプログラムが作業フォルダーに書き込んでいるため、"
         "結果を書き込めませんでした。\n" + folder + "\n"
         "しばらく待ってから再試行してください。";
}

std::string NoLocksMessage(const std::string& folder) {
  return "この作業フォルダーはファイルのロックに対応していません。\n" + folder + "\n"
         "複数のコンピューターやプログラムから同時に結果を書き込むと、記録が壊れるおそれがあります。"
         "このフォルダーを使うのは一度に一台だけにしてください。";
}

}  // namespace pyokoran
