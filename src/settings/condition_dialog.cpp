#include "settings/condition_dialog.h"

#include <cctype>
#include <cstdio>

#include "results/subject_id.h"
#include "settings/experiment_settings.h"

namespace pyokoran {

namespace {

constexpr size_t kScanChars = 63;  // how much of a field's text is scanned

// One decimal number at the start of text as scanf reads it: leading white space, an
// optional sign, at least one digit; what follows is ignored. The magnitude saturates at
// limit.
bool ScanNumber(const std::string& field, uint64_t limit, bool& negative, uint64_t& magnitude) {
  const std::string text = field.substr(0, kScanChars);
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  magnitude = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    magnitude = magnitude * 10 + uint64_t(text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return true;
}

// "%d": numbers beyond the 32-bit range saturate.
bool ScanSigned(const std::string& text, int32_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!ScanNumber(text, uint64_t(INT32_MAX) + 1, negative, magnitude)) return false;
  if (negative) {
    value = int32_t(-int64_t(magnitude));
  } else {
    value = magnitude > INT32_MAX ? INT32_MAX : int32_t(magnitude);
  }
  return true;
}

// "%u": a minus sign gives the 32-bit two's complement; the magnitude saturates at 2^32 - 1.
bool ScanUnsigned(const std::string& text, uint32_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!ScanNumber(text, UINT32_MAX, negative, magnitude)) return false;
  value = negative ? uint32_t(0u - uint32_t(magnitude)) : uint32_t(magnitude);
  return true;
}

std::string Format(const char* format, long long value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

void CSubject::CopyFrom(const ExperimentSettings& s) {
  subject = s.subject;
  targets = s.n_tgtpokko;
  distractors = s.n_dstpokko;
  exposure = s.duration;
  pause_minimum = s.isi1;
  pause_maximum = s.isi2;
  holes = s.n_holes;
  time_limit = s.time_limit;
  seed = uint32_t(s.random_seed);
  ordered = s.flag_ordered;
}

void CSubject::CopyTo(ExperimentSettings& s) const {
  s.subject = subject;
  s.n_tgtpokko = targets;
  s.n_dstpokko = distractors;
  s.duration = exposure;
  s.isi1 = pause_minimum;
  s.isi2 = pause_maximum;
  s.n_holes = holes;
  s.time_limit = time_limit;
  s.random_seed = int32_t(seed);
  s.flag_ordered = ordered;
}

ConditionControls CSubject::ToControls() {
  ConditionControls c;
  c.subject = subject;
  c.targets = Format("%lld", targets);
  c.distractors = Format("%lld", distractors);
  c.duration = Format("%lld", exposure);
  c.isi1 = Format("%lld", pause_minimum);
  c.isi2 = Format("%lld", pause_maximum);
  c.holes = Format("%lld", holes);
  c.time_limit = Format("%lld", time_limit);
  c.seed = Format("%lld", seed);
  if (ordered < 0 || ordered > 2) ordered = 0;
  c.ordered = ordered != 0;  // a check box has no third state: 2 shows as checked
  return c;
}

int CSubject::FromControls(const ConditionControls& c) {
  subject = c.subject;
  subject_problem = SubjectIdProblem(subject);
  if (!subject_problem.empty()) return IDC_SUBJECT;
  if (!ScanSigned(c.targets, targets)) return IDC_TARGETS;
  if (!ScanSigned(c.distractors, distractors)) return IDC_DISTRACTORS;
  if (!ScanSigned(c.duration, exposure)) return IDC_DURATION;
  if (!ScanSigned(c.isi1, pause_minimum)) return IDC_ISI1;
  if (!ScanSigned(c.isi2, pause_maximum)) return IDC_ISI2;
  if (!ScanSigned(c.holes, holes)) return IDC_HOLES;
  if (!ScanSigned(c.time_limit, time_limit)) return IDC_TIME_LIMIT;
  if (!ScanUnsigned(c.seed, seed)) return IDC_SEED;
  ordered = c.ordered ? 1 : 0;
  return 0;
}

std::string CSubject::FieldMessage(int control_id) const {
  if (control_id == IDC_SUBJECT) return subject_problem;
  return NumberMessage(control_id);
}

std::string CSubject::NumberMessage(int control_id) {
  if (control_id == IDC_SEED) return "0 以上の整数を入力してください。";
  return "整数を入力してください。";
}

}  // namespace pyokoran
