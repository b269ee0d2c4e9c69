#include "config/setting_values.h"

#include <cstdint>
#include <limits>

#include "text/text.h"

namespace tv {
namespace {

bool isCBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Blanks and a sign, as strtol reads them; returns true for a minus.
bool takeSign(std::string_view& s) {
  while (!s.empty() && isCBlank(s.front())) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  return negative;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseYesNo(std::string_view text) {
  return !text.empty() && (text.front() == 'J' || text.front() == 'j');
}

int parseInteger(std::string_view text) {
  const bool negative = takeSign(text);
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<int>::max()} + 1;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value <= kLimit) value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

std::uint32_t parseHexMask(std::string_view text) {
  const bool negative = takeSign(text);
  // "0x" counts only when a hex digit follows; "0xg" reads as 0.
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
      hexDigit(text[2]) >= 0) {
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (char c : text) {
    int d = hexDigit(c);
    if (d < 0) break;
    value = value * 16 + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  auto v = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - v) : v;
}

int parseShareMode(std::string_view text) {
  if (equalsIgnoreCase(text, "mappe")) return 2;
  return parseYesNo(text) ? 1 : 0;
}

int parseMailMode(std::string_view text) {
  if (equalsIgnoreCase(text, "mailbox")) return 4;
  return parseYesNo(text) ? 3 : 0;
}

int deletionDays(int days, bool forceSlet) {
  if (days < 0) return 0;
  if (days >= 1 && days <= 99 && !forceSlet) return 100;
  return days;
}

}  // namespace tv
