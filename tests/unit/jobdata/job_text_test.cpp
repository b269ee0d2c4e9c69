#include "jobdata/job_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fakes.h"

namespace tv {
namespace {

TEST(FoldName, SpellsDanishLettersAndDropsBlanksAndSpecials) {
  EXPECT_EQ(foldName("Søren Ærø"), "SorenAEro");
  EXPECT_EQ(foldName("Ærø Hold"), "AEroHold");
  EXPECT_EQ(foldName("Å-å.æ_Ø"), "A-a.ae_O");
  EXPECT_EQ(foldName("a\"*+,/:;<=>?[\\]|b"), "ab");
  EXPECT_EQ(foldName("é ü"), "éü");  // other letters stay
  EXPECT_EQ(foldName(""), "");
}

TEST(FoldName, InputAndResultStopAt199Characters) {
  EXPECT_EQ(foldName(std::string(250, 'x')), std::string(199, 'x'));
  // 199 input characters become 398 when every one doubles; the result stops at 199.
  EXPECT_EQ(foldName(std::string(150, ' ') + "æææ"), "aeaeae");
  std::string doubled;
  std::string expected;
  for (int i = 0; i < 150; ++i) doubled += "æ";
  for (int i = 0; i < 99; ++i) expected += "ae";
  EXPECT_EQ(foldName(doubled), expected + "a");
}

TEST(SpecialChar, ExactlyTheFifteen) {
  std::string specials = "\"*+,/:;<=>?[\\]|";
  int count = 0;
  for (char32_t c = 0; c < 0x300; ++c) {
    bool expected = c < 0x80 && specials.find(static_cast<char>(c)) != std::string::npos;
    EXPECT_EQ(isSpecialChar(c), expected) << static_cast<unsigned>(c);
    count += isSpecialChar(c) ? 1 : 0;
  }
  EXPECT_EQ(count, 15);
}

TEST(MonthName, DanishNames) {
  const char* names[] = {"januar", "februar", "marts",     "april",   "maj",      "juni",
                         "juli",   "august",  "september", "oktober", "november", "december"};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(monthName(m), names[m - 1]);
  EXPECT_EQ(monthName(0), "");
  EXPECT_EQ(monthName(13), "");
  EXPECT_EQ(monthName(-1), "");
}

TEST(DayNumber, DifferencesAcrossMonthsYearsAndLeapDays) {
  EXPECT_EQ(dayDifference(20240301, 20240228), 2);
  EXPECT_EQ(dayDifference(20230301, 20230228), 1);
  EXPECT_EQ(dayDifference(20000301, 20000228), 2);  // 2000 is a leap year
  EXPECT_EQ(dayDifference(19000301, 19000228), 1);  // 1900 is not
  EXPECT_EQ(dayDifference(20240101, 20231231), 1);
  EXPECT_EQ(dayDifference(20250101, 20240101), 366);
  EXPECT_EQ(dayDifference(20240201, 20240131), 1);
  EXPECT_EQ(dayDifference(20241231, 20240101), 365);
  EXPECT_EQ(dayDifference(20220617, 20220617), 0);
  EXPECT_EQ(dayDifference(20220101, 20220617), -167);
  // Every consecutive pair of days in a leap and a common year is one apart.
  const int lengths[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  long previous = dayNumber(20231231);
  for (int m = 1; m <= 12; ++m) {
    for (int d = 1; d <= lengths[m - 1]; ++d) {
      long n = dayNumber(20240000L + m * 100 + d);
      EXPECT_EQ(n - previous, 1) << m << "/" << d;
      previous = n;
    }
  }
}

TEST(DayNumber, MonthsOutsideTheCalendarStayInBounds) {
  EXPECT_EQ(dayNumber(20241301), dayNumber(20241201));
  EXPECT_EQ(dayNumber(20240001), dayNumber(20240101));
}

TEST(DayNumber, TodayComesFromTheClock) {
  test::FakeClock clock;  // 2022-06-17 10:42:52
  EXPECT_EQ(todayNumber(clock), 20220617);
  clock.t += 14 * 3600;
  EXPECT_EQ(todayNumber(clock), 20220618);
}

}  // namespace
}  // namespace tv
