// The settings file reader. It reads a profile ("INI") file the way the
// Windows private-profile string reader does, because schools edit
// Tavlevagt.ini by hand on Windows and expect the same file to mean the same
// thing here:
//  - sections and keys are matched without regard to case;
//  - the file is Windows-1252 unless it starts with a UTF-8 or UTF-16 byte
//    order mark; every value comes back as UTF-8;
//  - blanks around the key, the "=" and the value are dropped, and a value
//    wrapped in a matching pair of single or double quotes loses them;
//  - only the first section of a name is searched, and within it the first
//    line of a key wins;
//  - lines beginning with ";" are comments; lines that are neither a section
//    header nor "key=value" are ignored.
// Any byte sequence is accepted; nothing in a file can make the reader fail.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class IniFile {
 public:
  enum class Status { kRead, kMissing, kUnreadable };

  IniFile() = default;

  // Parses the bytes of a whole file.
  [[nodiscard]] static IniFile fromBytes(std::string_view bytes);
  // Reads and parses a file; a missing or unreadable file gives an empty
  // IniFile (every lookup then falls back to its default) and says which.
  [[nodiscard]] static IniFile fromFile(const std::string& path, Status* status = nullptr);

  // The value as stored in the file (blanks dropped, quotes kept), or nullopt
  // when the section or the key is not there.
  [[nodiscard]] std::optional<std::string> raw(std::string_view section,
                                               std::string_view key) const;

  // The private-profile string read: the value, or fallback when absent, with
  // a surrounding pair of matching quotes removed, cut to maxChars characters.
  [[nodiscard]] std::string get(std::string_view section, std::string_view key,
                                std::string_view fallback, std::size_t maxChars) const;

  [[nodiscard]] std::size_t sectionCount() const { return sections_.size(); }

 private:
  // Names are kept case-folded, so a lookup folds only its own two names.
  struct Entry {
    std::string foldedKey;
    std::string value;
  };
  struct Section {
    std::string foldedName;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

// The private-profile reader's quote rule: a value of two or more characters
// that begins with ' or " and ends with the same mark loses both marks.
[[nodiscard]] std::string_view stripProfileQuotes(std::string_view value);

}  // namespace tv
