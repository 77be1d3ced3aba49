#include "results/subject_id.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/cp932.h"

namespace pyokoran {
namespace {

// Names Windows keeps for devices, with or without an extension.
bool IsReservedDeviceName(std::string_view base) {
  std::string upper(base);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  // Blanks before the extension do not make a name of its own.
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (upper == name) return true;
  }
  if (upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
    const std::string_view digit = std::string_view(upper).substr(3);
    if (digit.size() == 1 && std::isdigit(static_cast<unsigned char>(digit[0]))) return true;
    if (digit == "\u00B9" || digit == "\u00B2" || digit == "\u00B3") return true;
  }
  return false;
}

// True when text ends with suffix, ASCII letters in any case (as Windows compares names).
bool EndsWithAnyCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  }
  return true;
}

// What "<name>.csv" would be besides a subject's appearance file: another subject's timing
// or frames file, or one of the files the program writes under its own name (the report,
// the trial file and whatever else it names "ピョコラン_..."). Empty when nothing.
std::string OtherFileNamed(const std::string& name) {
  for (const char* kind : {"_timing", "_frames"}) {
    if (EndsWithAnyCase(name, kind)) {
      return "被験者「" + name.substr(0, name.size() - 7) + "」の" +
             (kind[1] == 't' ? "タイミング記録" : "フレーム記録");
    }
  }
  if (name.rfind("ピョコラン_", 0) == 0) return "プログラムが書くファイル（レポートなど）";
  return {};
}

}  // namespace

bool SubjectNamesOnlyAFile(const std::string& subject) {
  std::string name;
  Cp932ToUtf8(subject, name);
  for (char c : name) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return false;
  }
  if (name.find_first_of("/\\:*?\"<>|") != std::string::npos) return false;
  return !IsReservedDeviceName(std::string_view(name).substr(0, name.find('.')));
}

std::string SubjectIdProblem(const std::string& subject) {
  // Code page 932 has no control byte inside a double-byte character.
  for (char c : subject) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      return "Subject ID に改行・タブなどの制御文字は使えません。\n"
             "表示されている文字だけを入力してください。";
    }
  }
  // Bytes that are not code page 932 name the files as they are (the result files keep
  // them too); the rest is judged on the text with each of them as U+FFFD.
  std::string name;
  Cp932ToUtf8(subject, name);
  if (name.size() > kMaxSubjectFileBytes) {
    return "Subject ID が長すぎて結果のファイル名にできません。\n" +
           std::to_string(kMaxSubjectFileBytes) + " バイト（UTF-8）以内にしてください。";
  }
  const std::string file = name + ".csv";
  const std::string head = "Subject ID「" + name + "」では結果のファイル[" + file + "]を作れません。\n";
  if (name.find_first_of("/\\:*?\"<>|") != std::string::npos) {
    return head + "ファイル名に使えない文字 / \\ : * ? \" < > | を除いてください。";
  }
  if (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
    return head + "末尾の空白やピリオドを除いてください。";
  }
  if (IsReservedDeviceName(std::string_view(name).substr(0, name.find('.')))) {
    return head + "CON、PRN、AUX、NUL、COM1～9、LPT1～9 は Windows の装置の名前です。";
  }
  if (const std::string other = OtherFileNamed(name); !other.empty()) {
    return "Subject ID「" + name + "」の結果のファイル[" + file + "]は" + other +
           "と同じ名前になります。\n別の ID にしてください。";
  }
  return {};
}

}  // namespace pyokoran
