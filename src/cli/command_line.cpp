#include "cli/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "app/working_folder.h"
#include "cli/build_version.h"
#include "platform/number_text.h"
#include "timing/present_mode.h"

namespace pyokoran {

bool OptionValues::IsSet(const std::string& name) const {
  const auto it = index_.find(name);
  return it != index_.end() && set_[it->second];
}

std::string OptionValues::Value(const std::string& name) const {
  const auto it = index_.find(name);
  if (it == index_.end() || values_[it->second].empty()) return {};
  return values_[it->second].back();
}

std::vector<std::string> OptionValues::Values(const std::string& name) const {
  const auto it = index_.find(name);
  return it == index_.end() ? std::vector<std::string>() : values_[it->second];
}

// Reads arguments against a list of options: "--name", "--name=value", "--name value", the
// same with one dash, "--" before arguments that are never options, "-" as an argument.
class CommandLineParser {
 public:
  explicit CommandLineParser(const std::vector<CommandOption>& options) : options_(options) {
    values_ = std::make_shared<OptionValues>();
    values_->values_.resize(options.size());
    values_->set_.resize(options.size());
    for (size_t i = 0; i < options.size(); ++i)
      for (const std::string& name : options[i].names) values_->index_.emplace(name, i);
  }

  // False with error() when an option is unknown or lacks or has a value it should not.
  bool Parse(const std::vector<std::string>& arguments) {
    bool only_arguments = false, ok = true;
    for (size_t i = 1; i < arguments.size(); ++i) {
      const std::string& argument = arguments[i];
      if (only_arguments || argument.size() < 2 || argument[0] != '-') {
        positional_.push_back(argument);
        continue;
      }
      if (argument == "--") {
        only_arguments = true;
        continue;
      }
      const size_t dashes = argument[1] == '-' ? 2 : 1;
      const std::string name = argument.substr(dashes, argument.find('=') - dashes);
      const auto it = values_->index_.find(name);
      if (it == values_->index_.end()) {
        unknown_.push_back(name);
        ok = false;
        continue;
      }
      const size_t option = it->second;
      values_->set_[option] = true;
      const size_t equals = argument.find('=');
      if (!options_[option].value_name.empty()) {
        if (equals != std::string::npos) {
          values_->values_[option].push_back(argument.substr(equals + 1));
        } else if (i + 1 < arguments.size()) {
          values_->values_[option].push_back(arguments[++i]);
        } else {
          error_ = "Missing value after '" + argument + "'.";
          ok = false;
        }
      } else if (equals != std::string::npos) {
        error_ = "Unexpected value after '" + argument.substr(0, equals) + "'.";
        ok = false;
      }
    }
    return ok;
  }

  // The last problem with a value, else the unknown options.
  std::string error() const {
    if (!error_.empty()) return error_;
    if (unknown_.size() == 1) return "Unknown option '" + unknown_.front() + "'.";
    std::string names;
    for (const std::string& name : unknown_) names += (names.empty() ? "" : ", ") + name;
    return "Unknown options: " + names + ".";
  }

  std::shared_ptr<OptionValues> values() const { return values_; }
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  const std::vector<CommandOption>& options_;
  std::shared_ptr<OptionValues> values_;
  std::vector<std::string> positional_, unknown_;
  std::string error_;
};

namespace {

const char kDescription[] =
    "ピョコラン: a reaction-time experiment. Creatures rise out of holes; the participant\n"
    "strikes the targets and leaves the distractors alone. Without options the\n"
    "program opens its main window; the conditions, the result files and stim/ are\n"
    "in the working folder, the current folder unless --folder gives another.";

std::string TryHelp() { return "Try 'pyokoran --help' for the options.\n"; }

CommandLine Failure(const std::string& message) {
  CommandLine result;
  result.action = CommandAction::Fail;
  result.exit_status = kUsageExitStatus;
  result.text = "pyokoran: " + message + "\n" + TryHelp();
  return result;
}

// UTF-8 as characters; a byte that starts no character stands for itself.
std::u32string Characters(const std::string& text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    char32_t value = length == 1 ? c : c & (0x3F >> (length - 1));
    bool whole = i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      whole = (next & 0xC0) == 0x80;
      value = (value << 6) | (next & 0x3F);
    }
    if (!whole) {
      out.push_back(c);
      ++i;
    } else {
      out.push_back(value);
      i += length;
    }
  }
  return out;
}

