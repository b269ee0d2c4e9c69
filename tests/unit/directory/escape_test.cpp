#include "directory/escape.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(FilterEscape, EscapesTheFiveSpecialBytes) {
  EXPECT_EQ(escapeFilterValue("*)(cn=*"), "\\2a\\29\\28cn=\\2a");
  EXPECT_EQ(escapeFilterValue("a\\b"), "a\\5cb");
  EXPECT_EQ(escapeFilterValue(std::string("a\0b", 3)), "a\\00b");
  EXPECT_EQ(escapeFilterValue("Ærø ok"), "Ærø ok");
}

TEST(DnEscape, EscapesSpecialsAndEdges) {
  EXPECT_EQ(escapeDnValue("a,OU=x"), "a\\,OU=x");
  EXPECT_EQ(escapeDnValue("#1 "), "\\#1\\ ");
  EXPECT_EQ(escapeDnValue(" a"), "\\ a");
  EXPECT_EQ(escapeDnValue("a+b\"c<d>e;f\\g"), "a\\+b\\\"c\\<d\\>e\\;f\\\\g");
  EXPECT_EQ(escapeDnValue(std::string("a\nb", 3)), "a\\0ab");
  EXPECT_EQ(unescapeDnValue("a\\,b\\2Cc\\\\"), "a,b,c\\");
}

TEST(DnParse, SplitsRdnsAndResolvesEscapes) {
  auto rdns = parseDn("CN=a\\,OU=x , OU=Elev;DC=skole,DC=test");
  ASSERT_TRUE(rdns.has_value());
  ASSERT_EQ(rdns->size(), 4u);
  EXPECT_EQ((*rdns)[0].type, "CN");
  EXPECT_EQ((*rdns)[0].value, "a,OU=x");
  EXPECT_EQ((*rdns)[1].value, "Elev");
  EXPECT_EQ(formatDn(*rdns), "CN=a\\,OU=x,OU=Elev,DC=skole,DC=test");
  EXPECT_EQ(parseDn("")->size(), 0u);
  EXPECT_EQ(parseDn("CN=\"quoted, name\",DC=x")->front().value, "quoted, name");
  EXPECT_EQ(parseDn("CN=trailing\\ ,DC=x")->front().value, "trailing ");
}

TEST(DnParse, RefusesWhatIsNotADn) {
  EXPECT_FALSE(parseDn("no equals sign").has_value());
  EXPECT_FALSE(parseDn("CN=a,").has_value());
  EXPECT_FALSE(parseDn("=a").has_value());
  EXPECT_FALSE(parseDn("CN=a\\").has_value());
  EXPECT_FALSE(parseDn("C N=a").has_value());
}

TEST(DnCompare, IgnoresCaseBlanksAndEscapeForms) {
  EXPECT_TRUE(dnEquals("CN=Åse Ørn,OU=Elev,DC=Skole", "cn=åse ørn, ou=elev,dc=skole"));
  EXPECT_TRUE(dnEquals("CN=a\\2cb,DC=x", "CN=a\\,b,DC=x"));
  EXPECT_FALSE(dnEquals("CN=a,DC=x", "CN=a,DC=y"));
  EXPECT_TRUE(dnIsWithin("CN=a,OU=Elev,DC=x", "ou=elev,dc=x"));
  EXPECT_TRUE(dnIsWithin("OU=Elev,DC=x", "OU=Elev,DC=x"));
  EXPECT_FALSE(dnIsWithin("CN=a,OU=Elever,DC=x", "OU=Elev,DC=x"));
  EXPECT_FALSE(dnIsWithin("CN=a,OU=xOU=Elev,DC=x", "OU=Elev,DC=x"));
}

TEST(DnParts, LeafAndParent) {
  EXPECT_EQ(leafRdn("CN=a\\,b,OU=x,DC=y"), "CN=a\\,b");
  EXPECT_EQ(parentDn("CN=a\\,b,OU=x,DC=y"), "OU=x,DC=y");
  EXPECT_EQ(parentDn("DC=y"), "");
  EXPECT_EQ(leafRdn("garbage"), "");
}

TEST(LdapPath, SlashesAndServers) {
  EXPECT_EQ(pathFromDn("CN=a/b,DC=x"), "LDAP://CN=a\\/b,DC=x");
  EXPECT_EQ(dnFromPath("LDAP://CN=a\\/b,DC=x"), "CN=a/b,DC=x");
  EXPECT_EQ(dnFromPath("LDAP://dc1.skole.test/CN=a,DC=x"), "CN=a,DC=x");
  EXPECT_EQ(dnFromPath("ldap://CN=a,DC=x"), "CN=a,DC=x");
  EXPECT_EQ(dnFromPath("CN=a,DC=x"), "CN=a,DC=x");
}

TEST(CanonicalName, DomainThenContainersTopDown) {
  EXPECT_EQ(canonicalNameOf("CN=x,OU=Elev,OU=ZEB,DC=skole,DC=test"), "skole.test/ZEB/Elev/x");
  EXPECT_EQ(canonicalNameOf("DC=skole,DC=test"), "skole.test/");
  EXPECT_EQ(canonicalNameOf("CN=a/b,DC=x"), "x/a\\/b");
}

}  // namespace
}  // namespace tv
