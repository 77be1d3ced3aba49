// The program's command line. Without options the program opens its main window in the
// current folder. --help and --version answer on stdout and end (no display needed);
// --folder DIR chooses the working folder, --documents the desktop menu's one (ピョコラン in
// the user's documents, made on first use); --present MODE forces how frames reach the
// screen (as the PYOKORAN_PRESENT variable does). A mode (registered in command_modes.cpp) does
// one job instead of opening the main window and ends with its own exit status.
//
// Parsing prints nothing and touches only the folder it checks, so tests call it directly.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace pyokoran {

// Exit status for a command line the program cannot follow.
inline constexpr int kUsageExitStatus = 2;

struct ModeRun;

// One command-line mode. A mode lives in a file of its own (cli/<name>_mode.cpp) with a
// function that returns its description, listed in CommandModes().
struct CommandMode {
  // The mode's options: the first one asks for the mode, the others only go with it.
  QList<QCommandLineOption> options;
  // Positional arguments it takes, at most; with their name, description and syntax for --help.
  int max_arguments = 0;
  QString argument_name, argument_description, argument_syntax;
  // Further checks of the values once parsed: an error message, empty when they pass. May be null.
  std::string (*check)(const QCommandLineParser& parser) = nullptr;
  // Does the job; returns the process's exit status. Messages go to stdout and stderr.
  int (*run)(const ModeRun& run) = nullptr;
};

// What a mode is run with.
struct ModeRun {
  const QCommandLineParser& parser;  // the mode's option values
  QStringList arguments;             // its positional arguments
  std::string folder;                // --folder's value, empty when not given
  int& argc;                         // for a mode that needs a QApplication
  char** argv;
};

// Every mode the program has, in the order --help lists them.
std::vector<CommandMode> CommandModes();

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
  QStringList arguments;               // positional arguments
  std::shared_ptr<QCommandLineParser> parser;
};

// Parses arguments (the program's name first, as in argv) against the built-in options and
// modes, which must outlive the result. A --folder that does not exist or cannot be
// written fails here, before any window opens. documents_folder: what --documents uses
// (empty: found from the environment, as DocumentsWorkingFolder does).
CommandLine ParseCommandLine(const QStringList& arguments, const std::vector<CommandMode>& modes,
                             const std::string& documents_folder = {});

// argv as Qt strings (UTF-8).
QStringList ArgumentList(int argc, char** argv);

}  // namespace pyokoran
