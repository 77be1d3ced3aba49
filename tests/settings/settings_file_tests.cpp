#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "settings/experiment_settings.h"
#include "support/child_process.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

// A file's bytes, what the store holds after reading them, and what it writes back.
struct ParseCase {
  const char* name;
  std::string input;
  std::vector<std::pair<std::string, std::string>> entries;
  std::string rewritten;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << c.name; }

class SettingsFileParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SettingsFileParse, StoresAndRewrites) {
  const ParseCase& c = GetParam();
  SettingsFile file;
  file.Parse(c.input);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < file.entry_count(); ++i) entries.emplace_back(file.keys()[i], file.values()[i]);
  EXPECT_EQ(entries, c.entries);
  EXPECT_EQ(file.Serialise(), c.rewritten);
}

const std::string kLong(1030, 'k');
const std::string kKey1000(1000, 'k');

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsFileParse,
    ::testing::Values(
        ParseCase{"BlanksAroundEquals", "n_holes = 8\r\n", {{"n_holes", "8"}}, "n_holes = 8\r\n"},
        ParseCase{"NoBlanks", "n_holes=8\n", {{"n_holes", "8"}}, "n_holes = 8\r\n"},
        ParseCase{"InnerBlanksKeptEndsTrimmed", " \tsubject = \tA B\t \r\n",
                  {{"subject", "A B"}}, "subject = A B\r\n"},
        ParseCase{"ValueEndsAtEquals", "a=b=c\n", {{"a", "b"}}, "a = b\r\n"},
        ParseCase{"DoubleEqualsBeforeValue", "key == b\n", {{"key", "b"}}, "key = b\r\n"},
        ParseCase{"LeadingEqualsIsSkipped", "=text\n", {{"text", ""}}, "text = \r\n"},
        ParseCase{"KeyOnly", "lonely\n", {{"lonely", ""}}, "lonely = \r\n"},
        ParseCase{"OnlyEqualsIsSkipped", "===\n", {}, ""},
        ParseCase{"BlankKeyIsSkipped", "= =\n", {}, ""},
        ParseCase{"BlankKeyBeforeSettingNameIsSkipped", "= =n_holes\n\t=\t\n", {}, ""},
        ParseCase{"BlankLinesSkipped", "\r\n  \t\r\na=1\n\n", {{"a", "1"}}, "a = 1\r\n"},
        ParseCase{"HeadingAndComment", "[section]\n# note\n",
                  {{"[section]", ""}, {"# note", ""}}, "[section] = \r\n# note = \r\n"},
        ParseCase{"CaseSensitiveKeys", "N_HOLES = 9\nn_holes = 8\n",
                  {{"N_HOLES", "9"}, {"n_holes", "8"}}, "N_HOLES = 9\r\nn_holes = 8\r\n"},
        ParseCase{"DuplicateKeysMergeAtFirstWithLastValue", "a = 1\nb = 2\na = 3\n",
                  {{"a", "3"}, {"b", "2"}}, "a = 3\r\nb = 2\r\n"},
        ParseCase{"LoneCarriageReturnStays", "a = 1\r", {{"a", "1\r"}}, "a = 1\r\r\n"},
        ParseCase{"LongLineReadInPieces", kLong + "=v\n",
                  {{kLong.substr(0, 1023), ""}, {"kkkkkkk", "v"}},
                  kLong.substr(0, 1023) + " = \r\nkkkkkkk = v\r\n"},
        // Written back whole, "key = value" would no longer fit one piece of the reader.
        ParseCase{"LongEntryWrittenAsTheReaderTakesIt", kKey1000 + "=" + std::string(19, 'v') + " xx\n",
                  {{kKey1000, std::string(19, 'v') + " xx"}},
                  kKey1000 + " = " + std::string(19, 'v') + "\r\n"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(SettingsFile, GetIntConvertsAsStrtolWithSaturation) {
  struct Row {
    const char* text;
    int32_t expected;
  };
  const Row rows[] = {
      {"42", 42},           {" -7", -7},           {"+5", 5},
      {"90s", 90},          {"abc", 0},            {"", 0},
      {"4000000000", INT32_MAX}, {"-99999999999", INT32_MIN}, {"-294967296", -294967296},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    SettingsFile file;
    file.SetString("k", row.text);
    int32_t value = 123;
    EXPECT_EQ(file.GetInt("k", value), 1);
    EXPECT_EQ(value, row.expected);
  }
  SettingsFile file;
  int32_t untouched = 123;
  std::string text = "keep";
  EXPECT_EQ(file.GetInt("missing", untouched), 0);
  EXPECT_EQ(file.GetString("missing", text), 0);
  EXPECT_EQ(untouched, 123);
  EXPECT_EQ(text, "keep");
}

TEST(SettingsFile, SetIntWritesPlainDecimal) {
  SettingsFile file;
  file.SetInt("a", -5);
  file.SetInt("b", 0);
  file.SetInt("a", INT32_MIN);
  EXPECT_EQ(file.Serialise(), "a = -2147483648\r\nb = 0\r\n");
}

// What one start reads of a file and the next exit writes back.
std::string LoadAndSave(const std::string& bytes) {
  SettingsFile file;
  file.Parse(bytes.substr(0, SettingsFile::kMaxFileBytes));
  return file.Serialise();
}

// Load, save, load, save gives the same bytes twice, whatever the file held.
TEST(SettingsFile, RewriteIsAFixedPoint) {
  std::vector<std::string> inputs = {
      "= =\r\n= =n_holes\r\nn_holes = 8\r\n", "a\rb = c\r\r\n\r = \r\n", std::string("a=b\0junk\nc\0=d\n", 14),
      std::string(5000, '='), std::string(3000, 'x') + "=" + std::string(3000, 'y')};
  // Lines around the reader's piece size, with "=" at places near its end.
  for (size_t length = 1015; length <= 1030; ++length) {
    for (size_t eq = 990; eq < length; eq += 7) {
      std::string line(length, 'a');
      line[eq] = '=';
      inputs.push_back(line + "\r\n" + line);
    }
  }
  // More short entries than the rewritten file has room for.
  std::string many;
  for (int i = 0; many.size() < SettingsFile::kMaxFileBytes + 4096; ++i) many += std::to_string(i) + "\n";
  inputs.push_back(many);
  // Random bytes, mostly the ones the reader treats specially.
  std::mt19937 random(12);
  const char alphabet[] = {'=', ' ', '\t', '\r', '\0', 'a', 'b', '\x81', '=', '\n'};
  for (int i = 0; i < 3000; ++i) {
    std::string bytes(random() % 2600, ' ');
    // Every third input has no LF, so that its pieces run to the reader's full size.
    const size_t letters = (i % 3 == 0) ? sizeof alphabet - 1 : sizeof alphabet;
    for (char& c : bytes) c = alphabet[random() % letters];
    inputs.push_back(bytes);
  }
  for (const std::string& input : inputs) {
    const std::string once = LoadAndSave(input);
    // Compared as a whole: a diff of two large texts would take too long to print.
    ASSERT_TRUE(LoadAndSave(once) == once) << "input of " << input.size() << " bytes: "
                                           << ::testing::PrintToString(input.substr(0, 80));
  }
}

class SettingsFileOnDisk : public ::testing::Test {
 protected:
  static std::string Read(const std::string& name) { return TempWorkingDir::Read(name); }
  static void Write(const std::string& name, const std::string& bytes) {
    TempWorkingDir::Write(name, bytes);
  }

  TempWorkingDir dir_;
};

TEST_F(SettingsFileOnDisk, MissingFileGivesDefaultsAndIsCreatedWithTenLines) {
  SettingsFile file;
  file.Load("ピョコラン");
  EXPECT_EQ(file.file_name(), "ピョコラン.ini");
  EXPECT_EQ(file.entry_count(), 0);
  ExperimentSettings settings;
  ReadSettings(file, settings);
  StoreSettings(file, settings);
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"),
            "subject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\nn_holes = 12\r\n"
            "duration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\ntime_limit = 60\r\n"
            "random_seed = 0\r\nflag_ordered = 1\r\n");
}

TEST_F(SettingsFileOnDisk, ExistingFileKeepsForeignKeysAheadOfMissingSettings) {
  Write("ピョコラン.ini",
        "# experimenter notes\r\nN_HOLES=4\r\nn_holes=9\r\nextra = kept value\r\n"
        "time_limit = 90s\r\nn_holes = 10\r\n");
  SettingsFile file;
  file.Load("ピョコラン");
  ExperimentSettings settings;
  ReadSettings(file, settings);
  EXPECT_EQ(settings.n_holes, 10);
  EXPECT_EQ(settings.time_limit, 90);
  EXPECT_EQ(settings.n_tgtpokko, 6);
  StoreSettings(file, settings);
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"),
            "# experimenter notes = \r\nN_HOLES = 4\r\nn_holes = 10\r\nextra = kept value\r\n"
            "time_limit = 90\r\nsubject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\n"
            "duration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\nrandom_seed = 0\r\n"
            "flag_ordered = 1\r\n");
}

