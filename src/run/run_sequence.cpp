#include "run/run_sequence.h"

#include <cstdio>

#include "app/program.h"
#include "run/trial_loop.h"

namespace pyokoran {

int RunSequence(Program& program) {
  Platform& platform = program.platform;
  platform.ShowMessage("キーを押すと始まります。", "開始", MessageIcon::None);

  const int result = RunTrialLoop(program);

  const ScoreCounters& c = program.scheduler.counters;
  char text[256];
  std::snprintf(text, sizeof text,
                "おわりました。おつかれさま。\nとくてんは %lld てんでした！\n"
                "（Hit:%d, FA:%d, Miss:%d, CR:%d）",
                static_cast<long long>(c.Hit) - c.FA, c.Hit, c.FA, c.Miss, c.CR);
  platform.ShowMessage(text, "終了", MessageIcon::None);
  return result;
}

}  // namespace pyokoran
