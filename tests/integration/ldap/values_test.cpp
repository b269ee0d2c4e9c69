// The LDAP adapter's translations that need no server.
#include "platform/ldap/ldap_values.h"

#include <gtest/gtest.h>

namespace tv::ldap {
namespace {

TEST(LdapResultCodes, ClientSideFailuresTakeTheWindowsNumbers) {
  EXPECT_EQ(windowsLdapCode(-1), 81);   // server down
  EXPECT_EQ(windowsLdapCode(-7), 87);   // filter error
  EXPECT_EQ(windowsLdapCode(-11), 91);  // connect error
  EXPECT_EQ(windowsLdapCode(32), 32);
  EXPECT_EQ(hresultOfLdap(-1), kServerDown);
  EXPECT_EQ(hresultOfLdap(-7), kEAdsInvalidFilter);
  EXPECT_EQ(hresultOfLdap(68), kAlreadyExists);
  EXPECT_EQ(hresultOfLdap(32), kNoSuchObject);
  EXPECT_EQ(hresultOfLdap(16), kNoAttributeOrValue);
  EXPECT_EQ(hresultOfLdap(0), kSOk);
  EXPECT_TRUE(isConnectionLost(-1));
  EXPECT_TRUE(isConnectionLost(-11));
  EXPECT_FALSE(isConnectionLost(-7));
  EXPECT_FALSE(isConnectionLost(52));
  // The Windows client's own numbers come back to OpenLDAP's, so an adapter
  // over it maps a dropped connection and a bad filter as libldap's does.
  for (int code = -17; code <= 0; ++code) EXPECT_EQ(openldapCode(windowsLdapCode(code)), code);
  EXPECT_EQ(openldapCode(81), -1);
  EXPECT_EQ(openldapCode(91), -11);
  EXPECT_EQ(openldapCode(80), 80);  // "other" comes from the server
  EXPECT_EQ(openldapCode(68), 68);
  EXPECT_EQ(openldapCode(113), 113);
  EXPECT_TRUE(isConnectionLost(openldapCode(81)));
  EXPECT_EQ(hresultOfLdap(openldapCode(87)), kEAdsInvalidFilter);
}

TEST(LdapSyntaxes, ActiveDirectorySyntaxesAsTheDirectoryInterfacesShowThem) {
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.12"), AdsType::kCaseIgnoreString);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.10"), AdsType::kOctetString);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.17"), AdsType::kOctetString);  // objectSid
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.1"), AdsType::kDnString);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.9"), AdsType::kInteger);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.16"), AdsType::kLargeInteger);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.8"), AdsType::kBoolean);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.11"), AdsType::kUtcTime);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.15"), AdsType::kNtSecurityDescriptor);
  EXPECT_EQ(adsTypeOfSyntax("2.5.5.1x"), AdsType::kInvalid);
  EXPECT_EQ(adsTypeOfSyntax(""), AdsType::kInvalid);
}

TEST(LdapRangedNames, RangesOfLargeAttributes) {
  auto first = parseRangedName("member;range=0-1499");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->attribute, "member");
  EXPECT_EQ(first->low, 0u);
  EXPECT_EQ(first->high, 1499u);
  auto last = parseRangedName("member;Range=1500-*");
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->low, 1500u);
  EXPECT_FALSE(last->high.has_value());
  for (const char* bad : {"member", ";range=0-1", "member;range=", "member;range=5-1",
                          "member;range=a-b", "member;range=0-", "member;range=-5",
                          "member;range=0-99999999999", "member;range=0-1;binary"}) {
    EXPECT_FALSE(parseRangedName(bad).has_value()) << bad;
  }
}

TEST(LdapPasswordValue, QuotedUtf16LittleEndian) {
  EXPECT_EQ(unicodePwdValue("Ab1"), std::string("\"\0A\0b\0001\0\"\0", 10));
  // "æ" is U+00E6: one UTF-16 unit.
  EXPECT_EQ(unicodePwdValue("\xC3\xA6"), std::string("\"\0\xE6\0\"\0", 6));
  EXPECT_EQ(unicodePwdValue(""), std::string("\"\0\"\0", 4));
}

TEST(LdapAttributeNames, OnlyNamesReachTheWire) {
  EXPECT_TRUE(isAttributeName("sAMAccountName"));
  EXPECT_TRUE(isAttributeName("msDS-cloudExtensionAttribute1"));
  EXPECT_TRUE(isAttributeName("userCertificate;binary"));
  EXPECT_FALSE(isAttributeName(""));
  EXPECT_FALSE(isAttributeName("cn)(x"));
  EXPECT_FALSE(isAttributeName("cn x"));
  EXPECT_FALSE(isAttributeName(std::string(256, 'a')));
}

}  // namespace
}  // namespace tv::ldap

namespace tv::ldap {
namespace {

TEST(LdapWireDn, EveryRdnValueEscapedForTheServer) {
  EXPECT_EQ(wireDn("CN=a\\,OU=x,OU=D,DC=skole,DC=test"), "CN=a\\,OU\\=x,OU=D,DC=skole,DC=test");
  EXPECT_EQ(wireDn("CN=a\\2cb,DC=test"), "CN=a\\,b,DC=test");
  EXPECT_EQ(wireDn("CN=Anna Berg,OU=Elev,DC=skole,DC=test"),
            "CN=Anna Berg,OU=Elev,DC=skole,DC=test");
  EXPECT_EQ(wireDn(""), "");
  EXPECT_EQ(wireDn("ikke et dn"), "ikke et dn");
  EXPECT_EQ(wireRdn(Rdn{"CN", "a=b,c"}), "CN=a\\=b\\,c");
}

}  // namespace
}  // namespace tv::ldap
