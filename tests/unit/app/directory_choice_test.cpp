#include "platform/app/directory_choice.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace tv {
namespace {

struct Choice : ::testing::Test {
  test::LogFixture logs;
  Runtime rt{logs.log, Ports{.clock = &logs.clock}, logs.folder.path()};
  DirectoryChoice choice;
};

constexpr const char* kSnapshot =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

TEST_F(Choice, WithoutAServerTheSnapshotIsTheDirectoryAndAChangeIsWrittenBack) {
  logs.folder.write("directory.ldif", kSnapshot);
  choice.open(rt);
  ASSERT_NE(rt.ports.directory, nullptr);
  EXPECT_TRUE(choice.usesSnapshot());
  EXPECT_TRUE(rt.ports.directory->bind("LDAP://OU=ZEB,DC=skole,DC=test").ok());

  // Nothing changed: the file is left exactly as the school wrote it.
  choice.saveIfChanged(rt);
  EXPECT_EQ(logs.folder.read("directory.ldif"), kSnapshot);

  auto zeb = rt.ports.directory->bind("LDAP://OU=ZEB,DC=skole,DC=test");
  auto ou = zeb.value->create("organizationalUnit", "OU=Elev");
  ASSERT_TRUE(ou.ok());
  ASSERT_EQ(ou.value->setInfo(), kSOk);
  choice.saveIfChanged(rt);
  EXPECT_NE(logs.folder.read("directory.ldif").find("dn: OU=Elev,OU=ZEB,DC=skole,DC=test\n"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(logs.folder.file("directory.ldif.ny")));
  // The snapshot was written by hand: the load told what it gave its objects.
  EXPECT_EQ(logs.text(),
            "** Info: Katalogfilen manglede objectGUID, objectSid eller objectCategory på 2 "
            "objekter; de har fået dem, som AD giver dem.\n");
}

TEST_F(Choice, ABrokenSnapshotIsReportedAndNoDirectoryIsUsed) {
  logs.folder.write("directory.ldif", "dn: DC=skole,DC=test\n\n");  // no objectClass
  choice.open(rt);
  EXPECT_EQ(rt.ports.directory, nullptr);
  EXPECT_NE(logs.text().find("** Fejl: Katalogfilen " + logs.folder.file("directory.ldif") +
                             " kan ikke læses: "),
            std::string::npos)
      << logs.text();
  choice.saveIfChanged(rt);  // nothing to write, and no crash
  EXPECT_EQ(logs.folder.read("directory.ldif"), "dn: DC=skole,DC=test\n\n");
}

TEST_F(Choice, AServerInTheSettingsIsUsedInsteadOfTheSnapshot) {
  logs.folder.write("directory.ldif", kSnapshot);
  // A port nothing listens on: the adapter is chosen all the same, and
  // reports the server as down when it is used.
  logs.folder.write("Tavlevagt.ini",
                    "[LDAP]\r\nLdapServer=ldap://127.0.0.1:9\r\nLdapBind=simple\r\n"
                    "LdapBindName=x\r\nLdapPasswordFile=" +
                        logs.folder.file("pw") + "\r\n");
  logs.folder.write("pw", "secret");
  choice.open(rt);
  EXPECT_FALSE(choice.usesSnapshot());
  ASSERT_NE(rt.ports.directory, nullptr);
  EXPECT_EQ(rt.ports.directory->bind("LDAP://RootDSE").hr, kServerDown);
}

}  // namespace
}  // namespace tv