std::string Utf8(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool IsSpace(char32_t c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85 || c == 0xA0 || c == 0x3000; }

std::string NamesOf(const CommandOption& option) {
  std::string names;
  for (const std::string& name : option.names)
    names += (names.empty() ? "" : ", ") + std::string(name.size() == 1 ? "-" : "--") + name;
  if (!option.value_name.empty()) names += " <" + option.value_name + ">";
  return names;
}

}  // namespace

std::string HelpEntry(const std::string& names, size_t name_width, const std::string& description) {
  const std::u32string all_names = Characters(names), text = Characters(description);
  size_t name_index = 0;
  // The next piece of the names, padded to the column's width.
  // Names go on at least a character a line, whatever the column's width.
  if (!all_names.empty()) name_width = std::max<size_t>(name_width, 1);
  auto next_names = [&](bool pad) {
    std::u32string piece = all_names.substr(std::min(name_index, all_names.size()), name_width);
    name_index += piece.size();
    if (pad && piece.size() < name_width) piece.append(name_width - piece.size(), U' ');
    return Utf8(piece);
  };
  std::string out;
  const long max = std::max(1L, 79 - long(2 + name_width + 1));  // characters of description per line
  const long length = long(text.size());
  for (long start = 0; start < length;) {
    // As many characters as fit, up to a line feed.
    long end = start, last_space = -1;
    while (end < length && end - start < max && text[size_t(end)] != U'\n') {
      if (IsSpace(text[size_t(end)])) last_space = end;
      ++end;
    }
    long break_at = end, next = end;
    const bool line_feed = end < length && text[size_t(end)] == U'\n';
    if (line_feed || (end < length && IsSpace(text[size_t(end)]))) {
      next = end + 1;  // at the line feed, or at the space just past a full line
    } else if (end < length && last_space > start) {
      break_at = last_space;  // full: at the last space
      next = last_space + 1;
    }  // else the end, or a word longer than the line, cut
    out += "  " + next_names(true) + " " + Utf8(text.substr(size_t(start), size_t(break_at - start))) + "\n";
    start = next;
    if (!line_feed && start < length && text[size_t(start)] == U' ') ++start;  // no line starts with a space
  }
  while (name_index < all_names.size()) out += "  " + next_names(false) + "\n";
  return out;
}

namespace {

std::string_view Trimmed(const std::string& text) {
  std::string_view view = text;
  while (!view.empty() && (view.front() == ' ' || view.front() == '\t')) view.remove_prefix(1);
  while (!view.empty() && (view.back() == ' ' || view.back() == '\t')) view.remove_suffix(1);
  if (view.size() > 1 && view.front() == '+' && view[1] != '-' && view[1] != '+') view.remove_prefix(1);
  return view;
}

}  // namespace

bool ParseWholeNumber(const std::string& text, long long& value) {
  const std::string_view view = Trimmed(text);
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  return !view.empty() && error == std::errc() && end == view.data() + view.size();
}

bool ParseDecimalNumber(const std::string& text, double& value) {
  const std::string_view view = Trimmed(text);
  const auto [end, error] = DecimalFromChars(view.data(), view.data() + view.size(), value);
  return !view.empty() && error == std::errc() && end == view.data() + view.size() &&
         std::isfinite(value);
}