TEST_F(SettingsFileOnDisk, SaveWithoutLoadWritesNothing) {
  Write("ピョコラン.ini", "a = 1\r\n");
  SettingsFile file;
  file.SetString("a", "2");
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"), "a = 1\r\n");
}

TEST_F(SettingsFileOnDisk, ReadsOnlyTheFirstMebibyte) {
  Write("ピョコラン.ini", "n_holes = 5\r\n");
  {
    std::fstream f("ピョコラン.ini", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(SettingsFile::kMaxFileBytes + 100));  // a sparse gap of zeros
    f << "\r\nisi1 = 7\r\n";
  }
  SettingsFile file;
  file.Load("ピョコラン");
  int32_t n_holes = 0, isi1 = 0;
  EXPECT_EQ(file.GetInt("n_holes", n_holes), 1);
  EXPECT_EQ(n_holes, 5);
  EXPECT_EQ(file.GetInt("isi1", isi1), 0);
}

const std::string kIni = "ピョコラン.ini";
const std::string kOldBytes = "subject = old\r\n";
const std::string kNewBytes = "subject = new\r\n";

// Every name under the working folder, links not followed.
std::set<std::string> Listing() {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("."))
    names.insert(entry.path().string());
  return names;
}

struct stat LinkStat(const std::string& name) {
  struct stat info {};
  lstat(name.c_str(), &info);
  return info;
}

