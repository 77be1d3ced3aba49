#include "app/message_text.h"

namespace pyokoran {

std::string NamingFile(const std::string& before, const std::string& name, const std::string& after) {
  std::string text = before;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += name;
  if (!after.empty()) text += (after.front() == '\n' ? "" : "\n") + after;
  return text;
}

bool IsFileNameLine(const std::string& line) {
  if (line.empty() || line.find_first_of("\r\n") != std::string::npos) return false;
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const bool drive = line.size() >= 3 && letter(line[0]) && line[1] == ':' && (line[2] == '\\' || line[2] == '/');
  return line[0] == '/' || line.rfind("\\\\", 0) == 0 || drive;
}

}  // namespace pyokoran
