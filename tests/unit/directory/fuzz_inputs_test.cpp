// The fuzz targets' logic over a few nasty inputs, so the normal test run
// exercises it too.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tv::fuzz {
int filterFuzzOne(const std::uint8_t* data, std::size_t size);
int ldifFuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace tv::fuzz

namespace tv {
namespace {

int run(int (*target)(const std::uint8_t*, std::size_t), const std::string& input) {
  return target(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FuzzTargets, FilterSurvivesNastyInput) {
  for (const std::string& input :
       {std::string(""), std::string("(((((((("), std::string("(cn=\\"), std::string("(cn=\\2"),
        std::string("(&(|(!(cn=*a*b*c*))))"), std::string("(cn:=\xff\xfe)"),
        std::string("(userAccountControl:1.2.840.113556.1.4.803:=99999999999999999999)"),
        std::string("(objectSid=S-1-5-21-)"), std::string("(memberOf=cn=\\00,dc=x)"),
        std::string("(whenCreated>=\xc3)"), std::string("(cn=a\0b)", 8)}) {
    EXPECT_EQ(run(fuzz::filterFuzzOne, input), 0);
  }
}

TEST(FuzzTargets, LdifSurvivesNastyInput) {
  for (const std::string& input :
       {std::string(""), std::string("\n\n\n"), std::string("dn:"), std::string("dn::"),
        std::string("dn: DC=x\nobjectClass: domainDNS\n x\n"),
        std::string("dn: DC=x\nobjectClass: domainDNS\nmember: CN=\\00,DC=x\n"),
        std::string("dn: DC=x\nobjectClass: domainDNS\n\ndn: CN=a\\,b,DC=x\nobjectClass: user\n"),
        std::string("dn:: Q049XCxEQz14\nobjectClass: x\n"), std::string("version: 2\n"),
        std::string("dn: DC=x\r\nobjectClass:: //79\r\n")}) {
    EXPECT_EQ(run(fuzz::ldifFuzzOne, input), 0);
  }
}

}  // namespace
}  // namespace tv