struct stat FileStat(const std::string& name) {
  struct stat info {};
  stat(name.c_str(), &info);
  return info;
}

// An old settings file owned by the user who will save.
void MakeOld(const std::string& name, mode_t mode, const ChildUser& user) {
  TempWorkingDir::Write(name, kOldBytes);
  ASSERT_EQ(chown(name.c_str(), user.uid, user.gid), 0);
  ASSERT_EQ(chmod(name.c_str(), mode), 0);
}

void MakeFolder(const std::string& name, mode_t mode, const ChildUser& user) {
  ASSERT_EQ(mkdir(name.c_str(), mode), 0);
  ASSERT_EQ(chown(name.c_str(), user.uid, user.gid), 0);
}

// Load, set the subject, save: what the program does from start to exit.
int LoadChangeSave() {
  SettingsFile file;
  file.Load("ピョコラン");
  file.SetString("subject", "new");
  file.Save();
  return 0;
}

enum class Outcome { kReplaced, kRewrittenInPlace, kCreated, kLeftAlone };

struct SaveCase {
  const char* name;
  std::function<void(const ChildUser&)> setup;  // in the working folder, owned by the saver
  bool unprivileged;  // saved by a user without the superuser's rights
  std::string target;  // the file the save writes, or leaves alone
  Outcome outcome;
  std::function<void()> before_save = [] {};  // in the saving process
};

