#include "cli/command_line.h"

#include <algorithm>

#include "app/working_folder.h"
#include "cli/build_version.h"
#include "timing/present_mode.h"

namespace pyokoran {
namespace {

const char kDescription[] =
    "ピョコラン: a reaction-time experiment. Creatures rise out of holes; the participant\n"
    "strikes the targets and leaves the distractors alone. Without options the program\n"
    "opens its main window; the conditions, the result files and stim/ are in the\n"
    "working folder, the current folder unless --folder gives another.";

std::string TryHelp() { return "Try 'pyokoran --help' for the options.\n"; }

CommandLine Failure(const std::string& message) {
  CommandLine result;
  result.action = CommandAction::Fail;
  result.exit_status = kUsageExitStatus;
  result.text = "pyokoran: " + message + "\n" + TryHelp();
  return result;
}

}  // namespace

QStringList ArgumentList(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromUtf8(argv[i]);
  return list;
}

CommandLine ParseCommandLine(const QStringList& arguments, const std::vector<CommandMode>& modes,
                             const std::string& documents_folder) {
  const std::string launcher_folder =
      documents_folder.empty() ? DocumentsWorkingFolder(ReadUserFolders()) : documents_folder;
  auto parser = std::make_shared<QCommandLineParser>();
  parser->setApplicationDescription(
      QString::fromUtf8(kDescription) +
      QString::fromStdString("\n\nStarted from the desktop menu (--documents) it uses\n  " +
                             launcher_folder +
                             "\nmade with a copy of the sample stimuli the first time."));
  parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({"h", "help"}, "Show these options and end.");
  const QCommandLineOption version("version", "Show the version and end.");
  const QCommandLineOption folder(
      "folder", "Use DIR as the working folder (it must exist and be writable).", "DIR");
  const QCommandLineOption documents(
      "documents", "Use the desktop menu's working folder (above), making it first if need be.");
  const QCommandLineOption present(
      "present",
      "Present frames in MODE: locked (OpenGL, locked to the display's refresh) or fallback "
      "(the window's backing store, paced by the clock), whatever the measurement says. The "
      "PYOKORAN_PRESENT variable does the same.",
      "MODE");
  parser->addOptions({help, version, folder, documents, present});
  // Modes may share an option (the same name): it is added once and goes with each of them.
  QStringList added;
  for (const CommandMode& mode : modes) {
    for (const QCommandLineOption& option : mode.options) {
      if (added.contains(option.names().front())) continue;
      added << option.names();
      parser->addOption(option);
    }
    if (mode.max_arguments > 0) {
      parser->addPositionalArgument(mode.argument_name, mode.argument_description,
                                    mode.argument_syntax);
    }
  }

  if (!parser->parse(arguments)) return Failure(parser->errorText().toStdString());

  CommandLine result;
  result.parser = parser;
  result.arguments = parser->positionalArguments();
  if (parser->isSet(help)) {
    result.action = CommandAction::PrintHelp;
    // Without an application object Qt cannot name the program itself.
    result.text = parser->helpText().replace("<executable_name>", "pyokoran").toStdString();
    return result;
  }
  if (parser->isSet(version)) {
    result.action = CommandAction::PrintVersion;
    result.text = "pyokoran " + VersionText() + "\n";
    return result;
  }

  // At most one mode; an option that belongs to a mode only with that mode.
  for (const CommandMode& mode : modes) {
    if (!parser->isSet(mode.options.front())) continue;
    if (result.mode) {
      return Failure("--" + result.mode->options.front().names().back().toStdString() +
                     " and --" + mode.options.front().names().back().toStdString() +
                     " cannot be used together.");
    }
    result.mode = &mode;
  }
  for (const CommandMode& mode : modes) {
    if (&mode == result.mode) continue;
    for (qsizetype i = 1; i < mode.options.size(); ++i) {
      const bool shared = result.mode && std::any_of(result.mode->options.begin(), result.mode->options.end(),
                                                     [&](const QCommandLineOption& o) {
                                                       return o.names() == mode.options[i].names();
                                                     });
      if (!shared && parser->isSet(mode.options[i])) {
        return Failure("--" + mode.options[i].names().back().toStdString() + " only goes with --" +
                       mode.options.front().names().back().toStdString() + ".");
      }
    }
  }
  const int max_arguments = result.mode ? result.mode->max_arguments : 0;
  if (result.arguments.size() > max_arguments) {
    return Failure("unexpected argument '" + result.arguments[max_arguments].toStdString() + "'.");
  }

  if (parser->isSet(folder) && parser->isSet(documents)) {
    return Failure("--folder and --documents cannot be used together.");
  }
  if (parser->isSet(documents)) {
    result.folder = launcher_folder;
    result.documents = true;
  }
  if (parser->isSet(folder)) {
    result.folder = parser->value(folder).toStdString();
    const std::string problem = WorkingFolderProblem(result.folder);
    if (!problem.empty()) return Failure("the folder '" + result.folder + "' " + problem + ".");
  }
  if (parser->isSet(present)) {
    result.present = parser->value(present).toStdString();
    if (ParseForcedMode(result.present.c_str()) == ForcedMode::None) {
      return Failure("--present takes locked or fallback, not '" + result.present + "'.");
    }
  }
  if (result.mode && result.mode->check) {
    const std::string problem = result.mode->check(*parser);
    if (!problem.empty()) return Failure(problem);
  }
  result.action = result.mode ? CommandAction::RunMode : CommandAction::OpenProgram;
  return result;
}

}  // namespace pyokoran
