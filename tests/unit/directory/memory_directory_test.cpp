#include "platform/memory/memory_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "directory/escape.h"
#include "directory/hresult.h"
#include "directory/sid.h"
#include "platform/memory/ldif.h"
#include "support/fakes.h"

namespace tv {
namespace {

std::unique_ptr<DirObject> bindOk(Directory& dir, const std::string& path) {
  auto b = dir.bind(path);
  EXPECT_EQ(b.hr, kSOk) << path;
  return std::move(b.value);
}

void addUser(Directory& dir, const std::string& parentDn, const std::string& login,
             const std::string& sn = "Berg") {
  auto parent = bindOk(dir, pathFromDn(parentDn));
  auto u = parent->create("user", "CN=" + escapeDnValue(login));
  ASSERT_EQ(u.hr, kSOk);
  ASSERT_EQ(u.value->put("sAMAccountName", login), kSOk);
  ASSERT_EQ(u.value->put("sn", sn), kSOk);
  ASSERT_EQ(u.value->setInfo(), kSOk) << login;
}

const char* const kSnapshot =
    "version: 1\n"
    "\n"
    "dn: DC=skole,DC=test\n"
    "objectClass: top\n"
    "objectClass: domain\n"
    "objectClass: domainDNS\n"
    "dc: skole\n"
    "objectSid:: AQQAAAAAAAUVAAAAAQAAAAIAAAADAAAA\n"
    "\n"
    "dn: OU=Elev,DC=skole,DC=test\n"
    "objectClass: top\n"
    "objectClass: organizationalUnit\n"
    "ou: Elev\n"
    "\n"
    "dn: CN=anbe,OU=Elev,DC=skole,DC=test\n"
    "objectClass: top\n"
    "objectClass: person\n"
    "objectClass: organizationalPerson\n"
    "objectClass: user\n"
    "cn: anbe\n"
    "sAMAccountName: anbe\n"
    "userAccountControl: 512\n"
    "pwdLastSet: 133000000000000000\n"
    "extensionAttribute3: 7A\n"
    "memberOf: CN=ignored,DC=skole,DC=test\n"
    "objectSid:: AQUAAAAAAAUVAAAAAQAAAAIAAAADAAAA0AcAAA==\n"
    "\n"
    "dn: CN=7a,OU=Elev,DC=skole,DC=test\n"
    "objectClass: top\n"
    "objectClass: group\n"
    "cn: 7a\n"
    "sAMAccountName: 7a\n"
    "member: CN=anbe,OU=Elev,DC=skole,DC=test\n";

TEST(MemoryDirectory, UnpagedSearchStopsAtAThousandRows) {
  MemoryDirectory dir;
  for (int k = 0; k < 1001; ++k) addUser(dir, "CN=Users,DC=skole,DC=test", "u" + std::to_string(k));
  int rows = 0;
  const auto count = [&](const SearchRow&) { return ++rows, true; };
  EXPECT_EQ(dir.search("DC=skole,DC=test", "(objectClass=user)", {"name"}, SearchScope::kSubtree, 0,
                       count),
            kSizeLimitExceeded);
  EXPECT_EQ(rows, 1000);
  rows = 0;
  EXPECT_EQ(dir.search("DC=skole,DC=test", "(objectClass=user)", {"name"}, SearchScope::kSubtree,
                       20, count),
            kSOk);
  EXPECT_EQ(rows, 1001);
}

TEST(MemoryDirectory, SnapshotLoadsWithDerivedMembershipAndLearnedAttributes) {
  MemoryDirectory dir;  // plain schema
  ASSERT_EQ(dir.loadLdif(kSnapshot), "");
  EXPECT_EQ(dir.entryCount(), 4u);
  auto user = bindOk(dir, "LDAP://CN=anbe,OU=Elev,DC=skole,DC=test");
  auto memberOf = user->getAll("memberOf");
  ASSERT_EQ(memberOf.hr, kSOk);
  EXPECT_EQ(memberOf.value, std::vector<std::string>{"CN=7a,OU=Elev,DC=skole,DC=test"});
  EXPECT_EQ(user->get("extensionAttribute3").value, "7A");
  EXPECT_EQ(user->accountDisabled().value, false);
  // The snapshot's account has a password, so it may stay enabled.
  ASSERT_EQ(user->put("userAccountControl", "512"), kSOk);
  EXPECT_EQ(user->setInfo(), kSOk);
  // The snapshot's directory had extensionAttribute3, so it stays writable.
  ASSERT_EQ(user->put("extensionAttribute3", "8A"), kSOk);
  EXPECT_EQ(user->setInfo(), kSOk);
  // New accounts get RIDs above the snapshot's (2000, and 2001 given to 7a).
  addUser(dir, "OU=Elev,DC=skole,DC=test", "bobo");
  auto sid = bindOk(dir, "LDAP://CN=bobo,OU=Elev,DC=skole,DC=test")->get("objectSid");
  EXPECT_EQ(sidToString(sid.value), "S-1-5-21-1-2-3-2002");
}

// A snapshot written by hand lacks what a domain controller always holds;
// the load gives it, once, and says so in one line.
TEST(MemoryDirectory, SnapshotLoadFillsTheIdentityADAlwaysHolds) {
  test::LogFixture logs;
  MemoryDirectoryOptions options;
  options.log = &logs.log;
  MemoryDirectory dir(options);
  ASSERT_EQ(dir.loadLdif(kSnapshot), "");
  // Every object lacked a GUID; 7a a SID, anbe and 7a a category.
  EXPECT_EQ(logs.text(),
            "** Info: Katalogfilen manglede objectGUID, objectSid eller objectCategory på 4 "
            "objekter; de har fået dem, som AD giver dem.\n");
  struct Want {
    const char* dn;
    const char* sid;       // as the snapshot or the domain gives it
    const char* category;  // "" : none
  };
  const Want wants[] = {
      {"OU=Elev,DC=skole,DC=test", "", ""},
      {"CN=anbe,OU=Elev,DC=skole,DC=test", "S-1-5-21-1-2-3-2000", "Person"},
      {"CN=7a,OU=Elev,DC=skole,DC=test", "S-1-5-21-1-2-3-2001", "Group"},
  };
  for (const Want& w : wants) {
    auto o = bindOk(dir, std::string("LDAP://") + w.dn);
    EXPECT_EQ(o->get("objectGUID").value.size(), 16u) << w.dn;
    auto sid = o->get("objectSid");
    EXPECT_EQ(sid.ok() ? sidToString(sid.value).value_or("?") : "", w.sid) << w.dn;
    auto category = o->get("objectCategory");
    EXPECT_EQ(category.ok() ? category.value : "",
              *w.category
                  ? std::string("CN=") + w.category + ",CN=Schema,CN=Configuration,DC=skole,DC=test"
                  : "")
        << w.dn;
  }
  std::vector<std::string> people;
  ASSERT_EQ(dir.search("DC=skole,DC=test", "(&(objectCategory=person)(objectClass=user))",
                       {"sAMAccountName"}, SearchScope::kSubtree, 20,
                       [&](const SearchRow& row) {
                         people.push_back(row.first("sAMAccountName"));
                         return true;
                       }),
            kSOk);
  EXPECT_EQ(people, std::vector<std::string>{"anbe"});

  // Saved and loaded again, the snapshot is whole: the same tree, no line.
  const std::string saved = dir.saveLdif();
  ASSERT_EQ(dir.loadLdif(saved), "");
  EXPECT_EQ(dir.saveLdif(), saved);
  EXPECT_EQ(logs.text().find("** Info", 1), std::string::npos);
}

TEST(MemoryDirectory, SnapshotSavesInTreeOrderAndRoundTrips) {
  test::FakeClock clock;
  MemoryDirectoryOptions options;
  options.clock = &clock;
  MemoryDirectory dir(options);
  ASSERT_EQ(dir.loadLdif(kSnapshot), "");
  for (const char* login : {"ø", "z", "Å", "a", "æ"}) {
    addUser(dir, "OU=Elev,DC=skole,DC=test", login);
  }
  const std::string saved = dir.saveLdif();
  auto parsed = memdir::parseLdif(saved);
  ASSERT_EQ(parsed.error, "");
  std::vector<std::string> dns;
  for (const auto& r : parsed.records) dns.push_back(r.dn);
  // Parents first, then siblings by the code points of their lower-cased
  // names: the one order the whole program sorts and searches by.
  EXPECT_EQ(dns,
            (std::vector<std::string>{
                "DC=skole,DC=test", "OU=Elev,DC=skole,DC=test", "CN=7a,OU=Elev,DC=skole,DC=test",
                "CN=a,OU=Elev,DC=skole,DC=test", "CN=anbe,OU=Elev,DC=skole,DC=test",
                "CN=z,OU=Elev,DC=skole,DC=test", "CN=Å,OU=Elev,DC=skole,DC=test",
                "CN=æ,OU=Elev,DC=skole,DC=test", "CN=ø,OU=Elev,DC=skole,DC=test"}));
  // objectClass first, the rest by name; computed attributes are not saved.
  std::vector<std::string> names;
  for (const auto& [name, value] : parsed.records[3].values) {
    if (names.empty() || names.back() != name) names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "objectClass", "accountExpires", "cn", "instanceType", "objectCategory",
                       "objectGUID", "objectSid", "primaryGroupID", "pwdLastSet", "sAMAccountName",
                       "sAMAccountType", "sn", "userAccountControl", "uSNChanged", "uSNCreated",
                       "whenChanged", "whenCreated"}));
  EXPECT_EQ(saved.find("memberOf"), std::string::npos);
  EXPECT_NE(saved.find("whenCreated: 20220617104252.0Z\n"), std::string::npos);

