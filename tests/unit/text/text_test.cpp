#include "text/text.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(Text, Cp1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
  EXPECT_EQ(cp1252ToUtf8("\xE6\xF8\xE5\x80"), "æøå€");
  EXPECT_EQ(utf8ToCp1252("Ω"), "?");
}

TEST(Text, CutsOnCharacterBoundaries) {
  EXPECT_EQ(cutChars("æøåabc", 4), "æøåa");
  EXPECT_EQ(charCount("æøå"), 3u);
  EXPECT_EQ(cutChars("ab", 10), "ab");
}

TEST(Text, CaseMappingCoversDanishLetters) {
  EXPECT_EQ(toLower("ÆRØ Å"), "ærø å");
  EXPECT_EQ(toUpper("kæmpe"), "KÆMPE");
  EXPECT_TRUE(equalsIgnoreCase("Mappe", "MAPPE"));
  EXPECT_TRUE(equalsIgnoreCase("Ærø-Mappe", "æRØ-mappe"));
  EXPECT_FALSE(equalsIgnoreCase("Mappe", "Mappen"));
  EXPECT_FALSE(equalsIgnoreCase("ærø", "æro"));
  // The ASCII folding leaves every other letter as written.
  EXPECT_EQ(asciiToLower("ÆbLE-Øst"), "Æble-Øst");
}

TEST(Text, CaseInsensitiveEqualityAcrossAsciiAndOtherText) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"sAMAccountName", "SAMACCOUNTNAME", true},
      {"ÆBLE", "æble", true},
      {"\xC6", "\xE6", true},    // lone Latin-1 bytes fold as their letters
      {"Aeble", "Æble", false},  // ASCII on one side never meets another letter
      {"æble", "AEBLE", false},
      {"mail", "mai", false},
      {"", "", true},
      {"", "x", false},
      {"[", "{", false},  // only A-Z fold: '[' is 'Z' + 1
  };
  for (const Case& c : cases) {
    EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(equalsIgnoreCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
  }
}

TEST(Text, Utf16LittleEndian) {
  EXPECT_EQ(toUtf16le("\"a\""), std::string("\"\0a\0\"\0", 6));
  EXPECT_EQ(toUtf16le("€"), std::string("\xAC\x20", 2));
}

TEST(Text, SplitKeepsEmptyPieces) {
  EXPECT_EQ(split("a::b", ':'), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(trim("  x \r\n"), "x");
}

TEST(Text, UtcCalendarAcrossLeapDaysCenturiesAndBeforeTheEpoch) {
  struct Case {
    std::time_t t;
    int year, mon, mday, hour, min, sec, wday, yday;
  };
  const Case cases[] = {
      {0, 70, 0, 1, 0, 0, 0, 4, 0},
      {-1, 69, 11, 31, 23, 59, 59, 3, 364},
      {951782400, 100, 1, 29, 0, 0, 0, 2, 59},
      {951868800, 100, 2, 1, 0, 0, 0, 3, 60},
      {1655462572, 122, 5, 17, 10, 42, 52, 5, 167},
      {4102444800, 200, 0, 1, 0, 0, 0, 5, 0},
  };
  for (const Case& c : cases) {
    const std::tm tm = utcCalendar(c.t);
    EXPECT_EQ((std::vector<int>{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                tm.tm_wday, tm.tm_yday, tm.tm_isdst}),
              (std::vector<int>{c.year, c.mon, c.mday, c.hour, c.min, c.sec, c.wday, c.yday, 0}))
        << c.t;
  }
}

}  // namespace
}  // namespace tv
