// The install keys as registry keys below HKEY_LOCAL_MACHINE, with the value
// layouts the event viewer and older readers of "DataPath" expect:
//
//   DataPath           REG_EXPAND_SZ, the whole 260-character buffer: the
//                      path, then zeros up to 260 characters (a longer path
//                      is stored whole, with one terminator)
//   other texts        REG_EXPAND_SZ, the text and its terminator (Windows
//                      adds a terminator left out of the length whenever the
//                      next character in memory is zero, so the length is
//                      given with it rather than left to what follows)
//   TypesSupported     REG_DWORD, 4 bytes
//
// Results are Win32 error codes (ERROR_FILE_NOT_FOUND, 2, for a missing key
// or value, the same number as ENOENT). A text value is read up to its first
// zero, REG_SZ as well as REG_EXPAND_SZ; the environment variables of a
// REG_EXPAND_SZ ("%ProgramData%\Tavlevagt") are expanded as Windows readers do.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "ports/install_keys.h"

namespace tv::win {

class RegistryKeys : public InstallKeys {
 public:
  struct Options {
    HKEY root = HKEY_LOCAL_MACHINE;
    // Values written as a fixed buffer of this many characters.
    std::map<std::string, std::size_t> bufferChars{{"DataPath", 260}};
  };
  RegistryKeys() = default;
  explicit RegistryKeys(Options options) : opt_(std::move(options)) {}

  [[nodiscard]] Opened createKey(const std::string& key) override;
  [[nodiscard]] int setValue(const std::string& key, const KeyValue& value) override;
  [[nodiscard]] Query queryText(const std::string& key, const std::string& name) override;
  [[nodiscard]] int deleteKey(const std::string& key) override;

  // The bytes a value is stored as (UTF-16LE for texts).
  [[nodiscard]] std::string valueBytes(const KeyValue& value) const;

 private:
  Options opt_;
};

}  // namespace tv::win
