#include "platform/memory/filter.h"

#include <gtest/gtest.h>

namespace tv::memdir {
namespace {

using Kind = Filter::Kind;

TEST(FilterParse, TheProductsUserListFilter) {
  auto p = parseFilter(
      "(&(objectCategory=person)(objectClass=user)(cn=*)"
      "(!(userAccountControl:1.2.840.113556.1.4.803:=2)))");
  ASSERT_TRUE(p.filter.has_value()) << p.error;
  const Filter& f = *p.filter;
  EXPECT_EQ(f.kind, Kind::kAnd);
  ASSERT_EQ(f.children.size(), 4u);
  EXPECT_EQ(f.children[0].kind, Kind::kEqual);
  EXPECT_EQ(f.children[0].attr, "objectCategory");
  EXPECT_EQ(f.children[0].value, "person");
  EXPECT_EQ(f.children[2].kind, Kind::kPresent);
  const Filter& ext = f.children[3].children.at(0);
  EXPECT_EQ(ext.kind, Kind::kExtensible);
  EXPECT_EQ(ext.attr, "userAccountControl");
  EXPECT_EQ(ext.rule, "1.2.840.113556.1.4.803");
  EXPECT_EQ(ext.value, "2");
}

TEST(FilterParse, SubstringsAndEscapes) {
  auto p = parseFilter("(cn=a\\2a*b\\28*\\29c)");
  ASSERT_TRUE(p.filter.has_value()) << p.error;
  EXPECT_EQ(p.filter->kind, Kind::kSubstring);
  EXPECT_EQ(p.filter->initial, "a*");
  EXPECT_EQ(p.filter->any, std::vector<std::string>{"b("});
  EXPECT_EQ(p.filter->final, ")c");
  auto e = parseFilter("(cn=\\2a\\29\\28cn=\\2a)");
  ASSERT_TRUE(e.filter.has_value());
  EXPECT_EQ(e.filter->kind, Kind::kEqual);
  EXPECT_EQ(e.filter->value, "*)(cn=*");
}

TEST(FilterParse, OperatorsOptionsAndBareItems) {
  EXPECT_EQ(parseFilter("(uSNChanged>=10)").filter->kind, Kind::kGreaterOrEqual);
  EXPECT_EQ(parseFilter("(sn<=m)").filter->kind, Kind::kLessOrEqual);
  EXPECT_EQ(parseFilter("(sn~=berg)").filter->kind, Kind::kApprox);
  EXPECT_EQ(parseFilter("(userCertificate;binary=*)").filter->attr, "userCertificate");
  EXPECT_EQ(parseFilter("objectClass=user").filter->value, "user");
  auto dn = parseFilter("(cn:dn:2.5.13.5:=x)");
  ASSERT_TRUE(dn.filter.has_value());
  EXPECT_TRUE(dn.filter->dnAttributes);
  EXPECT_EQ(dn.filter->rule, "2.5.13.5");
  EXPECT_EQ(parseFilter("(&)").filter->children.size(), 0u);
}

TEST(FilterParse, RefusesBrokenAndPastedFilters) {
  for (const char* bad :
       {"", "(", "()", "(cn=a", "(cn=a))", "(cn=*)(cn=*)", "(cn=a(b)", "(cn=\\zz)", "(cn=\\2)",
        "(!(cn=a)(cn=b))", "(cn=a**b)", "(=a)", "(cn:=)x", "(:=x)", "(cn>a)"}) {
    auto p = parseFilter(bad);
    EXPECT_FALSE(p.filter.has_value()) << bad;
    EXPECT_FALSE(p.error.empty()) << bad;
  }
}

TEST(FilterParse, DeepNestingIsRefusedNotOverflowed) {
  std::string deep;
  for (int k = 0; k < 10000; ++k) deep += "(!";
  deep += "(cn=a)";
  for (int k = 0; k < 10000; ++k) deep += ")";
  auto p = parseFilter(deep);
  EXPECT_FALSE(p.filter.has_value());
  EXPECT_NE(p.error.find("nested too deeply"), std::string::npos);
}

}  // namespace
}  // namespace tv::memdir
