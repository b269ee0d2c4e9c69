// The two small keys the program keeps outside its data folder: the data
// folder itself ("DataPath") and the event source's description. A key is a
// named set of values; the store reports failures with their system error
// number of the platform so the caller can log the system's text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct KeyValue {
  enum Type : int { kExpandString = 2, kDword = 4 };
  std::string name;
  Type type = kExpandString;
  std::string text;         // kExpandString
  std::uint32_t dword = 0;  // kDword
};

class InstallKeys {
 public:
  struct Opened {
    int error = 0;         // system error; 0 when the key could be created or opened
    bool existed = false;  // the key was there before
  };
  virtual ~InstallKeys() = default;
  [[nodiscard]] virtual Opened createKey(const std::string& key) = 0;
  // Sets one value of a key created before; 0 or a system error.
  [[nodiscard]] virtual int setValue(const std::string& key, const KeyValue& value) = 0;
  struct Query {
    int keyError = 0;    // system error of opening the key ("not found": no such key)
    int valueError = 0;  // system error of reading the value ("not found": no such value)
    std::string text;
  };
  [[nodiscard]] virtual Query queryText(const std::string& key, const std::string& name) = 0;
  // 0 or a system error ("not found" when there is no such key).
  [[nodiscard]] virtual int deleteKey(const std::string& key) = 0;
};

}  // namespace tv