  MemoryDirectory again;
  ASSERT_EQ(again.loadLdif(saved), "");
  EXPECT_EQ(again.saveLdif(), saved);
}

TEST(MemoryDirectory, BadSnapshotIsRefusedAndTheTreeKept) {
  MemoryDirectory dir;
  addUser(dir, "CN=Users,DC=skole,DC=test", "anbe");
  const std::size_t before = dir.entryCount();
  EXPECT_EQ(dir.loadLdif("dn: DC=x\nobjectClass: domainDNS\n\ndn: CN=a,DC=x\nobjectClass: user\n"
                         "\ndn: cn=A,dc=X\nobjectClass: user\n"),
            "line 7: \"cn=A,dc=X\" is there twice");
  EXPECT_EQ(dir.loadLdif("dn: DC=x\nobjectClass: domainDNS\n\ndn: DC=y\nobjectClass: domainDNS\n"),
            "line 4: \"DC=y\" lies outside the snapshot's domain");
  EXPECT_EQ(dir.loadLdif("dn: DC=x\nobjectClass: domainDNS\n\ndn: CN=a,DC=x\ncn: a\n"),
            "line 4: \"CN=a,DC=x\" has no objectClass");
  EXPECT_EQ(dir.loadLdif("dn: DC=x\nobjectClass: domainDNS\n\n"
                         "dn: CN=a,DC=x\nobjectClass: user\nsAMAccountName: a\n\n"
                         "dn: CN=b,DC=x\nobjectClass: user\nsAMAccountName: A\n"),
            "line 8: sAMAccountName 'A' is used twice");
  EXPECT_EQ(dir.entryCount(), before);
  EXPECT_EQ(dir.baseDn(), "DC=skole,DC=test");
  EXPECT_EQ(dir.bind("LDAP://CN=anbe,CN=Users,DC=skole,DC=test").hr, kSOk);
}