std::ostream& operator<<(std::ostream& os, const SaveCase& c) { return os << c.name; }

class SettingsFileSave : public ::testing::TestWithParam<SaveCase> {
 protected:
  void TearDown() override {
    chmod(".", 0755);  // so that the folder can be removed
    chmod("data", 0755);
  }
  TempWorkingDir dir_;
};

// "Replaced" is the crash-safe way: a complete new file renamed over the old one, which the
// changed inode shows. The other outcomes keep the inode.
TEST_P(SettingsFileSave, WritesOrLeavesTheFile) {
  const SaveCase& c = GetParam();
  const ChildUser saver = c.unprivileged ? UnprivilegedUser() : ChildUser{geteuid(), getegid()};
  ASSERT_EQ(chown(".", saver.uid, saver.gid), 0);
  ASSERT_EQ(chmod(".", 0755), 0);
  c.setup(saver);
  const std::set<std::string> listing = Listing();
  const struct stat ini_before = LinkStat(kIni);
  const struct stat target_before = FileStat(c.target);

  const int status = RunInChild(
      [&] {
        c.before_save();
        return LoadChangeSave();
      },
      std::chrono::seconds(10), c.unprivileged);
  if (status == kChildCannotDropRights) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  ASSERT_EQ(status, 0);

  const struct stat target_after = FileStat(c.target);
  EXPECT_EQ(TempWorkingDir::Read(c.target), c.outcome == Outcome::kLeftAlone ? kOldBytes : kNewBytes);
  if (c.outcome == Outcome::kReplaced) {
    EXPECT_NE(target_after.st_ino, target_before.st_ino);
  } else if (c.outcome != Outcome::kCreated) {
    EXPECT_EQ(target_after.st_ino, target_before.st_ino);
  }
  if (c.outcome != Outcome::kCreated) {
    EXPECT_EQ(target_after.st_mode, target_before.st_mode);
    EXPECT_EQ(target_after.st_uid, target_before.st_uid);
  }
  EXPECT_EQ(LinkStat(kIni).st_mode & S_IFMT, ini_before.st_mode & S_IFMT) << "a link stays a link";
  std::set<std::string> expected = listing;
  if (c.outcome == Outcome::kCreated) expected.insert("./" + c.target);
  EXPECT_EQ(Listing(), expected) << "no temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileSave,
    ::testing::Values(
        SaveCase{"PlainFile", [](const ChildUser& u) { MakeOld(kIni, 0640, u); }, false, kIni,
                 Outcome::kReplaced},
        // A file nobody may write is the experimenter's lock on the conditions: also for root.
        SaveCase{"ReadOnlyFile", [](const ChildUser& u) { MakeOld(kIni, 0444, u); }, true, kIni,
                 Outcome::kLeftAlone},
        SaveCase{"ReadOnlyFileSavedByRoot", [](const ChildUser& u) { MakeOld(kIni, 0444, u); }, false,
                 kIni, Outcome::kLeftAlone},
        SaveCase{"OwnerMayNotWrite", [](const ChildUser& u) { MakeOld(kIni, 0464, u); }, true, kIni,
                 Outcome::kLeftAlone},
        SaveCase{"FolderRefusesTemporaryFile",
                 [](const ChildUser& u) {
                   MakeOld(kIni, 0644, u);
                   chmod(".", 0555);
                 },
                 true, kIni, Outcome::kRewrittenInPlace},
        SaveCase{"LinkFollowed",
                 [](const ChildUser& u) {
                   MakeFolder("data", 0755, u);
                   MakeOld("data/real.ini", 0644, u);
                   ASSERT_EQ(symlink("data/real.ini", kIni.c_str()), 0);
                 },
                 false, "data/real.ini", Outcome::kReplaced},
        SaveCase{"LinkToMissingFile",
                 [](const ChildUser& u) {
                   MakeFolder("data", 0755, u);
                   ASSERT_EQ(symlink("data/new.ini", kIni.c_str()), 0);
                 },
                 false, "data/new.ini", Outcome::kCreated},
        SaveCase{"LinkIntoFolderThatRefusesTemporaryFile",
                 [](const ChildUser& u) {
                   MakeFolder("data", 0755, u);
                   MakeOld("data/real.ini", 0644, u);
                   ASSERT_EQ(symlink("data/real.ini", kIni.c_str()), 0);
                   chmod("data", 0555);
                 },
                 true, "data/real.ini", Outcome::kRewrittenInPlace},
        SaveCase{"HardLinkedFile",
                 [](const ChildUser& u) {
                   MakeOld(kIni, 0644, u);
                   ASSERT_EQ(link(kIni.c_str(), "copy.ini"), 0);
                 },
                 false, kIni, Outcome::kRewrittenInPlace},
        SaveCase{"DiskFullWhileWriting", [](const ChildUser& u) { MakeOld(kIni, 0644, u); }, false, kIni,
                 Outcome::kLeftAlone,
                 [] {
                   signal(SIGXFSZ, SIG_IGN);
                   const rlimit limit{8, 8};  // bytes a file may grow to
                   setrlimit(RLIMIT_FSIZE, &limit);
                 }}),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.name); });

