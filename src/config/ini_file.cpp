#include "config/ini_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

// The reader's blanks: C white space, and ^Z, which old DOS editors leave at
// the end of a file.
bool isProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a;
}

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isProfileBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && isProfileBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A NUL ends a name or a value, as it ends the reader's C strings.
std::string_view upToNul(std::string_view s) {
  auto nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) -> char32_t {
    auto a = static_cast<unsigned char>(bytes[i]);
    auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (char32_t{a} << 8) | b : (char32_t{b} << 8) | a;
  };
  const std::size_t n = bytes.size() & ~std::size_t{1};
  for (std::size_t i = 0; i < n; i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    // A lone surrogate cannot be written as UTF-8.
    appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : u);
  }
  return out;
}

// The whole file as UTF-8, chosen by its byte order mark as the Windows
// reader chooses; without one it is the ANSI code page.
std::string decodeProfile(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    // Re-encoded so a malformed byte cannot travel on as broken UTF-8.
    return fromCodePoints(toCodePoints(bytes.substr(3)));
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
    return utf16ToUtf8(bytes.substr(2), false);
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
    return utf16ToUtf8(bytes.substr(2), true);
  return cp1252ToUtf8(bytes);
}

}  // namespace

std::string_view stripProfileQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

IniFile IniFile::fromBytes(std::string_view bytes) {
  IniFile ini;
  const std::string text = decodeProfile(bytes);
  std::string_view rest = text;
  Section* current = nullptr;  // lines before the first header belong to no section
  while (!rest.empty()) {
    auto eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);

    line = trimLeft(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      auto close = line.rfind(']');
      if (close != std::string_view::npos) {
        ini.sections_.push_back({toLower(upToNul(line.substr(1, close - 1))), {}});
        current = &ini.sections_.back();
        continue;
      }
      // A header without its "]" is read as an ordinary line, as Windows does.
    }
    line = trimRight(line);
    if (line.front() == ';') continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (current == nullptr) continue;
    std::string_view key = upToNul(trimRight(line.substr(0, eq)));
    std::string_view value = upToNul(trimLeft(line.substr(eq + 1)));
    if (key.empty()) continue;
    current->entries.push_back({toLower(key), std::string(value)});
  }
  return ini;
}

IniFile IniFile::fromFile(const std::string& path, Status* status) {
  auto say = [&](Status s) {
    if (status != nullptr) *status = s;
  };
  const std::filesystem::path file = pathFromUtf8(path);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    say(ec ? Status::kUnreadable : Status::kMissing);
    return {};
  }
  std::ifstream in(file, std::ios::binary);
  if (!in || std::filesystem::is_directory(file, ec)) {
    say(Status::kUnreadable);
    return {};
  }
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    say(Status::kUnreadable);
    return {};
  }
  say(Status::kRead);
  return fromBytes(bytes);
}

std::optional<std::string> IniFile::raw(std::string_view section, std::string_view key) const {
  const std::string foldedSection = toLower(section);
  const std::string foldedKey = toLower(key);
  for (const Section& s : sections_) {
    if (s.foldedName != foldedSection) continue;
    // Only the first section of the name is searched, as the Windows reader does.
    for (const Entry& e : s.entries) {
      if (e.foldedKey == foldedKey) return e.value;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::string IniFile::get(std::string_view section, std::string_view key, std::string_view fallback,
                         std::size_t maxChars) const {
  auto value = raw(section, key);
  std::string_view v = value ? std::string_view(*value) : fallback;
  return cutChars(stripProfileQuotes(v), maxChars);
}

}  // namespace tv
