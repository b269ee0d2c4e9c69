#include "platform/memory/ldif.h"

#include <gtest/gtest.h>

namespace tv::memdir {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(LdifParse, RecordsBase64ContinuationsAndComments) {
  const std::string text =
      "version: 1\n"
      "# a comment\n"
      "dn: CN=Anna,DC=x\n"
      "objectClass: user\n"
      "description: en lang\n"
      "  linje\n"
      "sn:: QsO4Z2g=\n"
      "empty:\n"
      "\n"
      "\n"
      "dn:: Q049w4VzZSxEQz14\r\n"
      "changetype: add\r\n"
      "cn: Åse\r\n";
  auto p = parseLdif(text);
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.records.size(), 2u);
  EXPECT_EQ(p.records[0].dn, "CN=Anna,DC=x");
  EXPECT_EQ(p.records[0].line, 3);
  EXPECT_EQ(p.records[0].values, (Pairs{{"objectClass", "user"},
                                        {"description", "en lang linje"},
                                        {"sn", "Bøgh"},
                                        {"empty", ""}}));
  EXPECT_EQ(p.records[1].dn, "CN=Åse,DC=x");
  EXPECT_EQ(p.records[1].values, (Pairs{{"cn", "Åse"}}));
}

TEST(LdifParse, ErrorsNameTheirLine) {
  EXPECT_EQ(parseLdif("dn: CN=a\nchangetype: delete\n").error,
            "line 2: only content records and \"changetype: add\" are read");
  EXPECT_EQ(parseLdif("cn: a\n").error, "line 1: a record must begin with \"dn:\"");
  EXPECT_EQ(parseLdif(" cont\n").error, "line 1: continuation line without a line to continue");
  EXPECT_EQ(parseLdif("dn: CN=a\njpegPhoto:< file:///etc/passwd\n").error,
            "line 2: URL values are not supported");
  EXPECT_EQ(parseLdif("dn: CN=a\nsn:: ***\n").error, "line 2: bad base64 value");
  EXPECT_EQ(parseLdif("dn: CN=a\nno colon\n").error, "line 2: \"attribute: value\" expected");
  EXPECT_EQ(parseLdif("dn: CN=a\ndn: CN=b\n").error, "line 2: a second \"dn:\" in one record");
}

TEST(LdifWrite, SafeStringsPlainOthersBase64AndFolded) {
  LdifRecord r;
  r.dn = "CN=a,DC=x";
  r.values = {{"sn", "Berg"},
              {"givenName", "Åse"},
              {"description", " leading"},
              {"objectSid", std::string("\x01\x00", 2)},
              {"info", std::string(100, 'x')}};
  std::string out;
  writeLdifRecord(out, r);
  EXPECT_EQ(out,
            "dn: CN=a,DC=x\n"
            "sn: Berg\n"
            "givenName:: w4VzZQ==\n"
            "description:: IGxlYWRpbmc=\n"
            "objectSid:: AQA=\n"
            "info: " +
                std::string(70, 'x') + "\n " + std::string(30, 'x') +
                "\n"
                "\n");
  auto back = parseLdif(out);
  ASSERT_EQ(back.error, "");
  EXPECT_EQ(back.records.at(0).values, r.values);
}

TEST(Base64, RoundTripsEveryLength) {
  std::string bytes;
  for (int n = 0; n < 10; ++n) {
    std::string decoded;
    ASSERT_TRUE(base64Decode(base64Encode(bytes), decoded));
    EXPECT_EQ(decoded, bytes);
    bytes += static_cast<char>(0xF0 + n);
  }
  std::string d;
  EXPECT_TRUE(base64Decode("QQ", d));
  EXPECT_EQ(d, "A");
  EXPECT_FALSE(base64Decode("QR==", d));  // stray bits in the last group
  EXPECT_FALSE(base64Decode("Q=Q=", d));
}

}  // namespace
}  // namespace tv::memdir
