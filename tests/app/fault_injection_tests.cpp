// Faults planted in the working folder under whole Start commands over the fake platform:
// odd files where the program's files should be, a read-only or full file system, huge or
// endless pictures and sounds. Each row runs in a child process with a deadline and its
// memory measured, so that a hang or a runaway read fails the row instead of the suite.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "app/my_app.h"
#include "platform/fake/fake_platform.h"
#include "results/result_files.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCannotOpen = "データファイルを開くことができません";
const std::string kOldSummary =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n"
    "OLD\t2014/05/07\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t1\t10\t0\t0\t0\t10\r\n";
const std::string kOldAppearance =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n"
    "SBJ0000,2014/05/07,10:00:00,1,6,3,12,1,2000,1000,3000,60,1,1,1,5,448,320,0,0,0,0,0,1\r\n";
constexpr int64_t kDeadlineSeconds = 60;
constexpr long kMemoryBoundKiB = 256 * 1024;  // growth of the resident set over the parent's

// How a row's fault shows: which old files only grow by this run's lines (true) or stay as
// they were (false), and the messages beyond the run's own start and end messages.
struct FaultCase {
  const char* name;
  // Plants the fault in the working folder, which holds stim/ and the old result files;
  // returns "" or why it cannot be planted here ("skip: ...") or failed.
  std::function<std::string()> plant;
  std::function<void()> remove;
  std::vector<std::string> messages;
  bool summary_grows = false;
  bool appearance_grows = false;
  bool needs_private_tmpfs = false;  // the working folder becomes a small tmpfs
  // Plants the fault where no tmpfs can be mounted; none = the row is skipped there.
  std::function<std::string()> without_tmpfs = nullptr;
  friend std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.name; }
};

// The bytes of a regular file (never a FIFO or device planted by a row).
std::string Read(const std::string& name) {
  return fs::is_regular_file(fs::symlink_status(name)) ? TempWorkingDir::Read(name)
                                                       : "<not a file>";
}
bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}
// The text ends in CR LF and its last line starts with start.
bool LastLineStartsWith(const std::string& text, const std::string& start) {
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
  const size_t previous = text.rfind('\n', text.size() - 2);
  return StartsWith(text.substr(previous == std::string::npos ? 0 : previous + 1), start);
}

// A sparse file of the given size that starts like a BMP or a WAV file.
std::string SparseFile(const std::string& name, int64_t size, const std::string& start) {
  fs::remove(name);
  TempWorkingDir::Write(name, start);
  return truncate(name.c_str(), size) == 0 ? "" : "cannot make " + name;
}

// A 24-bit BMP header claiming width x height pixels, with no pixels behind it.
std::string BmpClaiming(int32_t width, int32_t height) {
  std::string b(54, '\0');
  auto put = [&b](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = char(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, 54, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, uint32_t(width), 4);
  put(22, uint32_t(height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  return b;
}

std::string Replace(const std::string& name, const std::function<bool()>& make) {
  fs::remove(name);
  return make() ? "" : "cannot make " + name;
}
std::function<std::string()> Folder(std::string name) {
  return [name] { return Replace(name, [&] { return fs::create_directory(name); }); };
}
std::function<std::string()> Fifo(std::string name) {
  return [name] { return Replace(name, [&] { return mkfifo(name.c_str(), 0644) == 0; }); };
}
std::function<std::string()> Link(std::string name, std::string target) {
  return [name, target] {
    return Replace(name, [&] { return symlink(target.c_str(), name.c_str()) == 0; });
  };
}
std::function<void()> Remove(std::string name) {
  return [name] { fs::remove(name); };
}
std::function<void()> Restore(std::string name) {
  return [name] {
    fs::remove(name);
    fs::copy_file(std::string(PYOKORAN_SOURCE_DIR) + "/" + name, name);
  };
}

// The working folder becomes a private tmpfs of `size` bytes, seen by this process only.
std::string MountPrivateTmpfs(const std::string& folder, const char* size) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    return "skip: no private mount namespace here";
  }
  if (uid != 0) {
    TempWorkingDir::Write("/proc/self/setgroups", "deny");
    TempWorkingDir::Write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    TempWorkingDir::Write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
    return "skip: cannot mount a tmpfs here";
  }
  return chdir(folder.c_str()) == 0 ? "" : "cannot enter the tmpfs";
}

// Where no tmpfs can be mounted: a write that takes a file beyond 1 KiB more than the old
// summary fails (EFBIG) as on a full disk: the run's summary line still fits, its rows do not.
std::string LimitFileSize() {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = kOldSummary.size() + 1024;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "" : "cannot limit the file size";
}
void Unfill() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
  fs::remove("filler");
}

