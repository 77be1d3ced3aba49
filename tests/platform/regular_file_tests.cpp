#include "platform/regular_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "support/child_process.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

struct OpenCase {
  const char* name;
  std::function<void()> make;  // puts something at "f" in the working folder
  int flags;
  int expected_errno;  // 0: opened
};

std::ostream& operator<<(std::ostream& os, const OpenCase& c) { return os << c.name; }

class OpenRegularFileTest : public ::testing::TestWithParam<OpenCase> {
 protected:
  TempWorkingDir dir_;
};

// Each open runs in a child with a deadline, so one that waits for a FIFO's peer fails.
TEST_P(OpenRegularFileTest, OpensOnlyRegularFilesAndNeverWaits) {
  const OpenCase& c = GetParam();
  c.make();
  const int status = RunInChild(
      [&] {
        const int fd = OpenRegularFile("f", c.flags);
        if (fd < 0) return errno;
        const bool blocking = (fcntl(fd, F_GETFL) & O_NONBLOCK) == 0;
        const bool close_on_exec = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
        return blocking && close_on_exec ? 0 : 255;
      },
      std::chrono::seconds(5));
  EXPECT_EQ(status, c.expected_errno) << "-1: the open blocked";
}

void MakeRegular() { TempWorkingDir::Write("f", "data"); }

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenRegularFileTest,
    ::testing::Values(
        OpenCase{"RegularForReading", MakeRegular, O_RDONLY, 0},
        OpenCase{"RegularForAppending", MakeRegular, O_WRONLY | O_APPEND, 0},
        OpenCase{"LinkToRegular", [] { MakeRegular(); rename("f", "g"); symlink("g", "f"); }, O_RDONLY, 0},
        OpenCase{"Missing", [] {}, O_RDONLY, ENOENT},
        OpenCase{"FifoForReading", [] { mkfifo("f", 0644); }, O_RDONLY, EINVAL},
        OpenCase{"FifoForAppending", [] { mkfifo("f", 0644); }, O_WRONLY | O_APPEND | O_CREAT, ENXIO},
        OpenCase{"Folder", [] { mkdir("f", 0755); }, O_RDONLY, EISDIR},
        OpenCase{"Device", [] { symlink("/dev/zero", "f"); }, O_RDONLY, EINVAL}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST(FopenRegular, ReadsAppendsAndRefusesAFifo) {
  TempWorkingDir dir;
  TempWorkingDir::Write("f", "a");
  std::FILE* f = FopenRegular("f", "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("b", f);
  std::fclose(f);
  EXPECT_EQ(TempWorkingDir::Read("f"), "ab");
  ASSERT_EQ(mkfifo("p", 0644), 0);
  EXPECT_EQ(RunInChild([] { return FopenRegular("p", "rb") == nullptr ? 0 : 1; }, std::chrono::seconds(5)), 0);
}

}  // namespace
}  // namespace pyokoran
