// Text at the program's edges. Inside the program every string is UTF-8; job
// files, the settings file, list files and the log are Windows-1252 on disk.
// Field capacities are counted in characters (code points), never bytes, and
// values are cut on a character boundary.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "text/printf_format.h"

namespace tv {

// Windows-1252 bytes to UTF-8. The five bytes Windows-1252 leaves undefined
// map to the C1 code points of the same value, so no byte is ever lost.
[[nodiscard]] std::string cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252. A character the code page cannot hold becomes "?";
// malformed UTF-8 bytes are taken as Windows-1252 bytes as they stand.
[[nodiscard]] std::string utf8ToCp1252(std::string_view utf8);

// Number of code points in a UTF-8 string (a malformed byte counts as one).
[[nodiscard]] std::size_t charCount(std::string_view utf8);

// The number of bytes the first maxChars code points of a UTF-8 string take.
[[nodiscard]] std::size_t charPrefixBytes(std::string_view utf8, std::size_t maxChars);

// The first maxChars code points of a UTF-8 string.
[[nodiscard]] std::string cutChars(std::string_view utf8, std::size_t maxChars);

// Decodes UTF-8 into code points; a malformed byte yields itself (0x80..0xFF).
[[nodiscard]] std::u32string toCodePoints(std::string_view utf8);
[[nodiscard]] std::string fromCodePoints(std::u32string_view cps);
void appendUtf8(std::string& out, char32_t cp);

// UTF-16LE bytes, as the directory stores passwords and binary blobs.
[[nodiscard]] std::string toUtf16le(std::string_view utf8);

// Case mapping of the letters the registers use: ASCII and Latin-1 (æ ø å é …).
[[nodiscard]] char32_t lowerChar(char32_t c);
[[nodiscard]] char32_t upperChar(char32_t c);
[[nodiscard]] std::string toLower(std::string_view utf8);
[[nodiscard]] std::string toUpper(std::string_view utf8);
[[nodiscard]] bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Case-insensitive for A-Z only, without allocating: for names that are
// ASCII by definition (attribute names, section words).
[[nodiscard]] bool asciiEqualsIgnoreCase(std::string_view a, std::string_view b);
// A-Z lower-cased; every other byte stays as it is. Inline: the directory
// snapshot folds every name it stores and compares with it.
[[nodiscard]] inline std::string asciiToLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}
[[nodiscard]] inline bool isAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) > 0x7F) return false;
  }
  return true;
}

// Blanks (space, tab, CR, LF) off both ends.
[[nodiscard]] std::string_view trim(std::string_view s);

// Splits on one separator; empty pieces are kept.
[[nodiscard]] std::vector<std::string> split(std::string_view s, char sep);

[[nodiscard]] bool startsWith(std::string_view s, std::string_view prefix);
[[nodiscard]] bool endsWith(std::string_view s, std::string_view suffix);

// printf into a std::string, any length.
[[nodiscard]] std::string format(const char* fmt, ...) TV_PRINTF_FORMAT(1, 2);
[[nodiscard]] std::string vformat(const char* fmt, va_list args);

// The broken-down UTC time of t (tm_isdst 0), computed here: the C library's
// thread-safe call for it is not the same on every platform.
[[nodiscard]] std::tm utcCalendar(std::time_t t);

}  // namespace tv
