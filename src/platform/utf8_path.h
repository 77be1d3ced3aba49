// File names are UTF-8 strings throughout the program; std::filesystem takes them in the
// system's own terms (bytes here, UTF-16 on Windows, where a plain std::string would be read
// in the ANSI code page). These two cross that border the same way on every system.
#pragma once

#include <filesystem>
#include <string>

namespace pyokoran {

inline std::filesystem::path PathFromUtf8(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace pyokoran
