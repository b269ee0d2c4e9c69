#include "directory/hresult.h"

#include <gtest/gtest.h>

#include "directory/sid.h"

namespace tv {
namespace {

TEST(LdapToHresult, TheResultsTheProductMeets) {
  EXPECT_EQ(hresultFromLdap(0), kSOk);
  EXPECT_EQ(hresultFromLdap(68), kAlreadyExists);
  EXPECT_EQ(hresultFromLdap(68), hresultOf(0x80071392));
  EXPECT_EQ(hresultFromLdap(32), hresultOf(0x80072030));
  EXPECT_EQ(hresultFromLdap(16), hresultOf(0x8007200A));
  EXPECT_EQ(hresultFromLdap(19), hresultOf(0x8007202F));
  EXPECT_EQ(hresultFromLdap(20), hresultOf(0x8007200D));
  EXPECT_EQ(hresultFromLdap(50), hresultOf(0x80070005));
  EXPECT_EQ(hresultFromLdap(53), hresultOf(0x80072035));
  EXPECT_EQ(hresultFromLdap(66), hresultOf(0x80072015));
  EXPECT_EQ(hresultFromLdap(49), hresultOf(0x8007052E));
  EXPECT_EQ(hresultFromLdap(81), hresultOf(0x8007203A));
  EXPECT_EQ(hresultFromLdap(4), kSizeLimitExceeded);
  EXPECT_EQ(ldapErrorToWin32(255), 8341u);  // unknown: ERROR_DS_GENERIC_ERROR
  EXPECT_EQ(hresultFromWin32(0), kSOk);
}

TEST(Sid, BinaryAndTextRoundTrip) {
  const std::string text = "S-1-5-21-3623811015-3361044348-30300820-1013";
  auto bytes = sidFromString(text);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_EQ(bytes->size(), 28u);
  EXPECT_EQ(static_cast<unsigned char>((*bytes)[1]), 5u);
  // 1013 = 0x3F5, little-endian in the last four bytes.
  EXPECT_EQ(static_cast<unsigned char>((*bytes)[24]), 0xF5u);
  EXPECT_EQ(static_cast<unsigned char>((*bytes)[25]), 0x03u);
  EXPECT_EQ(sidToString(*bytes), text);
  EXPECT_EQ(sidToString(*sidFromString("S-1-1-0")), "S-1-1-0");
}

TEST(Sid, RefusesMalformedInput) {
  EXPECT_FALSE(sidFromString("S-1").has_value());
  EXPECT_FALSE(sidFromString("S-2-5-21").has_value());
  EXPECT_FALSE(sidFromString("S-1-5-x").has_value());
  EXPECT_FALSE(sidFromString("S-1-5-4294967296").has_value());
  EXPECT_FALSE(sidToString("short").has_value());
  std::string bad = *sidFromString("S-1-5-21-1");
  bad.pop_back();
  EXPECT_FALSE(sidToString(bad).has_value());
}

TEST(Guid, PrintsTheWindowsWay) {
  const std::string bytes("\x40\xFC\x29\x6B\x47\xCA\x67\x10\xB3\x1D\x00\xDD\x01\x06\x62\xDA", 16);
  EXPECT_EQ(guidToString(bytes), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  EXPECT_FALSE(guidToString("x").has_value());
}

TEST(ExtendedErrorCode, TheCodeTheTextBeginsWithOrTheHresults) {
  EXPECT_EQ(extendedErrorCode(kConstraintViolation, "0000052D: Constraint violation"), 0x52D);
  EXPECT_EQ(extendedErrorCode(kAlreadyExists, "00002071: samldb: in use"), 0x2071);
  EXPECT_EQ(extendedErrorCode(kAlreadyExists, "0000ab0c: lower case"), 0xAB0C);
  EXPECT_EQ(extendedErrorCode(kAlreadyExists, "Entry already exists"), 0x1392);
  EXPECT_EQ(extendedErrorCode(kNoSuchObject, "0000208G: not hex"), 0x2030);
  EXPECT_EQ(extendedErrorCode(kNoSuchObject, "00002030"), 0x2030) << "no colon";
  EXPECT_EQ(extendedErrorCode(kEAdsBadPathname, ""), 0x5000);
}

}  // namespace
}  // namespace tv