// A name that is no regular file is neither waited on nor read nor replaced.
struct OddFileCase {
  const char* name;
  std::function<void()> make;
};

std::ostream& operator<<(std::ostream& os, const OddFileCase& c) { return os << c.name; }

class SettingsFileOddFile : public ::testing::TestWithParam<OddFileCase> {
 protected:
  TempWorkingDir dir_;
};

TEST_P(SettingsFileOddFile, EmptyStoreAndLeftAlone) {
  GetParam().make();
  const std::set<std::string> listing = Listing();
  const struct stat before = LinkStat(kIni);
  const int status = RunInChild(
      [] {
        SettingsFile file;
        file.Load("ピョコラン");
        if (file.entry_count() != 0) return 1;
        ExperimentSettings settings;
        StoreSettings(file, settings);
        file.Save();
        return 0;
      },
      std::chrono::seconds(5));
  EXPECT_EQ(status, 0) << "-1: blocked or read for good";
  EXPECT_EQ(LinkStat(kIni).st_mode, before.st_mode);
  EXPECT_EQ(Listing(), listing);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileOddFile,
    ::testing::Values(OddFileCase{"Fifo", [] { ASSERT_EQ(mkfifo(kIni.c_str(), 0644), 0); }},
                      OddFileCase{"LinkToFifo",
                                  [] {
                                    ASSERT_EQ(mkfifo("pipe", 0644), 0);
                                    ASSERT_EQ(symlink("pipe", kIni.c_str()), 0);
                                  }},
                      OddFileCase{"Folder", [] { ASSERT_EQ(mkdir(kIni.c_str(), 0755), 0); }},
                      OddFileCase{"LinkToEndlessDevice",
                                  [] { ASSERT_EQ(symlink("/dev/zero", kIni.c_str()), 0); }}),
    [](const ::testing::TestParamInfo<OddFileCase>& info) { return std::string(info.param.name); });

// A kill at any point of a save leaves the settings file whole and one temporary file at most,
// which the next save removes.
TEST_F(SettingsFileOnDisk, KilledSavesLeaveOneTemporaryFileAtMost) {
  Write(kIni, kOldBytes);
  std::mt19937 random(3);
  for (int i = 0; i < 30; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      SettingsFile file;
      file.Load("ピョコラン");
      file.SetString("subject", "new");
      for (;;) file.Save();
    }
    usleep(useconds_t(500 + random() % 3000));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  std::set<std::string> listing = Listing();
  EXPECT_LE(listing.size(), 2u);
  EXPECT_TRUE(listing.count("./" + kIni));
  const std::string bytes = Read(kIni);
  EXPECT_TRUE(bytes == kOldBytes || bytes == kNewBytes) << bytes;

  LoadChangeSave();
  EXPECT_EQ(Listing(), std::set<std::string>{"./" + kIni});
}

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

