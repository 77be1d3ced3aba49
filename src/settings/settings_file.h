// A small key = value store backed by one text file, one entry per line. Keeps every entry
// it read, so keys it does not know survive the rewrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pyokoran {

class SettingsFile {
 public:
  // At most this much of the file is read; a longer file is read up to this size.
  static constexpr size_t kMaxFileBytes = size_t(1) << 20;
  // Entries read from a file are kept while their lines, as Save writes them, fit in this
  // much; the rest leaves room for the settings, so the rewritten file is read whole again.
  static constexpr size_t kMaxReadEntryBytes = kMaxFileBytes - (size_t(256) << 10);

  // file_name = base_name + ".ini", then reads that file. A missing file, or anything that
  // is not a regular file (a FIFO, a device, a folder), gives an empty store at once.
  void Load(const std::string& base_name);
  // Rewrites the whole file. Writes nothing when no Load happened, when the file cannot be
  // written (read-only, not a regular file) or on a write failure, and then the old file
  // stays as it was. A symbolic link is followed and its target rewritten. The new text
  // goes to file_name + ".tmp" and is renamed over the file; where the folder refuses that
  // file (or renaming would lose the file's owner or other hard links) the file is
  // rewritten in place, its old text first copied to file_name + ".bak" (where the folder
  // takes a new file) and put back when the new one cannot be written; the copy goes once
  // the new text is on disk. Load takes the copy instead of a file that an in-place save
  // left empty or cut.
  void Save() const;
  // Whether the last Load took the copy an in-place save left.
  bool restored_from_backup() const { return restored_from_backup_; }

  // 1 and value set when key exists; 0 and value unchanged otherwise.
  int GetString(const std::string& key, std::string& value) const;
  int GetInt(const std::string& key, int32_t& value) const;
  void SetString(const std::string& key, const std::string& value);
  void SetInt(const std::string& key, int32_t value);

  // Reads the store from the file's bytes, as Load does; linear in their length.
  void Parse(const std::string& bytes);
  // The bytes Save writes. Every line reads back as the entry it came from: a value too
  // long to share one 1023-byte piece of the reader with its key is cut to what the reader
  // would take of it, so load, save, load, save gives the same bytes twice.
  std::string Serialise() const;

  const std::string& file_name() const { return file_name_; }
  int32_t entry_count() const { return int32_t(keys_.size()); }
  const std::vector<std::string>& keys() const { return keys_; }
  const std::vector<std::string>& values() const { return values_; }

 private:
  int Find(std::string_view key) const;
  // bytes came out of a save whole: they hold every key of backup's whole lines and end with
  // a line end where backup does.
  static bool HoldsEveryEntryOf(const std::string& bytes, const std::string& backup);
  void Set(std::string_view key, std::string_view value);
  void Clear();

  std::string file_name_;
  bool restored_from_backup_ = false;
  std::vector<std::string> keys_;
  std::vector<std::string> values_;
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  // key -> position in keys_
  std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index_;
};

}  // namespace pyokoran
