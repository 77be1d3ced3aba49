// The command line: arguments cut from the input at NUL bytes are parsed against every mode
// the program has, never run; and --help's wrapper lays out a name and a description from
// the input. Properties: the parse answers with a text for help, version and failures; no
// line of a help entry passes 79 characters; no letter or digit of plain ASCII text is lost.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "fuzz_support.h"

using namespace pyokoran;

namespace {

size_t Characters(std::string_view line) {
  size_t n = 0;
  for (unsigned char c : line) n += (c & 0xC0) != 0x80;
  return n;
}

size_t LettersAndDigits(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  return n;
}

bool PlainAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c != '\n' && (c < 0x20 || c > 0x7E)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments{"pyokoran"};
  for (size_t start = 0; start <= input.size() && arguments.size() < 64;) {
    const size_t end = std::min(input.find('\0', start), input.size());
    arguments.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  SystemCommands system;
  system.launcher = "desktop menu";
  system.present_help = "Present frames in MODE.";
  system.report_pdf = (size & 1) != 0;
  const std::vector<CommandMode> modes = CommandModes(system);
  const CommandLine line = ParseCommandLine(arguments, system, modes, "/nonexistent/documents");
  if ((line.action == CommandAction::PrintHelp || line.action == CommandAction::Fail) && line.text.empty())
    fuzz::PropertyFailed("help and failures say something", "text", "");
  if (line.action == CommandAction::RunMode && (!line.mode || !line.options)) std::abort();

  // A help entry: the first argument's bytes as the names, the rest as the description.
  if (arguments.size() < 3) return 0;
  const std::string& names = arguments[1];
  const std::string& description = arguments[2];
  const size_t width = names.empty() ? 0 : static_cast<unsigned char>(names[0]) % 40;
  const std::string entry = HelpEntry(names, width, description);
  for (size_t start = 0; start < entry.size();) {
    const size_t end = std::min(entry.find('\n', start), entry.size());
    if (Characters(std::string_view(entry).substr(start, end - start)) > 79)
      fuzz::PropertyFailed("help lines within 79 characters", "<= 79", entry.substr(start, end - start));
    start = end + 1;
  }
  if (PlainAscii(names) && PlainAscii(description) &&
      LettersAndDigits(entry) != LettersAndDigits(names) + LettersAndDigits(description))
    fuzz::PropertyFailed("every letter and digit kept", names + "|" + description, entry);
  return 0;
}
