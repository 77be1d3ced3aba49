// The command-line modes that need no window: the report over a folder of result files and
// simulated runs. Thin entries over the library; they run with no display at all.
#pragma once

class QCommandLineParser;

namespace pyokoran {

// Adds --report, --simulate and their options to a parser shared with other modes.
void AddAnalysisOptions(QCommandLineParser& parser);
// True when the parsed command line asks for one of these modes.
bool IsAnalysisCommand(const QCommandLineParser& parser);
// Runs the mode the parsed line asks for and returns the exit code: 0 done, 1 failed,
// 2 bad options. --report needs a QApplication to exist.
int RunAnalysisCommand(const QCommandLineParser& parser);

// The whole entry for main: -1 when argv asks for neither mode (nothing has been done);
// otherwise makes the application object it needs (Qt's offscreen platform when no display
// is there), runs the mode and returns its exit code.
int RunAnalysisCommandLine(int& argc, char** argv);

}  // namespace pyokoran
