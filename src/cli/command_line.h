// The program's command line, the same on both systems. Without options the program opens
// its main window in the current folder. --help and --version answer on stdout and end (no
// display needed); --folder DIR chooses the working folder, --documents the launcher's one
// (ピョコラン in the user's documents, made on first use); --present MODE forces how frames
// reach the screen. A mode (registered in command_modes.cpp) does one job instead of opening
// the main window and ends with its own exit status.
//
// Options are GNU-style long options: "--name value", "--name=value", or with one dash
// ("-name"); "-h" is --help; "--" ends the options. Parsing prints nothing and touches only
// the folder it checks, so tests call it directly.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pyokoran {

// Exit status for a command line the program cannot follow.
inline constexpr int kUsageExitStatus = 2;

// One option: its names (a one-letter name is written with one dash), what --help says of
// it, and the name of its value (empty for an option without a value).
struct CommandOption {
  std::vector<std::string> names;
  std::string description;
  std::string value_name;
  // The name messages use ("--out").
  std::string flag() const { return "--" + names.back(); }
};

// The options found on a command line.
class OptionValues {
 public:
  // Whether the option called name was given.
  bool IsSet(const std::string& name) const;
  // Its value (the last one when given more than once); empty when not given.
  std::string Value(const std::string& name) const;
  // Every value it was given, in order.
  std::vector<std::string> Values(const std::string& name) const;

 private:
  friend class CommandLineParser;
  std::map<std::string, size_t> index_;       // every name of every option
  std::vector<std::vector<std::string>> values_;  // per option, in the order given
  std::vector<bool> set_;
};

struct ModeRun;

// One command-line mode. A mode lives in a file of its own (cli/<name>_mode.cpp) with a
// function that returns its description, listed in CommandModes().
struct CommandMode {
  // The mode's options: the first one asks for the mode, the others only go with it.
  std::vector<CommandOption> options;
  // Positional arguments it takes, at most; with their name, description and syntax for --help.
  int max_arguments = 0;
  std::string argument_name, argument_description, argument_syntax;
  // Further checks of the values once parsed: an error message, empty when they pass. May be null.
  std::string (*check)(const OptionValues& options) = nullptr;
  // Does the job; returns the process's exit status. Messages go to stdout and stderr.
  int (*run)(const ModeRun& run) = nullptr;
};

// What a mode is run with.
struct ModeRun {
  const OptionValues& options;         // the mode's option values
  std::vector<std::string> arguments;  // its positional arguments
  std::string folder;                  // --folder's or --documents' folder, empty when neither
  std::string present;                 // --present's mode, empty when not given
  int& argc;                           // for a mode that needs the system's application object
  char** argv;
};

// What the command line says differently on each system.
struct SystemCommands {
  std::string launcher;      // what starts the program in --documents' folder ("desktop menu")
  std::string present_help;  // --present's description: what locked and fallback are here
  bool report_pdf = false;   // --report writes a PDF besides the CSV and the HTML
  int (*report)(const ModeRun&) = nullptr;        // --report's job
  int (*check_timing)(const ModeRun&) = nullptr;  // --check-timing's job
};

// Every mode the program has, in the order --help lists them, with the system's jobs.
std::vector<CommandMode> CommandModes(const SystemCommands& system);

enum class CommandAction {
  OpenProgram,   // the main window, in `folder` (or the current folder)
  PrintHelp,     // `text` to stdout, exit status 0
  PrintVersion,  // `text` to stdout, exit status 0
  Fail,          // `text` to stderr, exit status `exit_status`
  RunMode,       // `mode->run`
};

struct CommandLine {
  CommandAction action = CommandAction::OpenProgram;
  std::string text;
  int exit_status = 0;
  std::string folder;                  // --folder (checked) or --documents; empty when neither
  bool documents = false;              // --documents: folder may need making first
  std::string present;                 // --present: "locked" or "fallback"; empty when not given
  const CommandMode* mode = nullptr;   // RunMode: points into the modes parsed with
  std::vector<std::string> arguments;  // positional arguments
  std::shared_ptr<OptionValues> options;
};

// Parses arguments (UTF-8, the program's name first, as in argv) against the built-in
// options and modes, which must outlive the result. A --folder that does not exist or
// cannot be written fails here, before any window opens. documents_folder: what
// --documents uses.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const SystemCommands& system,
                             const std::vector<CommandMode>& modes,
                             const std::string& documents_folder);

// One entry of --help: the names in a column name_width characters wide (longer names go on
// over the next lines), the description wrapped beside it at spaces (or anywhere in a word too
// long) so that no line passes 79 characters; a newline in it breaks the line. Widths count
// characters, not bytes.
std::string HelpEntry(const std::string& names, size_t name_width, const std::string& description);

// An option's value as a whole number (optional sign, decimal digits) or as a finite decimal
// number (a point, an exponent), whatever the locale; spaces around it are ignored. False
// when the text is not one.
bool ParseWholeNumber(const std::string& text, long long& value);
bool ParseDecimalNumber(const std::string& text, double& value);

// argv as strings.
std::vector<std::string> ArgumentList(int argc, char** argv);

}  // namespace pyokoran
