#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/smb/smb_file_server.h"

namespace tv {
namespace fuzz {
int smbDescriptorFuzzOne(const std::uint8_t* data, std::size_t size);
}
namespace {

TEST(SmbText, UncPathsBecomeEscapedUrls) {
  EXPECT_EQ(smbUrl("\\\\fs\\home\\A\\abc"), "smb://fs/home/A/abc");
  EXPECT_EQ(smbUrl("\\\\fs\\grupper/7a"), "smb://fs/grupper/7a");
  EXPECT_EQ(smbUrl("\\\\fs\\home\\abd.bw_omdøb"), "smb://fs/home/abd.bw_omd%C3%B8b");
  EXPECT_EQ(smbUrl("\\\\fs\\home\\a b#c?d@e;f%"), "smb://fs/home/a%20b%23c%3Fd%40e%3Bf%25");
  EXPECT_EQ(smbUrl("\\\\fs\\abc$\\"), "smb://fs/abc$");
}

TEST(SmbText, DescriptorTextInBothNumberForms) {
  auto entries = parseSecurityDescriptor(
      "REVISION:1,CONTROL:0x8004,OWNER:S-1-5-32-544,GROUP:S-1-5-21-1-513,"
      "ACL:S-1-5-21-1-1101:0/3/0x001200a9,ACL:S-1-5-18:1/0x13/0x001fffff\n"
      "ACL:S-1-5-32-544:0/0xb/0x80000000,ACL:bad:0/3,ACL:S-1-1-0:0/300/0x1");
  std::vector<AccessEntry> want = {{"S-1-5-21-1-1101", 0x1200A9, 3, AccessEntry::kAllow},
                                   {"S-1-5-18", 0x1FFFFF, 0x13, AccessEntry::kDeny},
                                   {"S-1-5-32-544", 0x80000000u, 0xB, AccessEntry::kAllow}};
  EXPECT_EQ(entries, want);
  EXPECT_EQ(formatAccessList({want[0], want[1]}),
            "REVISION:1,ACL:S-1-5-21-1-1101:0/3/1179817,ACL:S-1-5-18:1/19/2097151");
}

TEST(SmbText, CredentialsFile) {
  auto c = parseSmbCredentials("# skole\nusername = fildrift\r\npassword = a=b c\ndomain=SKOLE\n");
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->kerberos);
  EXPECT_EQ(c->user, "fildrift");
  EXPECT_EQ(c->password, "a=b c");
  EXPECT_EQ(c->domain, "SKOLE");
  EXPECT_FALSE(parseSmbCredentials("password = x\n")) << "no user, no credentials";
  std::string why;
  EXPECT_FALSE(loadSmbCredentials("/nonexistent/smb.cred", &why));
  EXPECT_NE(why.find("cannot read /nonexistent/smb.cred"), std::string::npos) << why;
}

TEST(SmbText, ServerServiceStatuses) {
  EXPECT_EQ(shareStatusToHresult(0, false), kSOk);
  EXPECT_EQ(shareStatusToHresult(2118, false), kShareExists);
  EXPECT_EQ(shareStatusToHresult(80, false), kShareExists);
  EXPECT_EQ(shareStatusToHresult(2310, true), kShareNotFound);
  EXPECT_EQ(shareStatusToHresult(123, true), kShareNotFound) << "Samba's answer for a lookup";
  EXPECT_EQ(shareStatusToHresult(123, false), hresultOf(0x8007007B));
  EXPECT_EQ(shareStatusToHresult(5, false), hresultOf(0x80070005));
}

TEST(SmbText, FuzzTargetOverNastyInputs) {
  for (std::string input : {std::string(""), std::string("ACL:"), std::string("ACL::::/"),
                            std::string("ACL:S-1:0/0/0x\0", 14), std::string("ACL:x,y:0/3/1"),
                            std::string("ACL:S-1-5-18:0/3/0xfffffffff"),
                            std::string("username=\xff\xfe\n\n=\n"), std::string(5000, '\\')}) {
    EXPECT_EQ(fuzz::smbDescriptorFuzzOne(reinterpret_cast<const std::uint8_t*>(input.data()),
                                         input.size()),
              0);
  }
}

}  // namespace
}  // namespace tv
