// The install keys as small text files below a configuration root
// (/etc/tavlevagt by default): one file per key, named by the key path with
// "." for "\", one value per line as "Name=Type:Data", where "\" in the data
// is written "\\" and a line break "\n". A file is replaced in one step, so a
// reader never sees half a key.
#pragma once

#include <map>
#include <string>

#include "ports/install_keys.h"

namespace tv {

inline constexpr const char* kDefaultConfigRoot = "/etc/tavlevagt";

class KeyFiles : public InstallKeys {
 public:
  explicit KeyFiles(std::string root = kDefaultConfigRoot) : root_(std::move(root)) {}
  [[nodiscard]] Opened createKey(const std::string& key) override;
  [[nodiscard]] int setValue(const std::string& key, const KeyValue& value) override;
  [[nodiscard]] Query queryText(const std::string& key, const std::string& name) override;
  [[nodiscard]] int deleteKey(const std::string& key) override;

  // The file that holds a key.
  [[nodiscard]] std::string keyPath(const std::string& key) const;

 private:
  // Name -> "Type:Data" line text of every value of a key; errno on failure.
  int readValues(const std::string& key, std::map<std::string, std::string>& values) const;

  std::string root_;
};

}  // namespace tv
