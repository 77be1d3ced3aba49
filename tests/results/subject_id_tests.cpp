#include "results/subject_id.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/cp932.h"
#include "platform/fake/fake_platform.h"
#include "settings/condition_dialog.h"

namespace pyokoran {
namespace {

struct SubjectCase {
  const char* name;
  std::string subject;  // UTF-8; converted to code page 932 where it can be
  bool usable;
  const char* in_message;  // part of the message, for refused IDs
};
std::ostream& operator<<(std::ostream& out, const SubjectCase& c) { return out << c.name; }

std::string Cp932(const std::string& utf8) {
  std::string out;
  return Utf8ToCp932(utf8, out) ? out : utf8;
}

// Control characters break the summary line; the others make "<ID>.csv" no file name on
// Linux or on Windows. ソ and 表 end in the byte of a backslash in code page 932 and are fine.
const SubjectCase kSubjects[] = {
    {"plain", "SBJ0000", true, ""},
    {"japanese", "被験者ソ表", true, ""},
    {"empty", "", true, ""},
    {"inner_blank_and_dot", "S 01.a", true, ""},
    {"line_feed", "S01\n", false, "制御文字"},
    {"tab", "S\t01", false, "制御文字"},
    {"carriage_return", "S01\r", false, "制御文字"},
    {"delete", "S01\x7f", false, "制御文字"},
    {"slash", "a/b", false, "[a/b.csv]"},
    {"backslash", "a\\b", false, "[a\\b.csv]"},
    {"colon", "S:1", false, "[S:1.csv]"},
    {"star_question", "S*?", false, "[S*?.csv]"},
    {"quote_angles_bar", "S\"<>|", false, "ファイル名に使えない文字"},
    {"trailing_blank", "S01 ", false, "末尾"},
    {"trailing_dot", "S01.", false, "末尾"},
    {"con", "CON", false, "[CON.csv]"},
    {"nul_lower_with_extension", "nul.txt", false, "装置"},
    {"com1", "Com1", false, "装置"},
    {"lpt9_blank", "LPT9 .x", false, "装置"},
    {"console_is_a_name", "CONSOLE", true, ""},
    {"com10_is_a_name", "COM10", true, ""},
    {"longest", std::string(kMaxSubjectFileBytes, 'a'), true, ""},
    {"too_long", std::string(kMaxSubjectFileBytes + 1, 'a'), false, "長すぎ"},
    // Names of other files: another subject's timing and frames files, the program's own.
    {"timing_of_another", "ab_timing", false, "被験者「ab」のタイミング記録"},
    {"frames_any_case", "ab_FRAMES", false, "被験者「ab」のフレーム記録"},
    {"timing_of_the_empty_id", "_timing", false, "タイミング記録"},
    {"report", "ピョコラン_report", false, "[ピョコラン_report.csv]"},
    {"trials", "ピョコラン_trials", false, "プログラムが書くファイル"},
    {"timing_inside", "ab_timing2", true, ""},
    {"program_name_alone", "ピョコラン", true, ""},
};

class SubjectIdTest : public testing::TestWithParam<SubjectCase> {};

TEST_P(SubjectIdTest, RefusedWhenItCannotNameTheResultFiles) {
  const SubjectCase& c = GetParam();
  const std::string problem = SubjectIdProblem(Cp932(c.subject));
  if (c.usable) {
    EXPECT_EQ(problem, "");
  } else {
    EXPECT_NE(problem.find(c.in_message), std::string::npos) << problem;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SubjectIdTest, testing::ValuesIn(kSubjects),
                         [](const auto& info) { return std::string(info.param.name); });

// The reader opens a subject's files only where its ID names nothing but a file in the folder.
TEST(SubjectId, NamesOnlyAFile) {
  for (const char* id : {"S01", "", "ab_timing", "S01 ", "被験者ソ表"}) EXPECT_TRUE(SubjectNamesOnlyAFile(Cp932(id))) << id;
  for (const char* id : {"..\\outside\\victim", "../x", "\\\\server\\share\\x", "C:x", "nul", "COM1.x", "a\rb"})
    EXPECT_FALSE(SubjectNamesOnlyAFile(Cp932(id))) << id;
}

// Bytes that are not code page 932 keep naming the files as they are; what else they hold
// is judged as for any ID.
TEST(SubjectId, BytesThatAreNotCodePage932AreJudgedByTheRest) {
  EXPECT_EQ(SubjectIdProblem("S\x81\x20\xff"), "");
  EXPECT_NE(SubjectIdProblem("S\xff/"), "");
  EXPECT_NE(SubjectIdProblem("S\x81\x7f"), "");  // a DEL byte is no trail byte
}

// OK with a refused subject keeps the dialog open with the subject's message, before any
// number field is read; the same answer with a good subject passes.
TEST(SubjectId, ConditionDialogRefusesAtOk) {
  CSubject dialog;
  ConditionControls c = dialog.ToControls();
  c.subject = "S01\n";
  c.holes = "";
  EXPECT_EQ(dialog.FromControls(c), IDC_SUBJECT);
  EXPECT_NE(dialog.FieldMessage(IDC_SUBJECT).find("制御文字"), std::string::npos);
  c.holes = "9";
  c.subject = "S01";
  EXPECT_EQ(dialog.FromControls(c), 0);
  EXPECT_EQ(dialog.holes, 9);

  FakePlatform platform;
  CSubject shown;
  FakePlatform::DialogAnswer bad, good;
  bad.edit = [](ConditionControls& controls) { controls.subject = "a/b"; };
  good.edit = [](ConditionControls& controls) { controls.subject = "ab"; };
  platform.dialog_answers = {bad, good};
  EXPECT_EQ(platform.ShowConditionDialog(shown), IDOK);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_NE(platform.messages[0].text.find("[a/b.csv]"), std::string::npos);
  EXPECT_EQ(platform.dialog_number_fields, std::vector<int>{IDC_SUBJECT});
  EXPECT_EQ(shown.subject, "ab");
}

}  // namespace
}  // namespace pyokoran
