#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "cli/build_version.h"

namespace pyokoran {
namespace {

// A mode as a real one registers itself: its own option, one that only goes with it, and
// an optional positional argument.
std::vector<CommandMode> ExampleModes() {
  CommandMode tool;
  tool.options = {CommandOption{{"tool"}, "Do the example job.", ""},
                  CommandOption{{"out"}, "Write to FILE.", "FILE"}};
  tool.max_arguments = 1;
  tool.argument_name = "FOLDER";
  tool.argument_description = "The folder for --tool.";
  tool.argument_syntax = "[FOLDER]";
  tool.check = [](const OptionValues& options) -> std::string {
    return options.Value("out") == "bad" ? "--out cannot be 'bad'." : "";
  };
  tool.run = [](const ModeRun&) { return 7; };
  CommandMode other;
  other.options = {CommandOption{{"other"}, "Another job.", ""},
                   CommandOption{{"out"}, "Write to FILE.", "FILE"}};  // shared with --tool
  other.run = [](const ModeRun&) { return 8; };
  return {tool, other};
}

const char kDocuments[] = "/tmp/documents-example/ピョコラン";

SystemCommands ExampleSystem() {
  SystemCommands system;
  system.launcher = "desktop menu";
  system.present_help = "Present frames in MODE.";
  system.report_pdf = true;
  system.report = [](const ModeRun&) { return 9; };
  system.check_timing = [](const ModeRun&) { return 10; };
  return system;
}

std::vector<std::string> Arguments(const std::vector<const char*>& after_name) {
  std::vector<std::string> arguments{"pyokoran"};
  arguments.insert(arguments.end(), after_name.begin(), after_name.end());
  return arguments;
}

struct Row {
  const char* name;
  std::vector<const char*> arguments;  // after the program's name
  CommandAction action;
  int exit_status;
  std::string text_has;  // a piece the printed text must hold
  std::string folder;
  const char* mode;  // the mode's first option, or null
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  out << "pyokoran";
  for (const char* a : row.arguments) out << ' ' << a;
  return out;
}

class CommandLineTest : public ::testing::TestWithParam<Row> {};

TEST_P(CommandLineTest, Parses) {
  const Row& row = GetParam();
  const std::vector<CommandMode> modes = ExampleModes();
  const CommandLine result = ParseCommandLine(Arguments(row.arguments), ExampleSystem(), modes, kDocuments);
  EXPECT_EQ(result.action, row.action) << result.text;
  EXPECT_EQ(result.exit_status, row.exit_status);
  EXPECT_NE(result.text.find(row.text_has), std::string::npos) << result.text;
  if (row.action == CommandAction::Fail) {
    EXPECT_EQ(result.text.rfind("pyokoran: ", 0), 0u) << result.text;
    EXPECT_NE(result.text.find("--help"), std::string::npos) << result.text;
  } else {
    EXPECT_EQ(result.folder, row.folder);
  }
  if (row.mode) {
    ASSERT_NE(result.mode, nullptr);
    EXPECT_EQ(result.mode->options.front().names.front(), row.mode);
  } else if (row.action != CommandAction::Fail) {
    EXPECT_EQ(result.mode, nullptr);
  }
}

const std::string kVersionLine = std::string("pyokoran ") + kProgramVersion;
const auto kOpen = CommandAction::OpenProgram;
const auto kFail = CommandAction::Fail;

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineTest,
    ::testing::Values(
        Row{"Nothing", {}, kOpen, 0, "", "", nullptr},
        Row{"Help", {"--help"}, CommandAction::PrintHelp, 0, "Usage: pyokoran [options]", "",
            nullptr},
        Row{"HelpListsTheOptions", {"--help"}, CommandAction::PrintHelp, 0, "--folder <DIR>", "",
            nullptr},
        Row{"HelpListsTheModes", {"-h"}, CommandAction::PrintHelp, 0, "--out <FILE>", "", nullptr},
        Row{"HelpWinsOverAnError", {"--help", "--out", "x"}, CommandAction::PrintHelp, 0, "", "",
            nullptr},
        Row{"HelpNamesTheLauncherFolder", {"--help"}, CommandAction::PrintHelp, 0, kDocuments,
            "", nullptr},
        Row{"Version", {"--version"}, CommandAction::PrintVersion, 0, kVersionLine, "", nullptr},
        Row{"Folder", {"--folder", "/tmp"}, kOpen, 0, "", "/tmp", nullptr},
        Row{"FolderWithEquals", {"--folder=/tmp"}, kOpen, 0, "", "/tmp", nullptr},
        Row{"MissingFolder", {"--folder", "/nonexistent-pyokoran/ピョコラン"}, kFail, 2,
            "'/nonexistent-pyokoran/ピョコラン' does not exist", "", nullptr},
        // /proc refuses new files even to root, for whom permission bits mean nothing.
        Row{"UnwritableFolder", {"--folder", "/proc"}, kFail, 2, "'/proc' cannot be written", "",
            nullptr},
        Row{"FolderThatIsAFile", {"--folder", "/etc/hostname"}, kFail, 2, "is not a folder", "",
            nullptr},
        // The launcher's folder may not exist yet: it is made when the program opens.
        Row{"Documents", {"--documents"}, kOpen, 0, "", kDocuments, nullptr},
        Row{"DocumentsAndFolder", {"--documents", "--folder", "/tmp"}, kFail, 2,
            "--folder and --documents cannot be used together", "", nullptr},
        Row{"FolderWithoutValue", {"--folder"}, kFail, 2, "Missing value after '--folder'", "",
            nullptr},
        Row{"UnknownOption", {"--frobnicate"}, kFail, 2, "Unknown option 'frobnicate'", "",
            nullptr},
        Row{"UnknownShortOption", {"-x"}, kFail, 2, "Unknown option 'x'", "", nullptr},
        Row{"StrayArgument", {"data"}, kFail, 2, "unexpected argument 'data'", "", nullptr},
        Row{"SeveralUnknownOptions", {"-x", "--y=1", "--folder", "/tmp"}, kFail, 2,
            "Unknown options: x, y.", "", nullptr},
        Row{"ValueToAnOptionWithout", {"--documents=yes"}, kFail, 2,
            "Unexpected value after '--documents'", "", nullptr},
        Row{"SingleDashLongOption", {"-folder", "/tmp"}, kOpen, 0, "", "/tmp", nullptr},
        Row{"DashDashEndsOptions", {"--tool", "--", "--other"}, CommandAction::RunMode, 0, "", "",
            "tool"},
        Row{"LastValueCounts", {"--folder", "/nonexistent-pyokoran", "--folder", "/tmp"}, kOpen, 0,
            "", "/tmp", nullptr},
        Row{"Mode", {"--tool"}, CommandAction::RunMode, 0, "", "", "tool"},
        Row{"ModeWithItsOptionAndArgument", {"--tool", "--out", "f", "dir", "--folder", "/tmp"},
            CommandAction::RunMode, 0, "", "/tmp", "tool"},
        Row{"ModeWithTooManyArguments", {"--tool", "a", "b"}, kFail, 2, "unexpected argument 'b'",
            "", nullptr},
        Row{"ModeOptionWithoutItsMode", {"--out", "f"}, kFail, 2, "--out only goes with --tool",
            "", nullptr},
        Row{"SharedOptionWithTheOtherMode", {"--other", "--out", "f"}, CommandAction::RunMode, 0,
            "", "", "other"},
        Row{"TwoModes", {"--tool", "--other"}, kFail, 2, "cannot be used together", "", nullptr},
        Row{"ModeCheckFails", {"--tool", "--out", "bad"}, kFail, 2, "--out cannot be 'bad'", "",
            nullptr}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The simulation's options as the real modes check them: what is refused says why.
TEST(SimulateOptions, RefusedWithTheReason) {
  const std::vector<CommandMode> modes = CommandModes(ExampleSystem());
  const struct {
    std::vector<const char*> arguments;
    const char* refused_with;  // null: accepted
  } rows[] = {
      {{"--simulate", "2", "--seed", "7"}, nullptr},
      {{"--simulate", "2", "--seed", "-5"}, nullptr},  // as the RndSeed column shows 4294967291
      {{"--simulate", "1", "--seed", "0"}, "--seed 0"},
      {{"--simulate", "2", "--seed", "4294967295"}, "at most 4294967294"},
      {{"--simulate", "1", "--seed", "4294967296"}, "--seed needs"},
      {{"--simulate", "1", "--subject", ""}, "--subject needs a subject ID"},
      {{"--simulate", "1", "--subject", "a/b"}, "[a/b.csv]"},
      {{"--simulate", "1", "--subject", "S01\t"}, "制御文字"},
      {{"--simulate", "1", "--rt", "-400,50,100"}, "--rt"},
  };
  for (const auto& row : rows) {
    std::string line = "pyokoran";
    for (const char* a : row.arguments) line += std::string(" ") + a;
    SCOPED_TRACE(line);
    const CommandLine result = ParseCommandLine(Arguments(row.arguments), ExampleSystem(), modes, kDocuments);
    if (!row.refused_with) {
      EXPECT_EQ(result.action, CommandAction::RunMode) << result.text;
    } else {
      EXPECT_EQ(result.action, CommandAction::Fail);
      EXPECT_NE(result.text.find(row.refused_with), std::string::npos) << result.text;
    }
  }
}

// The variable that forces how frames are presented is refused with a bad value as the
// option is; the option, given as well, decides alone.
TEST(PresentMode, VariableRefusedLikeTheOption) {
  const struct {
    const char* variable;
    std::vector<const char*> arguments;
    const char* refused_with;  // null: accepted
  } rows[] = {
      {"bogus", {}, "PYOKORAN_PRESENT takes locked or fallback, not 'bogus'"},
      {"fallback", {}, nullptr},
      {"", {}, nullptr},
      {"bogus", {"--present", "locked"}, nullptr},
      {"locked", {"--present", "bogus"}, "--present takes locked or fallback"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("PYOKORAN_PRESENT=") + row.variable);
    ASSERT_EQ(setenv("PYOKORAN_PRESENT", row.variable, 1), 0);
    const CommandLine result = ParseCommandLine(Arguments(row.arguments), ExampleSystem(), {}, kDocuments);
    unsetenv("PYOKORAN_PRESENT");
    if (!row.refused_with) {
      EXPECT_EQ(result.action, CommandAction::OpenProgram) << result.text;
    } else {
      EXPECT_EQ(result.action, CommandAction::Fail);
      EXPECT_NE(result.text.find(row.refused_with), std::string::npos) << result.text;
    }
  }
}

// --help's layout, as the program has always printed it: the names in their column, the
// description wrapped at 79 characters (not bytes), long words and long names cut.
TEST(HelpEntry, WrapsLikeTheProgramAlwaysHas) {
  const std::string pyokoran14 = [] {
    std::string text;
    for (int i = 0; i < 14; ++i) text += "ピョコラン";
    return text;
  }();
  const struct {
    const char* name;
    std::string names;
    size_t width;
    std::string description, expected;
  } rows[] = {
      {"AtTheLastSpace", "--out <FILE>", 14,
       "Write the runs into the folder FILE, which is made when it does not exist yet, and say so.",
       "  --out <FILE>   Write the runs into the folder FILE, which is made when it\n"
       "                 does not exist yet, and say so.\n"},
      {"LongWordCut", "--x", 6,
       "Supercalifragilisticexpialidocioussupercalifragilisticexpialidocioussupercalifragilistic then",
       "  --x    Supercalifragilisticexpialidocioussupercalifragilisticexpialidocioussu\n"
       "         percalifragilistic then\n"},
      {"NewlineKept", "--y", 6, "Line one\nline two", "  --y    Line one\n         line two\n"},
      {"CharactersNotBytes", "--s", 6, pyokoran14 + " end", "  --s    " + pyokoran14 + "\n         end\n"},
      {"LongNamesGoOn", "--a-very-long-option-name-that-does-not-fit-the-column <VALUE>", 50, "Short.",
       "  --a-very-long-option-name-that-does-not-fit-the-co Short.\n  lumn <VALUE>\n"},
      {"NoDescription", "--w", 6, "", "  --w\n"},
      {"LastCharacterKept", "--z", 6, std::string(70, 'a') + " b",
       "  --z    " + std::string(70, 'a') + "\n         b\n"},
      {"NoColumnWidth", "--q", 0, "D", "  - D\n  -\n  q\n"},
      {"FullLineNeverLonger", "--v", 6, std::string(69, 'a') + " bc d",
       "  --v    " + std::string(69, 'a') + "\n         bc d\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(HelpEntry(row.names, row.width, row.description), row.expected);
  }
}

// Every line of the program's whole --help within 79 characters, every word of every
// description in it.
TEST(HelpEntry, TheWholeHelpFitsAndKeepsEveryWord) {
  SystemCommands system = ExampleSystem();
  const std::vector<CommandMode> modes = CommandModes(system);
  const CommandLine help = ParseCommandLine(Arguments({"--help"}), system, modes, kDocuments);
  ASSERT_EQ(help.action, CommandAction::PrintHelp);
  size_t start = 0;
  while (start < help.text.size()) {
    const size_t end = help.text.find('\n', start);
    const std::string line = help.text.substr(start, end - start);
    size_t characters = 0;
    for (unsigned char c : line) characters += (c & 0xC0) != 0x80;
    EXPECT_LE(characters, 79u) << line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string words;
  for (char c : help.text) words += c == '\n' || c == ' ' ? '\0' : c;
  for (const CommandMode& mode : modes) {
    for (const CommandOption& option : mode.options) {
      std::string word;
      for (char c : option.description + " ") {
        if (c != ' ' && c != '\n') {
          word += c;
          continue;
        }
        if (!word.empty()) {
          EXPECT_NE(words.find(word), std::string::npos) << word;
        }
        word.clear();
      }
    }
  }
}

// Numbers in option values: what Qt's reading accepted before, whatever the locale.
TEST(OptionNumbers, WholeAndDecimal) {
  const struct {
    const char* text;
    bool whole_ok;
    long long whole;
    bool decimal_ok;
    double decimal;
  } rows[] = {
      {"42", true, 42, true, 42},         {" -7 ", true, -7, true, -7},
      {"+5", true, 5, true, 5},           {"0.25", false, 0, true, 0.25},
      {"1e-2", false, 0, true, 0.01},     {"", false, 0, false, 0},
      {"12abc", false, 0, false, 0},      {"nan", false, 0, false, 0},
      {"inf", false, 0, false, 0},        {"99999999999999999999", false, 0, true, 1e20},
      {"+-3", false, 0, false, 0},        {"0,5", false, 0, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    long long whole = 0;
    double decimal = 0;
    EXPECT_EQ(ParseWholeNumber(row.text, whole), row.whole_ok);
    if (row.whole_ok) EXPECT_EQ(whole, row.whole);
    EXPECT_EQ(ParseDecimalNumber(row.text, decimal), row.decimal_ok);
    if (row.decimal_ok) EXPECT_DOUBLE_EQ(decimal, row.decimal);
  }
}

}  // namespace
}  // namespace pyokoran