std::vector<std::string> ArgumentList(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const SystemCommands& system,
                             const std::vector<CommandMode>& modes,
                             const std::string& documents_folder) {
  const CommandOption help{{"h", "help"}, "Show these options and end.", ""};
  const CommandOption version{{"version"}, "Show the version and end.", ""};
  const CommandOption folder{
      {"folder"}, "Use DIR as the working folder (it must exist and be writable).", "DIR"};
  const CommandOption documents{
      {"documents"},
      "Use the " + system.launcher + "'s working folder (above), making it first if need be.",
      ""};
  const CommandOption present{{"present"}, system.present_help, "MODE"};
  std::vector<CommandOption> options{help, version, folder, documents, present};
  // Modes may share an option (the same name): it is added once and goes with each of them.
  std::vector<const CommandMode*> with_arguments;
  for (const CommandMode& mode : modes) {
    for (const CommandOption& option : mode.options) {
      const bool added = std::any_of(options.begin(), options.end(), [&](const CommandOption& o) {
        return o.names.front() == option.names.front();
      });
      if (!added) options.push_back(option);
    }
    if (mode.max_arguments > 0) with_arguments.push_back(&mode);
  }

  CommandLineParser parser(options);
  if (!parser.Parse(arguments)) return Failure(parser.error());
  const OptionValues& values = *parser.values();

  CommandLine result;
  result.options = parser.values();
  result.arguments = parser.positional();
  if (values.IsSet("help")) {
    result.action = CommandAction::PrintHelp;
    std::string usage = "pyokoran [options]";
    for (const CommandMode* mode : with_arguments) usage += " " + mode->argument_syntax;
    result.text = "Usage: " + usage + "\n" + kDescription + "\n\nStarted from the " + system.launcher +
                  " (--documents) it uses\n  " + documents_folder +
                  "\nmade with a copy of the sample stimuli the first time.\n\nOptions:\n";
    size_t width = 0;
    for (const CommandOption& option : options) width = std::max(width, Characters(NamesOf(option)).size());
    width = std::min<size_t>(50, width + 1);
    for (const CommandOption& option : options)
      result.text += HelpEntry(NamesOf(option), width, option.description);
    if (!with_arguments.empty()) {
      result.text += "\nArguments:\n";
      for (const CommandMode* mode : with_arguments)
        result.text += HelpEntry(mode->argument_name, width, mode->argument_description);
    }
    return result;
  }
  if (values.IsSet("version")) {
    result.action = CommandAction::PrintVersion;
    result.text = "pyokoran " + VersionText() + "\n";
    return result;
  }

  // At most one mode; an option that belongs to a mode only with that mode.
  for (const CommandMode& mode : modes) {
    if (!values.IsSet(mode.options.front().names.front())) continue;
    if (result.mode) {
      return Failure(result.mode->options.front().flag() + " and " + mode.options.front().flag() +
                     " cannot be used together.");
    }
    result.mode = &mode;
  }
  for (const CommandMode& mode : modes) {
    if (&mode == result.mode) continue;
    for (size_t i = 1; i < mode.options.size(); ++i) {
      const bool shared = result.mode && std::any_of(result.mode->options.begin(), result.mode->options.end(),
                                                     [&](const CommandOption& o) {
                                                       return o.names == mode.options[i].names;
                                                     });
      if (!shared && values.IsSet(mode.options[i].names.front())) {
        return Failure(mode.options[i].flag() + " only goes with " + mode.options.front().flag() + ".");
      }
    }
  }
  const size_t max_arguments = result.mode ? size_t(result.mode->max_arguments) : 0;
  if (result.arguments.size() > max_arguments) {
    return Failure("unexpected argument '" + result.arguments[max_arguments] + "'.");
  }

  if (values.IsSet("folder") && values.IsSet("documents")) {
    return Failure("--folder and --documents cannot be used together.");
  }
  if (values.IsSet("documents")) {
    result.folder = documents_folder;
    result.documents = true;
  }
  if (values.IsSet("folder")) {
    result.folder = values.Value("folder");
    const std::string problem = WorkingFolderProblem(result.folder);
    if (!problem.empty()) return Failure("the folder '" + result.folder + "' " + problem + ".");
  }
  if (values.IsSet("present")) {
    result.present = values.Value("present");
    if (ParseForcedMode(result.present.c_str()) == ForcedMode::None) {
      return Failure("--present takes locked or fallback, not '" + result.present + "'.");
    }
  } else if (const char* variable = std::getenv(kPresentModeVariable);
             variable && *variable && ParseForcedMode(variable) == ForcedMode::None) {
    // The variable forces the same as the option: a value the option would refuse is refused.
    return Failure(std::string(kPresentModeVariable) + " takes locked or fallback, not '" +
                   variable + "'.");
  }
  if (result.mode && result.mode->check) {
    const std::string problem = result.mode->check(values);
    if (!problem.empty()) return Failure(problem);
  }
  result.action = result.mode ? CommandAction::RunMode : CommandAction::OpenProgram;
  return result;
}

}  // namespace pyokoran
