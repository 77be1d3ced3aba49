#include "settings/experiment_settings.h"

#include "settings/settings_file.h"

namespace pyokoran {

namespace {

// The nine integer settings in file order, after "subject".
struct IntegerKey {
  const char* key;
  int32_t ExperimentSettings::*field;
};

constexpr IntegerKey kIntegerKeys[] = {
    {"n_tgtpokko", &ExperimentSettings::n_tgtpokko},
    {"n_dstpokko", &ExperimentSettings::n_dstpokko},
    {"n_holes", &ExperimentSettings::n_holes},
    {"duration", &ExperimentSettings::duration},
    {"isi1", &ExperimentSettings::isi1},
    {"isi2", &ExperimentSettings::isi2},
    {"time_limit", &ExperimentSettings::time_limit},
    {"random_seed", &ExperimentSettings::random_seed},
    {"flag_ordered", &ExperimentSettings::flag_ordered},
};

}  // namespace

void ReadSettings(const SettingsFile& file, ExperimentSettings& settings) {
  file.GetString("subject", settings.subject);
  for (const IntegerKey& k : kIntegerKeys) file.GetInt(k.key, settings.*k.field);
}

void StoreSettings(SettingsFile& file, const ExperimentSettings& settings) {
  file.SetString("subject", settings.subject);
  for (const IntegerKey& k : kIntegerKeys) file.SetInt(k.key, settings.*k.field);
}

}  // namespace pyokoran
