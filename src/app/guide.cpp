#include "app/guide.h"

#include <filesystem>
#include <system_error>

#include "platform/utf8_path.h"

namespace pyokoran {

std::vector<std::string> FindGuidePages(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::vector<std::string> pages;
    for (const char* page : kGuidePages) {
      const std::filesystem::path path = PathFromUtf8(folder) / page;
      std::error_code error;
      if (std::filesystem::is_regular_file(path, error)) pages.push_back(Utf8FromPath(path));
    }
    if (!pages.empty()) return pages;
  }
  return {};
}

}  // namespace pyokoran
