#include "text/text.h"

#include <chrono>
#include <cstdio>

namespace tv {
namespace {

// Windows-1252 0x80..0x9F; 0 marks the five undefined bytes.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t byteToCp(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

int cpToByte(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return 0x80 + i;
  }
  // The undefined bytes came in as their C1 code points.
  if (cp >= 0x80 && cp < 0xA0 && kHigh[cp - 0x80] == 0) return static_cast<int>(cp);
  return -1;
}

// Decodes one code point at s[i]; advances i. A malformed byte yields itself.
char32_t decodeOne(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    ++i;
    return b0;
  }
  if (i + len > s.size()) {
    ++i;
    return b0;
  }
  for (int k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return b0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return b0;
  }
  i += len;
  return cp;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) appendUtf8(out, byteToCp(static_cast<unsigned char>(c)));
  return out;
}

std::string utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t start = i;
    char32_t cp = decodeOne(utf8, i);
    if (i == start + 1 && static_cast<unsigned char>(utf8[start]) >= 0x80) {
      // A stray byte: keep it as it stands.
      out += utf8[start];
      continue;
    }
    int b = cpToByte(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

std::u32string toCodePoints(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out += decodeOne(utf8, i);
  return out;
}

std::string fromCodePoints(std::u32string_view cps) {
  std::string out;
  out.reserve(cps.size());
  for (char32_t c : cps) appendUtf8(out, c);
  return out;
}

std::size_t charCount(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++n) decodeOne(utf8, i);
  return n;
}

std::size_t charPrefixBytes(std::string_view utf8, std::size_t maxChars) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < maxChars && i < utf8.size(); ++n) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
    } else {
      decodeOne(utf8, i);
    }
  }
  return i;
}

std::string cutChars(std::string_view utf8, std::size_t maxChars) {
  return std::string(utf8.substr(0, charPrefixBytes(utf8, maxChars)));
}

std::string toUtf16le(std::string_view utf8) {
  std::string out;
  for (char32_t cp : toCodePoints(utf8)) {
    auto put = [&out](char16_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (cp >> 10)));
      put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put(static_cast<char16_t>(cp));
    }
  }
  return out;
}

char32_t lowerChar(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

char32_t upperChar(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  return c;
}

std::string toLower(std::string_view utf8) {
  std::u32string cps = toCodePoints(utf8);
  for (auto& c : cps) c = lowerChar(c);
  return fromCodePoints(cps);
}

std::string toUpper(std::string_view utf8) {
  std::u32string cps = toCodePoints(utf8);
  for (auto& c : cps) c = upperChar(c);
  return fromCodePoints(cps);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  // Names are nearly always ASCII: compare those in place. Text that differs
  // only in the case of A-Z is equal either way. The case mapping keeps ASCII
  // and other characters apart, so when one side is all ASCII nothing more can
  // make the two equal; only text with other characters on both sides needs
  // the full mapping.
  if (asciiEqualsIgnoreCase(a, b)) return true;
  if (isAscii(a) || isAscii(b)) return false;
  return toLower(a) == toLower(b);
}

bool asciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, pos - start));
    start = pos + 1;
  }
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.starts_with(prefix);
}
bool endsWith(std::string_view s, std::string_view suffix) {
  return s.ends_with(suffix);
}

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = vformat(fmt, args);
  va_end(args);
  return out;
}

std::tm utcCalendar(std::time_t t) {
  using namespace std::chrono;
  const sys_seconds at{seconds{static_cast<long long>(t)}};
  const sys_days day = floor<days>(at);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> hms{at - day};
  std::tm tm{};
  tm.tm_year = static_cast<int>(ymd.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
  tm.tm_hour = static_cast<int>(hms.hours().count());
  tm.tm_min = static_cast<int>(hms.minutes().count());
  tm.tm_sec = static_cast<int>(hms.seconds().count());
  tm.tm_wday = static_cast<int>(weekday{day}.c_encoding());
  tm.tm_yday = static_cast<int>((day - sys_days{ymd.year() / January / 1}).count());
  return tm;
}

}  // namespace tv
