#include "results/rescued_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "platform/utf8_path.h"

namespace pyokoran {
namespace {

constexpr const char* kMagic = "pyokoran rescued run 1";
constexpr const char* kSuffix = ".rescued.txt";
// A rescue file holds one run: its longest rows, a few MiB, many times over is plenty.
constexpr int64_t kMaxRescueBytes = int64_t(256) << 20;

// The next line of bytes from at (without its CR LF); false at the end or without CR LF.
bool NextLine(const std::string& bytes, size_t& at, std::string& line) {
  const size_t end = bytes.find("\r\n", at);
  if (end == std::string::npos) return false;
  line.assign(bytes, at, end - at);
  at = end + 2;
  return true;
}

bool ToSize(const std::string& text, size_t& value) {
  if (text.empty() || text.size() > 12 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  value = size_t(std::strtoull(text.c_str(), nullptr, 10));
  return true;
}

bool WriteAll(int fd, const std::string& bytes) { return WriteAllAt(fd, bytes.data(), bytes.size(), 0); }

// A whole regular file of at most kMaxRescueBytes.
bool ReadWhole(const std::string& path, std::string& bytes) {
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  FileStatus info;
  bool ok = StatusOf(fd, info) && info.size <= kMaxRescueBytes;
  if (ok) {
    bytes.resize(size_t(info.size));
    ok = ReadAt(fd, bytes.data(), bytes.size(), 0) == info.size;
  }
  close(fd);
  return ok;
}

}  // namespace

std::string RescueFolderIn(const std::string& user_data_folder) {
  if (user_data_folder.empty()) return {};
  const std::string folder = user_data_folder + "/rescued";
  std::error_code ec;
  std::filesystem::create_directories(PathFromUtf8(folder), ec);
  return KindOfPath(folder, true) == PathKind::kDirectory ? folder : std::string();
}

// A text header, then each part's bytes as they go to disk, then an end line: a file cut
// short has no end line and is not taken.
std::string RescuedRunBytes(const std::string& working_folder, const std::vector<FilePart>& parts) {
  std::string out = std::string(kMagic) + "\r\nfolder\t" + working_folder + "\r\n";
  for (const FilePart& part : parts) {
    out += "file\t" + part.name + "\t" + std::to_string(part.header.size()) + "\t" +
           std::to_string(part.text.size()) + "\r\n" + part.header + part.text + "\r\n";
  }
  return out + "end\r\n";
}

bool ParseRescuedRun(const std::string& bytes, RescuedRun& run) {
  run.parts.clear();
  size_t at = 0;
  std::string line;
  if (!NextLine(bytes, at, line) || line != kMagic) return false;
  if (!NextLine(bytes, at, line) || line.rfind("folder\t", 0) != 0) return false;
  run.folder = line.substr(7);
  while (NextLine(bytes, at, line)) {
    if (line == "end") return at == bytes.size();
    if (line.rfind("file\t", 0) != 0) return false;
    const size_t tab2 = line.find('\t', 5), tab3 = line.find('\t', tab2 + 1);
    size_t header = 0, text = 0;
    if (tab2 == std::string::npos || tab3 == std::string::npos ||
        !ToSize(line.substr(tab2 + 1, tab3 - tab2 - 1), header) ||
        !ToSize(line.substr(tab3 + 1), text) || header > bytes.size() - at ||
        text > bytes.size() - at - header || bytes.compare(at + header + text, 2, "\r\n") != 0) {
      return false;
    }
    FilePart part;
    part.name = line.substr(5, tab2 - 5);
    part.header = bytes.substr(at, header);
    part.text = bytes.substr(at + header, text);
    run.parts.push_back(std::move(part));
    at += header + text + 2;
  }
  return false;
}

std::string SaveRescuedRun(const std::string& rescue_folder, const std::string& working_folder,
                           const std::vector<FilePart>& parts, const std::string& label) {
  if (rescue_folder.empty()) return {};
  const std::string bytes = RescuedRunBytes(working_folder, parts);
  const std::string stem = rescue_folder + "/" + label + "-" + std::to_string(ProcessId());
  for (int n = 0; n < 1000; ++n) {
    const std::string path = stem + (n > 0 ? "-" + std::to_string(n) : "") + kSuffix;
    const int fd = CreateNewFile(path, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    const bool ok = WriteAll(fd, bytes) && FlushToDisk(fd);
    if (close(fd) != 0 || !ok) {
      RemoveFile(path);
      return {};
    }
    FlushFolder(rescue_folder);
    return path;
  }
  return {};
}

std::vector<RescuedRun> FindRescuedRuns(const std::string& rescue_folder,
                                        const std::string& working_folder) {
  std::vector<RescuedRun> runs;
  if (rescue_folder.empty()) return runs;
  std::error_code ec;
  std::vector<std::string> paths;
  for (std::filesystem::directory_iterator it(PathFromUtf8(rescue_folder), ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (name.size() > std::string(kSuffix).size() &&
        name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) == 0) {
      paths.push_back(rescue_folder + "/" + name);
    }
  }
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) {
    std::string bytes;
    RescuedRun run;
    if (ReadWhole(path, bytes) && ParseRescuedRun(bytes, run) &&
        run.folder == working_folder) {
      run.path = path;
      runs.push_back(std::move(run));
    }
  }
  return runs;
}

std::string RescuedMessage(const std::string& path) {
  return "今回の結果は作業フォルダーに書き込めなかったため、次のファイルに保存しました。\n[" + path +
         "]\n次にこの作業フォルダーで結果を書き込むときに、自動的にデータファイルへ追加します。";
}

std::string NotRescuedMessage() {
  return "今回の結果は作業フォルダーにも、このコンピューターの保存用フォルダーにも書き込めませんでした。"
         "この回の結果は残っていません。";
}

std::string PutInPlaceMessage(const std::string& path) {
  return "以前に書き込めなかった結果を、作業フォルダーのデータファイルに追加しました。\n[" + path +
         "]\nこのファイルは削除しました。";
}

std::string StillRescuedMessage(const std::string& path) {
  return "以前に書き込めなかった結果は、まだ作業フォルダーに追加できていません。\n[" + path +
         "]\n次に結果を書き込むときに、もう一度試します。";
}

}  // namespace pyokoran
