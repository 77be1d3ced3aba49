// The settings file is a fixed point of reading and writing: whatever file the program
// starts with, the file it writes at exit reads back as written, so load, save, load, save
// gives identical bytes. Parse and Serialise are what Load and Save do with the file's bytes.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "settings/settings_file.h"

using namespace pyokoran;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SettingsFile first;
  first.Parse(std::string(reinterpret_cast<const char*>(data), size));
  const std::string saved = first.Serialise();

  SettingsFile second;
  second.Parse(saved);
  const std::string saved_again = second.Serialise();
  if (saved_again != saved) {
    fuzz::PropertyFailed("the saved settings file does not read back as written", saved,
                         saved_again);
  }
  return 0;
}
