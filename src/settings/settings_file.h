// A small key = value store backed by one text file, one entry per line. Keeps every entry
// it read, so keys it does not know survive the rewrite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pyokoran {

class SettingsFile {
 public:
  // file_name = base_name + ".ini", then reads that file (missing file: empty store).
  void Load(const std::string& base_name);
  // Rewrites the whole file; writes nothing when no Load happened or on any failure, in
  // which case the old file stays as it was.
  void Save() const;

  // 1 and value set when key exists; 0 and value unchanged otherwise.
  int GetString(const std::string& key, std::string& value) const;
  int GetInt(const std::string& key, int32_t& value) const;
  void SetString(const std::string& key, const std::string& value);
  void SetInt(const std::string& key, int32_t value);

  // Reads the store from the file's bytes, as Load does.
  void Parse(const std::string& bytes);
  // The bytes Save writes.
  std::string Serialise() const;

  const std::string& file_name() const { return file_name_; }
  int32_t entry_count() const { return int32_t(keys_.size()); }
  const std::vector<std::string>& keys() const { return keys_; }
  const std::vector<std::string>& values() const { return values_; }

 private:
  int Find(const std::string& key) const;

  std::string file_name_;
  std::vector<std::string> keys_;
  std::vector<std::string> values_;
};

}  // namespace pyokoran