TEST(MemoryDirectory, SnapshotFileOpenAndSave) {
  test::TempFolder folder;
  const std::string path = folder.path() + "/directory.ldif";
  std::string error;
  auto fresh = openMemoryDirectory(path, {}, &error);
  ASSERT_NE(fresh, nullptr) << error;
  EXPECT_EQ(fresh->entryCount(), 3u);  // the domain, CN=Users, CN=Computers
  addUser(*fresh, "CN=Users,DC=skole,DC=test", "anbe");
  ASSERT_TRUE(saveMemoryDirectory(*fresh, path, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  auto reopened = openMemoryDirectory(path, {}, &error);
  ASSERT_NE(reopened, nullptr) << error;
  EXPECT_EQ(reopened->saveLdif(), fresh->saveLdif());

  std::ofstream(path) << "dn: CN=a\nchangetype: modify\n";
  EXPECT_EQ(openMemoryDirectory(path, {}, &error), nullptr);
  EXPECT_EQ(error, path + ": line 2: only content records and \"changetype: add\" are read");
  EXPECT_FALSE(saveMemoryDirectory(*fresh, folder.path() + "/no/such/dir/x.ldif", &error));
}

TEST(MemoryDirectory, StringMatchingFoldsDanishLetters) {
  MemoryDirectory dir;
  addUser(dir, "CN=Users,DC=skole,DC=test", "bobo", "Bøgh");
  addUser(dir, "CN=Users,DC=skole,DC=test", "anbe", "Berg");
  std::vector<std::string> found;
  ASSERT_EQ(
      dir.search("DC=skole,DC=test", "(sn=BØGH)", {"sAMAccountName"}, SearchScope::kSubtree, 20,
                 [&](const SearchRow& r) {
                   found.push_back(r.first("sAMAccountName"));
                   return true;
                 }),
      kSOk);
  EXPECT_EQ(found, std::vector<std::string>{"bobo"});
}

TEST(MemoryDirectory, ExtendedErrorOfTheLastCall) {
  MemoryDirectory dir;
  EXPECT_EQ(dir.bind("LDAP://CN=ingen,DC=skole,DC=test").hr, kNoSuchObject);
  auto err = dir.lastError();
  ASSERT_TRUE(err.has_value());
  EXPECT_EQ(err->code, 0x2030) << "a text without a code of its own: the HRESULT's";
  EXPECT_EQ(err->text, "no object CN=ingen,DC=skole,DC=test");
  EXPECT_EQ(err->provider, "LDAP Provider");
  EXPECT_EQ(dir.bind("LDAP://DC=skole,DC=test").hr, kSOk);
  EXPECT_FALSE(dir.lastError().has_value());
  EXPECT_EQ(dir.bind("not a path").hr, kEAdsBadPathname);
  EXPECT_EQ(dir.canonicalName("CN=ingen,DC=skole,DC=test").hr, kNameNotFound);
}

TEST(MemoryDirectory, NewObjectsCarryTheClocksTime) {
  test::FakeClock clock;
  MemoryDirectoryOptions options;
  options.clock = &clock;
  options.baseDn = "DC=demo,DC=local";
  MemoryDirectory dir(options);
  addUser(dir, "CN=Users,DC=demo,DC=local", "anbe");
  auto user = bindOk(dir, "LDAP://CN=anbe,CN=Users,DC=demo,DC=local");
  EXPECT_EQ(user->get("whenCreated").value, "20220617104252.0Z");
  EXPECT_EQ(user->get("objectCategory").value,
            "CN=Person,CN=Schema,CN=Configuration,DC=demo,DC=local");
  auto root = bindOk(dir, "LDAP://RootDSE");
  EXPECT_EQ(root->get("dnsHostName").value, "dc1.demo.local");
  EXPECT_EQ(root->put("x", "y"), kEAdsPropertyNotSupported);
}

TEST(MemoryDirectory, BinaryAndUnknownPutsAtAdd) {
  MemoryDirectory dir;
  auto users = bindOk(dir, "LDAP://CN=Users,DC=skole,DC=test");
  auto u = users->create("user", "CN=anbe");
  ASSERT_EQ(u.value->put("sAMAccountName", "anbe"), kSOk);
  ASSERT_EQ(u.value->put("extensionAttribute1", "x"), kSOk);
  EXPECT_EQ(u.value->setInfo(), kNoAttributeOrValue);  // an add is all or nothing
  EXPECT_EQ(dir.bind("LDAP://CN=anbe,CN=Users,DC=skole,DC=test").hr, kNoSuchObject);
  auto v = users->create("user", "CN=anbe");
  ASSERT_EQ(v.value->put("sAMAccountName", "anbe"), kSOk);
  const std::string blob("P\0\0\x01\xff", 5);
  ASSERT_EQ(v.value->put("userParameters", blob), kSOk);
  ASSERT_EQ(v.value->setInfo(), kSOk);
  auto reread = bindOk(dir, "LDAP://CN=anbe,CN=Users,DC=skole,DC=test");
  EXPECT_EQ(reread->get("userParameters").value, blob);
  EXPECT_EQ(reread->typeOf("userParameters"), AdsType::kOctetString);
  EXPECT_EQ(reread->put("objectSid", "x"), kSOk);
  EXPECT_EQ(reread->setInfo(), kUnwillingToPerform);
  EXPECT_EQ(reread->put("userAccountControl", "lots"), kSOk);
  EXPECT_EQ(reread->setInfo(), kInvalidAttributeSyntax);
  EXPECT_EQ(reread->put("cn", "other"), kSOk);
  EXPECT_EQ(reread->setInfo(), kCantOnRdn);
  EXPECT_EQ(reread->put("objectClass", "group"), kSOk);
  EXPECT_EQ(reread->setInfo(), hresultOf(0x80072017));
  EXPECT_EQ(bindOk(dir, "LDAP://CN=anbe,CN=Users,DC=skole,DC=test")->className(), "user");
}

TEST(MemoryDirectory, TwoThreadsShareOneDirectory) {
  MemoryDirectory dir;
  std::optional<DirectoryError> writerError;
  std::thread writer([&] {
    for (int k = 0; k < 200; ++k)
      addUser(dir, "CN=Users,DC=skole,DC=test", "w" + std::to_string(k));
    EXPECT_EQ(dir.bind("LDAP://CN=ingen,DC=skole,DC=test").hr, kNoSuchObject);
    writerError = dir.lastError();
  });
  int searches = 0;
  for (int k = 0; k < 50; ++k) {
    ASSERT_EQ(dir.search("DC=skole,DC=test", "(objectClass=user)", {"name"}, SearchScope::kSubtree,
                         20, [](const SearchRow&) { return true; }),
              kSOk);
    ++searches;
  }
  writer.join();
  // Each thread sees its own last error.
  ASSERT_TRUE(writerError.has_value());
  EXPECT_EQ(writerError->text, "no object CN=ingen,DC=skole,DC=test");
  EXPECT_FALSE(dir.lastError().has_value());
  std::size_t users = 0;
  ASSERT_EQ(dir.search("DC=skole,DC=test", "(objectClass=user)", {"name"}, SearchScope::kSubtree,
                       20, [&](const SearchRow&) { return ++users, true; }),
            kSOk);
  EXPECT_EQ(users, 200u);
  EXPECT_EQ(searches, 50);
}

}  // namespace
}  // namespace tv