// A save that must rewrite the file in place (it has a second hard link) is killed when the
// files it writes reach kill_at bytes (the file size limit stops it there, as a kill or a
// power cut would). The next start reads the old settings, never a cut file, and its save
// leaves no copy behind.
struct InPlaceKillCase {
  const char* name;
  size_t kill_at;
  friend std::ostream& operator<<(std::ostream& os, const InPlaceKillCase& c) { return os << c.name; }
};

class SettingsFileInPlaceKill : public ::testing::TestWithParam<InPlaceKillCase> {
 protected:
  TempWorkingDir dir_;
};

const std::string kTenOld =
    "subject = old\r\nn_holes = 12\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\nduration = 2000\r\n"
    "isi1 = 1000\r\nisi2 = 3000\r\ntime_limit = 60\r\nrandom_seed = 0\r\nflag_ordered = 1\r\n";
const std::string kLongSubject = "a subject longer than the old one";

TEST_P(SettingsFileInPlaceKill, NextStartReadsTheOldSettings) {
  TempWorkingDir::Write(kIni, kTenOld);
  ASSERT_EQ(link(kIni.c_str(), "copy.ini"), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit none{0, 0}, size{GetParam().kill_at, GetParam().kill_at};
    setrlimit(RLIMIT_CORE, &none);
    signal(SIGXFSZ, SIG_DFL);
    SettingsFile file;
    file.Load("ピョコラン");
    file.SetString("subject", kLongSubject);
    setrlimit(RLIMIT_FSIZE, &size);
    file.Save();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the save was not cut short";

  SettingsFile file;
  file.Load("ピョコラン");
  EXPECT_EQ(file.Serialise(), kTenOld);
  file.SetString("subject", kLongSubject);
  file.Save();
  EXPECT_EQ(TempWorkingDir::Read(kIni), file.Serialise());
  EXPECT_EQ(TempWorkingDir::Read("copy.ini"), file.Serialise());
  EXPECT_FALSE(std::filesystem::exists(kIni + ".bak"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFileInPlaceKill,
    ::testing::Values(InPlaceKillCase{"WhileCopying", 20},
                      InPlaceKillCase{"InTheFirstLine", kTenOld.size()},
                      // The new text's ninth line ends at byte 168, its last at 186.
                      InPlaceKillCase{"AtALineEnd", 168},
                      InPlaceKillCase{"InTheLastLine", 180},
                      InPlaceKillCase{"BeforeTheLastLineEnd", 185}),
    [](const auto& info) { return std::string(info.param.name); });

// What the file and a copy left beside it by an in-place save give at the next start.
TEST(SettingsFileBackup, TakenWhenTheFileIsEmptyOrCut) {
  const std::string kNewText = "subject = new\r\n" + kTenOld.substr(15);
  const struct {
    const char* name;
    std::string file;  // "<missing>": no file
    std::string subject;
  } rows[] = {
      {"empty", "", "old"},
      {"missing", "<missing>", "old"},
      {"cut_in_a_line", kNewText.substr(0, 40), "old"},
      {"cut_at_a_line_end", kNewText.substr(0, 15 + 14), "old"},
      {"whole_new_text", kNewText, "new"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempWorkingDir dir;
    if (row.file != "<missing>") TempWorkingDir::Write(kIni, row.file);
    TempWorkingDir::Write(kIni + ".bak", kTenOld);
    SettingsFile file;
    file.Load("ピョコラン");
    std::string subject;
    EXPECT_EQ(file.GetString("subject", subject), 1);
    EXPECT_EQ(subject, row.subject);
    EXPECT_EQ(file.restored_from_backup(), row.subject == "old");
    EXPECT_EQ(file.entry_count(), 10);
  }
}

}  // namespace
}  // namespace pyokoran
