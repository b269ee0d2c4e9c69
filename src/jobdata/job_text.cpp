#include "jobdata/job_text.h"

#include <array>

#include "text/text.h"

namespace tv {

bool isSpecialChar(char32_t c) {
  switch (c) {
    case '"':
    case '*':
    case '+':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '[':
    case '\\':
    case ']':
    case '|':
      return true;
    default:
      return false;
  }
}

std::string foldName(std::string_view text) {
  constexpr std::size_t kMaxChars = 199;
  std::u32string in = toCodePoints(cutChars(text, kMaxChars));
  std::string out;
  std::size_t chars = 0;
  auto put = [&](std::string_view piece) {
    for (char c : piece) {
      if (chars == kMaxChars) return;
      out.push_back(c);
      ++chars;
    }
  };
  for (char32_t c : in) {
    if (chars == kMaxChars) break;
    if (isSpecialChar(c) || c == ' ') continue;
    switch (c) {
      case U'æ':
        put("ae");
        break;
      case U'Æ':
        put("AE");
        break;
      case U'ø':
        put("o");
        break;
      case U'Ø':
        put("O");
        break;
      case U'å':
        put("a");
        break;
      case U'Å':
        put("A");
        break;
      default:
        appendUtf8(out, c);
        ++chars;
    }
  }
  return out;
}

std::string_view monthName(int month) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "januar", "februar", "marts",     "april",   "maj",      "juni",
      "juli",   "august",  "september", "oktober", "november", "december"};
  if (month < 1 || month > 12) return {};
  return kNames[static_cast<std::size_t>(month - 1)];
}

long dayNumber(long date) {
  const long year = date / 10000;
  const long month = (date % 10000) / 100;
  const long day = date % 100;
  auto daysBefore = [](long y) { return 365 * y + (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400; };
  // Days from the first of March … December to the next 1 January.
  static constexpr std::array<long, 10> kToNewYear = {306, 275, 245, 214, 184,
                                                      153, 122, 92,  61,  31};
  if (month <= 1) return daysBefore(year) + day;
  if (month == 2) return daysBefore(year) + 31 + day;
  const long m = month > 12 ? 12 : month;
  return daysBefore(year + 1) - kToNewYear[static_cast<std::size_t>(m - 3)] + day;
}

long dayDifference(long a, long b) {
  return dayNumber(a) - dayNumber(b);
}

long todayNumber(const Clock& clock) {
  std::tm tm = clock.localTime(clock.now());
  return (tm.tm_year + 1900L) * 10000 + (tm.tm_mon + 1L) * 100 + tm.tm_mday;
}

}  // namespace tv
