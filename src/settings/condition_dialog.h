// The condition dialog "条件設定": its fields and the exchange between them and the text of
// its controls. The window itself is the platform's (Platform::ShowConditionDialog).
#pragma once

#include <cstdint>
#include <string>

namespace pyokoran {

struct ExperimentSettings;

// Control identifiers of template 104.
constexpr int IDC_SUBJECT = 1001;
constexpr int IDC_TARGETS = 1006;
constexpr int IDC_DISTRACTORS = 1007;
constexpr int IDC_DURATION = 1008;
constexpr int IDC_ISI1 = 1009;
constexpr int IDC_ISI2 = 1010;
constexpr int IDC_HOLES = 1011;
constexpr int IDC_TIME_LIMIT = 1012;
constexpr int IDC_SEED = 1013;
constexpr int IDC_ORDERED = 1014;

// What the controls hold. subject is code page 932 bytes; the number fields are edited text.
struct ConditionControls {
  std::string subject;
  std::string targets, distractors, duration, isi1, isi2, holes, time_limit, seed;
  bool ordered = false;
};

class CSubject {
 public:
  std::string subject;
  int32_t targets = 0;
  int32_t distractors = 0;
  int32_t exposure = 0;
  int32_t pause_minimum = 0;
  int32_t pause_maximum = 0;
  int32_t holes = 0;
  int32_t time_limit = 0;
  uint32_t seed = 0;
  int32_t ordered = 0;
  std::string subject_problem;  // why the subject last read was refused

  void CopyFrom(const ExperimentSettings& settings);
  void CopyTo(ExperimentSettings& settings) const;

  // Fields into the controls, when the dialog opens.
  ConditionControls ToControls();
  // Controls into the fields, in exchange order. Returns 0 when all pass, otherwise the
  // identifier of the first field that fails (fields before it are read): the subject when
  // it cannot name the result files (SubjectIdProblem), a number field that does not hold a
  // number.
  int FromControls(const ConditionControls& controls);
  // The message shown for the field FromControls answered.
  std::string FieldMessage(int control_id) const;
  // The message shown for a field that does not hold a number.
  static std::string NumberMessage(int control_id);
};

}  // namespace pyokoran
