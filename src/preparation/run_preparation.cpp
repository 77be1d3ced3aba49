#include "preparation/run_preparation.h"

#include <string>

#include "app/program.h"
#include "run/scheduler.h"
#include "settings/condition_dialog.h"

namespace pyokoran {

namespace {

constexpr const char* kErrorCaption = "Error";

// The first rule the dialog's values break, as the message to show; empty when they pass.
std::string ValidationMessage(const CSubject& dialog) {
  if (dialog.holes < kMinHoles || dialog.holes > kMaxHoles) {
    return "穴の数は 3 以上，" + std::to_string(kMaxHoles) + " 以下でなければなりません。";
  }
  if (int64_t(dialog.targets) + dialog.distractors >= dialog.holes) {
    return "ポッコの数は穴の数より小さくなければなりません。";
  }
  return {};
}

}  // namespace

int PrepareRun(Program& program) {
  Platform& platform = program.platform;

  // The dialog until its values pass; after a message it shows what was just entered.
  CSubject dialog;
  dialog.CopyFrom(program.settings);
  for (;;) {
    if (platform.ShowConditionDialog(dialog) != IDOK) return 0;
    const std::string message = ValidationMessage(dialog);
    if (message.empty()) break;
    platform.ShowMessage(message, kErrorCaption, MessageIcon::None);
  }

  // Committed from here on, even if a later step fails.
  dialog.CopyTo(program.settings);

  // The seed; 0 asks for a new one from the clock at every run.
  uint32_t seed = uint32_t(program.settings.random_seed);
  if (seed == 0) seed = uint32_t(platform.CurrentTime() & 0xFFFF);
  SeedRandom(program.random, seed);
  program.effective_seed = int32_t(seed);
  RandomRaw(program.random);
  RandomRaw(program.random);

  // Creatures first, then the layout, which continues their random sequence.
  InitCreatureSlots(program);
  if (!MakeHoleLayout(program.layout, program.settings, program.random)) {
    platform.ShowMessage(std::string("刺激配置を作成できません。\n") +
                             "乱数初期値を変えて再試行してください。\n" +
                             "（０ならば単純に再試行してください）",
                         kErrorCaption, MessageIcon::None);
    return 0;
  }
  ResetTrialLog(program.scheduler.log);
  ResetTimingLog(program.timing);
  if (!LoadStimuli(program)) return 0;  // it has shown its own message
  return 1;
}

}  // namespace pyokoran
