// The ten conditions of a run that the experimenter chooses; they persist in the settings file.
#pragma once

#include <cstdint>
#include <string>

namespace pyokoran {

class SettingsFile;

struct ExperimentSettings {
  std::string subject = "SBJ0000";  // code page 932 bytes
  int32_t n_tgtpokko = 6;
  int32_t n_dstpokko = 3;
  int32_t n_holes = 12;
  int32_t duration = 2000;  // ms
  int32_t isi1 = 1000;      // ms
  int32_t isi2 = 3000;      // ms
  int32_t time_limit = 60;  // s
  int32_t random_seed = 0;  // shown unsigned; 0 = from the clock
  int32_t flag_ordered = 1;
};

// Start-up: every key present in the file overrides its field; absent keys keep the field.
void ReadSettings(const SettingsFile& file, ExperimentSettings& settings);
// Exit: the ten settings into the store, in their order (missing keys are appended).
void StoreSettings(SettingsFile& file, const ExperimentSettings& settings);

}  // namespace pyokoran