// Fills the file system of the working folder to the last byte.
std::string FillFileSystem() {
  const int fd = open("filler", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot make filler";
  const std::string block(4096, 'x');
  for (size_t chunk = block.size(); chunk > 0; chunk /= 2) {
    while (write(fd, block.data(), chunk) == ssize_t(chunk)) {
    }
  }
  close(fd);
  return "";
}

class FaultInjectionTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  // Everything the child finds wrong, one line each; "skip: ..." when the row cannot run.
  static std::string RunRow(const FaultCase& c, const std::string& folder) {
    std::string problems;
    auto check = [&problems](bool ok, const std::string& what) {
      if (!ok) problems += what + "\n";
    };
    const bool tmpfs = c.needs_private_tmpfs && MountPrivateTmpfs(folder, "4m").empty();
    if (c.needs_private_tmpfs && !tmpfs && !c.without_tmpfs) {
      return "skip: cannot mount a private tmpfs here";
    }
    std::error_code error;
    fs::copy(std::string(PYOKORAN_SOURCE_DIR) + "/stim", "stim", fs::copy_options::recursive,
             error);
    if (error) return "cannot copy stim: " + error.message();
    TempWorkingDir::Write(kSummaryFileName, kOldSummary);
    TempWorkingDir::Write("SBJ0000.csv", kOldAppearance);
    const std::string planted = tmpfs || !c.without_tmpfs ? c.plant() : c.without_tmpfs();
    if (!planted.empty()) return planted;

    FakePlatform platform;
    platform.screen = {1280, 1024};
    CMyApp app(platform);
    for (int i = 0; i < 2; ++i) {
      platform.dialog_answers.push_back(
          {true, [](ConditionControls& controls) {
             // A short run that still logs more than a page of appearances.
             controls.time_limit = "5";
             controls.holes = "15";
             controls.targets = "8";
             controls.distractors = "4";
             controls.duration = "100";
             controls.isi1 = "50";
             controls.isi2 = "100";
           }});
    }
    auto fault_messages = [&platform] {
      std::vector<std::string> texts;
      for (const auto& m : platform.messages) {
        // The file a message names follows on a line of its own.
        if (m.caption != "開始" && m.caption != "終了") texts.push_back(m.text.substr(0, m.text.find('\n')));
      }
      platform.messages.clear();
      return texts;
    };
    // Old data: kept byte for byte, followed by this run's lines where the row says so.
    auto check_old_data = [&](const char* when) {
      const std::string summary = Read(kSummaryFileName);
      const std::string appearance = Read("SBJ0000.csv");
      for (auto [name, now, old, grows] :
           {std::tuple{kSummaryFileName, summary, kOldSummary, c.summary_grows},
            std::tuple{"SBJ0000.csv", appearance, kOldAppearance, c.appearance_grows}}) {
        if (now != "<not a file>") {
          check(grows ? StartsWith(now, old) && now.size() > old.size() : now == old,
                std::string(when) + ": " + name + (grows ? " lost its old data" : " changed"));
        }
      }
    };

    size_t rankings = 0;
    platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnLeftButtonDown(); });
    platform.main_window_actions.push_back([&](MainWindowHandler& w) {
      check(fault_messages() == c.messages, "not the expected messages");
      check_old_data("with the fault");
      rankings = platform.result_dialogs.size();
      c.remove();
      w.OnLeftButtonDown();
      check(fault_messages().empty(), "messages after the fault was removed");
      check(platform.result_dialogs.size() == rankings + 1, "no ranking after the fault");
      check(LastLineStartsWith(Read(kSummaryFileName), "SBJ0000\t2"),
            "the next run's summary line is missing");
      check(LastLineStartsWith(Read("SBJ0000.csv"), "SBJ0000,2"),
            "the next run's rows are missing");
    });
    app.Run();
    return problems;
  }
};

TEST_P(FaultInjectionTest, MessageOldDataKeptStillUsableInBoundedTimeAndMemory) {
  const FaultCase& c = GetParam();
  TempWorkingDir dir;
  rusage self{};
  getrusage(RUSAGE_SELF, &self);

  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    const std::string problems = RunRow(c, dir.path());
    (void)!write(report[1], problems.data(), problems.size());
    _exit(0);
  }
  close(report[1]);
  std::string problems;
  bool hung = false;
  for (;;) {
    const auto left = std::chrono::seconds(kDeadlineSeconds) -
                      (std::chrono::steady_clock::now() - start);
    if (left <= std::chrono::seconds(0)) {
      hung = true;
      kill(child, SIGKILL);
      break;
    }
    pollfd p{report[0], POLLIN, 0};
    if (poll(&p, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count())) <= 0) {
      continue;
    }
    char buffer[4096];
    const ssize_t n = read(report[0], buffer, sizeof buffer);
    if (n <= 0) break;
    problems.append(buffer, size_t(n));
  }
  close(report[0]);
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (problems.rfind("skip: ", 0) == 0) GTEST_SKIP() << problems;
  ASSERT_FALSE(hung) << "no answer within " << kDeadlineSeconds << " s";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with " << status;
  EXPECT_EQ(problems, "");
  EXPECT_LT(usage.ru_maxrss - self.ru_maxrss, kMemoryBoundKiB) << "KiB more than the tests";
  RecordProperty("seconds", std::to_string(seconds));
}

