#include "config/setting_values.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(SettingValues, IntegerReadsLeadingDigitsLikeAtoi) {
  EXPECT_EQ(parseInteger("42"), 42);
  EXPECT_EQ(parseInteger(" \t-17dage"), -17);
  EXPECT_EQ(parseInteger("+8"), 8);
  EXPECT_EQ(parseInteger("abc"), 0);
  EXPECT_EQ(parseInteger(""), 0);
  EXPECT_EQ(parseInteger("- 5"), 0);
  EXPECT_EQ(parseInteger("2147483647"), 2147483647);
  EXPECT_EQ(parseInteger("2147483648"), 2147483647);
  EXPECT_EQ(parseInteger("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseInteger("-99999999999999999999999"), -2147483647 - 1);
}

TEST(SettingValues, HexMaskReadsLikeStrtoulInBase16) {
  EXPECT_EQ(parseHexMask("1F01FF"), 0x1F01FFu);
  EXPECT_EQ(parseHexMask("0x1301bf"), 0x1301BFu);
  EXPECT_EQ(parseHexMask("  0X10"), 0x10u);
  EXPECT_EQ(parseHexMask("0xg"), 0u);
  EXPECT_EQ(parseHexMask("zz"), 0u);
  EXPECT_EQ(parseHexMask("12 34"), 0x12u);
  EXPECT_EQ(parseHexMask("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parseHexMask("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(parseHexMask("100000000"), 0xFFFFFFFFu);
  EXPECT_EQ(parseHexMask("-100000000"), 0xFFFFFFFFu);
}

TEST(SettingValues, YesNoShareAndMailModes) {
  EXPECT_TRUE(parseYesNo("Ja"));
  EXPECT_TRUE(parseYesNo("j"));
  EXPECT_FALSE(parseYesNo("Yes"));
  EXPECT_FALSE(parseYesNo(" Ja"));
  EXPECT_FALSE(parseYesNo(""));
  EXPECT_EQ(parseShareMode("MAPPE"), 2);
  EXPECT_EQ(parseShareMode("Mappe "), 0);
  EXPECT_EQ(parseShareMode("Ja"), 1);
  EXPECT_EQ(parseShareMode("Nej"), 0);
  EXPECT_EQ(parseMailMode("Mailbox"), 4);
  EXPECT_EQ(parseMailMode("ja"), 3);
  EXPECT_EQ(parseMailMode("mailboxes"), 0);
}

TEST(SettingValues, DeletionDays) {
  EXPECT_EQ(deletionDays(-4, false), 0);
  EXPECT_EQ(deletionDays(-4, true), 0);
  EXPECT_EQ(deletionDays(0, false), 0);
  EXPECT_EQ(deletionDays(1, false), 100);
  EXPECT_EQ(deletionDays(99, false), 100);
  EXPECT_EQ(deletionDays(30, true), 30);
  EXPECT_EQ(deletionDays(100, false), 100);
  EXPECT_EQ(deletionDays(365, false), 365);
}

}  // namespace
}  // namespace tv
