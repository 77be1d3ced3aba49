// The lock that keeps the writers of one working folder apart: programs on several computers
// (or two on one) that append to the same result and timing files take turns, one run at a
// time, and readers never see half a run. It is a byte-range lock on a small file of its
// own in the folder, so it works wherever the file system keeps locks, a network share
// included.
#pragma once

#include <string>

namespace pyokoran {

// The lock file, beside the result files; it never holds data.
inline constexpr const char* kLockFileName = "ピョコラン.lock";
// How long a writer waits for the others by default.
inline constexpr int kLockWaitMs = 10000;

// The lock of a folder (the current one by default), held while the object lives. Taken again
// in the same process (by a nested append, on the same thread) it is shared with the outer
// holder; an exclusive request under a shared holder takes the lock exclusively. A writer
// (exclusive) makes the lock file where it is missing; a reader (shared) only uses one that
// is there, so that reading a folder never adds a file to it.
class ResultFolderLock {
 public:
  enum class State {
    kHeld,      // taken: nobody else writes
    kBusy,      // another program held it for the whole wait
    kUnlocked,  // the folder keeps no locks, or no lock file can be made there: go on unlocked
  };
  ResultFolderLock(bool exclusive, int wait_ms = kLockWaitMs, const std::string& folder = {});
  ~ResultFolderLock();
  ResultFolderLock(const ResultFolderLock&) = delete;
  ResultFolderLock& operator=(const ResultFolderLock&) = delete;

  State state() const { return state_; }
  // Taken, or there is no lock to take: the caller may go on.
  bool may_go_on() const { return state_ != State::kBusy; }

 private:
  State state_ = State::kBusy;
  bool counted_ = false;
};

// Whether the current folder keeps locks (tried once, released at once). False only when the
// file system refuses them; a folder where no lock file can be made answers true (nothing can
// be written there anyway).
bool FolderKeepsLocks();

// The message shown when another program held the folder for the whole wait.
std::string FolderBusyMessage(const std::string& folder);
// The message shown once at start when the folder keeps no locks.
std::string NoLocksMessage(const std::string& folder);

}  // namespace pyokoran