const std::string kSummary = kSummaryFileName;
const std::vector<std::string> kCannotOpenOnce = {kCannotOpen};
const std::vector<std::string> kNone = {};
std::string MissingPicture(const char* name) {
  return std::string("パターンファイル[") + name + "]が見つかりません。";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultInjectionTest,
    ::testing::Values(
        // The folder and the file system.
        FaultCase{"ReadOnlyFolder",
                  [] {
                    return mount(nullptr, ".", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0
                               ? ""
                               : "cannot make the folder read-only";
                  },
                  [] { mount(nullptr, ".", nullptr, MS_REMOUNT, nullptr); }, kCannotOpenOnce,
                  false, false, true},
        // The summary line fits into the last page of its file; the rows need new ones, and
        // when they fail the summary line is taken back: a run is in every file or in none.
        FaultCase{"FullFileSystem", FillFileSystem, Unfill, kCannotOpenOnce, false, false, true,
                  LimitFileSize},
        // The summary file.
        FaultCase{"SummaryIsFolder", Folder(kSummary), Remove(kSummary), kCannotOpenOnce},
        FaultCase{"SummaryIsFifo", Fifo(kSummary), Remove(kSummary), kCannotOpenOnce},
        FaultCase{"SummaryLinksToDevFull", Link(kSummary, "/dev/full"), Remove(kSummary),
                  kCannotOpenOnce},
        FaultCase{"SummaryLinksToDevZero", Link(kSummary, "/dev/zero"), Remove(kSummary),
                  kCannotOpenOnce},
        // The appearance file: the run goes into none of the files, the summary included.
        FaultCase{"AppearanceIsFolder", Folder("SBJ0000.csv"), Remove("SBJ0000.csv"),
                  kCannotOpenOnce},
        FaultCase{"AppearanceIsFifo", Fifo("SBJ0000.csv"), Remove("SBJ0000.csv"),
                  kCannotOpenOnce},
        FaultCase{"AppearanceLinksToDevFull", Link("SBJ0000.csv", "/dev/full"),
                  Remove("SBJ0000.csv"), kCannotOpenOnce},
        // Pictures: a background that cannot be read is plain green, a creature picture stops
        // the Start with its message.
        FaultCase{"BackgroundSparse2GB",
                  [] { return SparseFile("stim/bg.bmp", int64_t(2) << 30, BmpClaiming(1024, 768)); },
                  Restore("stim/bg.bmp"), kNone, true, true},
        FaultCase{"BackgroundClaims100000Squared",
                  [] {
                    TempWorkingDir::Write("stim/bg.bmp", BmpClaiming(100000, 100000));
                    return std::string();
                  },
                  Restore("stim/bg.bmp"), kNone, true, true},
        FaultCase{"CreatureSparse2GB",
                  [] {
                    return SparseFile("stim/tgtpokko1.bmp", int64_t(2) << 30,
                                      BmpClaiming(128, 128));
                  },
                  Restore("stim/tgtpokko1.bmp"), {MissingPicture("stim/tgtpokko1.bmp")}},
        FaultCase{"CreatureClaims100000Squared",
                  [] {
                    TempWorkingDir::Write("stim/dstpokko2.bmp", BmpClaiming(100000, 100000));
                    return std::string();
                  },
                  Restore("stim/dstpokko2.bmp"), {MissingPicture("stim/dstpokko2.bmp")}},
        FaultCase{"CreatureIsFifo", Fifo("stim/dstpokko1.bmp"), Restore("stim/dstpokko1.bmp"),
                  {MissingPicture("stim/dstpokko1.bmp")}},
        FaultCase{"BackgroundIsFifo", Fifo("stim/bg.bmp"), Restore("stim/bg.bmp"), kNone, true,
                  true},
        // Sounds: one that cannot be loaded leaves the run silent for it.
        FaultCase{"SoundIsFifo", Fifo("stim/tgtpokko.wav"), Restore("stim/tgtpokko.wav"), kNone,
                  true, true},
        FaultCase{"SoundSparse2GB",
                  [] { return SparseFile("stim/dstpokko.wav", int64_t(2) << 30, "RIFF"); },
                  Restore("stim/dstpokko.wav"), kNone, true, true},
        FaultCase{"SoundLinksToDevZero", Link("stim/tgtpokko.wav", "/dev/zero"),
                  Restore("stim/tgtpokko.wav"), kNone, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
