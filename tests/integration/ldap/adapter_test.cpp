// The LDAP adapter's own behaviour against the test domain controller: what
// the settings make of a connection, a server that is not there or goes away
// in the middle of a search, referrals, binary values, passwords only over
// TLS, and unlocking a locked account.
#include "platform/ldap/ldap_directory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "directory/escape.h"
#include "directory/sid.h"
#include "integration/ldap/ldap_test_support.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

constexpr const char* kPassword = "Vinter2026!Kage";

class LdapAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    auto dc = loadSambaDc(&why);
    ASSERT_TRUE(dc.has_value()) << why;
    dc_ = *dc;
    base_ = "OU=Adapter," + dc_.baseDn;
    ASSERT_EQ(freshOu(dc_, base_), 0);
  }

  std::unique_ptr<Directory> open(const LdapSettings& s) { return openLdapDirectory(s, log_.log); }
  std::unique_ptr<Directory> openAdmin() {
    auto dir = open(adminSettings(dc_, dc_.adminPasswordFile));
    EXPECT_NE(dir, nullptr);
    return dir;
  }

  // A user below the test container; enabled with kPassword when asked.
  std::string makeUser(Directory& dir, const std::string& login, bool enabled) {
    auto parent = dir.bind(pathFromDn(base_));
    EXPECT_EQ(parent.hr, kSOk);
    if (!parent.ok()) return "";
    auto user = parent.value->create("user", "CN=" + login);
    EXPECT_EQ(user.hr, kSOk);
    EXPECT_EQ(user.value->put("sAMAccountName", login), kSOk);
    EXPECT_EQ(user.value->setInfo(), kSOk);
    const std::string path = pathFromDn("CN=" + login + "," + base_);
    if (enabled) {
      auto bound = dir.bind(path);
      EXPECT_EQ(bound.hr, kSOk);
      EXPECT_EQ(bound.value->setPassword(kPassword), kSOk);
      EXPECT_EQ(bound.value->setAccountDisabled(false), kSOk);
      EXPECT_EQ(bound.value->setInfo(), kSOk);
    }
    return path;
  }

  std::vector<std::string> logins(Directory& dir, const std::string& base, Hresult* hr) {
    std::vector<std::string> out;
    *hr = dir.search(base, "(objectClass=user)", {"sAMAccountName"}, SearchScope::kSubtree, 20,
                     [&](const SearchRow& row) {
                       out.push_back(row.first("sAMAccountName"));
                       return true;
                     });
    std::sort(out.begin(), out.end());
    return out;
  }

  SambaDc dc_;
  std::string base_;
  LogFixture log_;
};

// ---------------------------------------------------------------------------
// Settings and connections

TEST_F(LdapAdapter, SettingsThatCannotConnectAreRefusedWithAReason) {
  LdapSettings none;
  EXPECT_EQ(open(none), nullptr);
  LdapSettings simple;
  simple.LdapServer = dc_.uri;
  simple.LdapBind = "simple";
  EXPECT_EQ(open(simple), nullptr);
  simple.LdapBindName = dc_.adminDn;
  simple.LdapPasswordFile = log_.folder.file("findes-ikke.txt");
  EXPECT_EQ(open(simple), nullptr);
  LdapSettings odd;
  odd.LdapServer = dc_.uri;
  odd.LdapBind = "kerberos";
  EXPECT_EQ(open(odd), nullptr);
  EXPECT_EQ(log_.text(),
            "** Fejl: LdapServer er ikke angivet.\n"
            "** Fejl: LdapBind = simple kræver LdapBindName og LdapPasswordFile.\n"
            "** Fejl: LdapPasswordFile " +
                log_.folder.file("findes-ikke.txt") +
                " kan ikke læses.\n"
                "** Fejl: Ukendt LdapBind 'kerberos' (gssapi eller simple).\n");
}

TEST_F(LdapAdapter, UnreachableServerFailsEachCallWithServerDownAndLogsOnce) {
  LdapSettings s = adminSettings(dc_, dc_.adminPasswordFile);
  s.LdapServer = "ldaps://127.0.0.1:1";
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  auto root = dir->bind("LDAP://RootDSE");
  EXPECT_EQ(root.hr, kServerDown);
  EXPECT_EQ(root.value, nullptr);
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_EQ(dir->lastError()->code, 8250) << "no code in the text: the HRESULT's";
  EXPECT_EQ(dir->lastError()->text, "connect: Can't contact LDAP server");
  EXPECT_EQ(dir->lastError()->provider, "LDAP Provider");
  Hresult hr = kSOk;
  EXPECT_EQ(logins(*dir, base_, &hr), std::vector<std::string>{});
  EXPECT_EQ(hr, kServerDown);
  EXPECT_EQ(log_.text(),
            "** Fejl: LDAP-forbindelse til ldaps://127.0.0.1:1 mislykkedes: connect: Can't contact "
            "LDAP server\n");
}

TEST_F(LdapAdapter, SecondServerIsTriedWhenTheFirstIsDown) {
  LdapSettings s = adminSettings(dc_, dc_.adminPasswordFile);
  s.LdapServer = "ldaps://127.0.0.1:1 " + dc_.uri;
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind(pathFromDn(base_)).hr, kSOk);
}

TEST_F(LdapAdapter, PasswordBindIsNeverSentInClearText) {
  LdapSettings s = adminSettings(dc_, dc_.adminPasswordFile);
  s.LdapServer = dc_.plainUri;
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind(pathFromDn(base_)).hr, hresultOf(0x8007202D));
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_EQ(dir->lastError()->code, 8237);
  EXPECT_EQ(log_.text(), "** Fejl: LDAP-login med adgangskode afvist: forbindelsen til " +
                             dc_.plainUri +
                             " er ikke krypteret (brug ldaps:// eller LdapStartTls).\n");
}

TEST_F(LdapAdapter, StartTlsEncryptsAPlainConnectionForBindAndPasswords) {
  LdapSettings s = adminSettings(dc_, dc_.adminPasswordFile);
  s.LdapServer = dc_.plainUri;
  s.LdapStartTls = true;
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  const std::string path = makeUser(*dir, "tlsbruger", true);
  EXPECT_EQ(simpleBind(dc_, dnFromPath(path), kPassword), 0);
}

TEST_F(LdapAdapter, UntrustedCertificateIsRefused) {
  LdapSettings s = adminSettings(dc_, dc_.adminPasswordFile);
  s.LdapCaFile = log_.folder.file("tom-ca.pem");
  log_.folder.write("tom-ca.pem", "");
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind(pathFromDn(base_)).hr, kServerDown);
}

TEST_F(LdapAdapter, GssapiWithoutTicketOrMechanismFailsClearly) {
  LdapSettings s;
  s.LdapServer = dc_.uri;
  s.LdapCaFile = dc_.caFile;  // LdapBind stays at its default, gssapi
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  EXPECT_LT(dir->bind(pathFromDn(base_)).hr, 0);
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_TRUE(startsWith(dir->lastError()->text, "SASL/GSSAPI bind: ")) << dir->lastError()->text;
  EXPECT_TRUE(startsWith(
      log_.text(), "** Fejl: LDAP-forbindelse til " + dc_.uri + " mislykkedes: SASL/GSSAPI bind: "))
      << log_.text();
}

// ---------------------------------------------------------------------------
// Searches

TEST_F(LdapAdapter, DroppedConnectionMidSearchDeliversEveryRowOnce) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> expected;
  for (int k = 0; k < 45; ++k) {
    expected.push_back("drop" + std::to_string(100 + k));
    makeUser(*dir, expected.back(), false);
  }
  std::vector<std::string> seen;
  bool restarted = false;
  const Hresult hr = dir->search(pathFromDn(base_), "(objectClass=user)", {"sAMAccountName"},
                                 SearchScope::kSubtree, 20, [&](const SearchRow& row) {
                                   seen.push_back(row.first("sAMAccountName"));
                                   if (seen.size() == 25 && !restarted) {
                                     // The domain controller goes away between two pages and comes
                                     // back.
                                     restarted = true;
                                     EXPECT_EQ(runHarness(dc_, {"stop"}), 0);
                                     EXPECT_EQ(runHarness(dc_, {"start"}), 0);
                                   }
                                   return true;
                                 });
  EXPECT_TRUE(restarted);
  EXPECT_EQ(hr, kSOk);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, expected);
  EXPECT_NE(log_.text().find("** Info: LDAP-forbindelsen til " + dc_.uri +
                             " blev afbrudt; forbinder igen.\n"),
            std::string::npos)
      << log_.text();

  // A later call finds the connection in order again.
  EXPECT_EQ(dir->bind(pathFromDn(base_)).hr, kSOk);
}

TEST_F(LdapAdapter, ConnectionLostBetweenCallsIsMadeAgainOnce) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  ASSERT_EQ(dir->bind(pathFromDn(base_)).hr, kSOk);
  ASSERT_EQ(runHarness(dc_, {"stop"}), 0);
  ASSERT_EQ(runHarness(dc_, {"start"}), 0);
  auto again = dir->bind(pathFromDn(base_));
  EXPECT_EQ(again.hr, kSOk);
  EXPECT_FALSE(dir->lastError().has_value());
}

TEST_F(LdapAdapter, SearchFromTheDomainRootSkipsTheReferrals) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> dns;
  const Hresult hr = dir->search(pathFromDn(dc_.baseDn), "(sAMAccountName=Administrator)",
                                 {"ADsPath"}, SearchScope::kSubtree, 20, [&](const SearchRow& row) {
                                   dns.push_back(row.dn);
                                   return true;
                                 });
  EXPECT_EQ(hr, kSOk);
  ASSERT_EQ(dns.size(), 1u);
  EXPECT_TRUE(dnEquals(dns[0], dc_.adminDn));
}

TEST_F(LdapAdapter, BinaryValuesAreRawBytesTypedAsOctetStrings) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  std::vector<SearchRow> rows;
  ASSERT_EQ(dir->search(dc_.adminDn, "(objectClass=*)", {"objectSid", "objectGUID", "name"},
                        SearchScope::kBase, 20,
                        [&](const SearchRow& row) {
                          rows.push_back(row);
                          return true;
                        }),
            kSOk);
  ASSERT_EQ(rows.size(), 1u);
  const DirAttribute* sid = rows[0].find("objectSid");
  ASSERT_NE(sid, nullptr);
  EXPECT_EQ(sid->type, AdsType::kOctetString);
  ASSERT_EQ(sid->values.size(), 1u);
  EXPECT_EQ(sid->values[0].size(), 28u);
  auto text = sidToString(sid->values[0]);
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(startsWith(*text, "S-1-5-21-") && endsWith(*text, "-500")) << *text;
  const DirAttribute* guid = rows[0].find("objectGUID");
  ASSERT_NE(guid, nullptr);
  EXPECT_EQ(guid->type, AdsType::kOctetString);
  EXPECT_EQ(guid->values.at(0).size(), 16u);
  EXPECT_EQ(rows[0].find("name")->type, AdsType::kCaseIgnoreString);

  auto admin = dir->bind(pathFromDn(dc_.adminDn));
  ASSERT_EQ(admin.hr, kSOk);
  EXPECT_EQ(admin.value->typeOf("objectSid"), AdsType::kOctetString);
  EXPECT_EQ(admin.value->get("objectSid").value, sid->values[0]);
  EXPECT_EQ(admin.value->typeOf("whenChanged"), AdsType::kUtcTime);
  EXPECT_EQ(admin.value->typeOf("userAccountControl"), AdsType::kInteger);
  EXPECT_EQ(admin.value->typeOf("findesIkke"), AdsType::kInvalid);
  // A number read from a binary value is refused, not made up.
  EXPECT_EQ(admin.value->getInt("objectSid").hr, kEAdsCantConvertDatatype);
}

// ---------------------------------------------------------------------------
// Writes, passwords and locks

TEST_F(LdapAdapter, UnknownAttributeIsLeftOutAndTheRestCommitted) {
  if (dc_.variant == "mail") GTEST_SKIP() << "the mail schema knows extensionAttribute1";
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  const std::string path = makeUser(*dir, "skema", false);
  auto user = dir->bind(path);
  ASSERT_EQ(user.hr, kSOk);
  ASSERT_EQ(user.value->put("extensionAttribute1", "7A"), kSOk);
  ASSERT_EQ(user.value->put("title", "Lærer"), kSOk);
  EXPECT_EQ(user.value->setInfo(), kNoAttributeOrValue);
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_EQ(dir->lastError()->code, 0x57);
  EXPECT_EQ(dir->lastError()->text,
            "00000057: not in the directory's schema, not written: extensionAttribute1");
  EXPECT_EQ(dir->bind(path).value->get("title").value, "Lærer");
}

TEST_F(LdapAdapter, ServerDiagnosticReachesLastError) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  auto user = dir->bind(makeUser(*dir, "svag", false));
  ASSERT_EQ(user.hr, kSOk);
  EXPECT_EQ(user.value->setPassword("abc"), kConstraintViolation);
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_EQ(dir->lastError()->code, 0x52D) << "the code the server's text begins with";
  EXPECT_TRUE(startsWith(dir->lastError()->text, "0000052D")) << dir->lastError()->text;
  EXPECT_EQ(user.value->setPassword(kPassword), kSOk);
  EXPECT_FALSE(dir->lastError().has_value());
}

TEST_F(LdapAdapter, PasswordSetOverTlsLetsTheUserBind) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  const std::string dn = dnFromPath(makeUser(*dir, "elevx", true));
  EXPECT_EQ(simpleBind(dc_, dn, kPassword), 0);
  EXPECT_EQ(simpleBind(dc_, dn, "Forkert2026!"), 49);
  auto user = dir->bind(pathFromDn(dn));
  ASSERT_EQ(user.hr, kSOk);
  ASSERT_EQ(user.value->setPassword("Sommer2027!Saft"), kSOk);
  EXPECT_EQ(simpleBind(dc_, dn, "Sommer2027!Saft"), 0);
  EXPECT_EQ(simpleBind(dc_, dn, kPassword), 49);  // the old one is gone at once
}

TEST_F(LdapAdapter, LockedAccountIsUnlocked) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  const std::string dn = dnFromPath(makeUser(*dir, "laast", true));
  AdminLdap admin(dc_);
  ASSERT_EQ(admin.status(), 0);
  ASSERT_EQ(admin.replace(dc_.baseDn, "lockoutThreshold", {"3"}), 0);
  struct Restore {
    AdminLdap& admin;
    const std::string& dn;
    ~Restore() { admin.replace(dn, "lockoutThreshold", {"0"}); }
  } restore{admin, dc_.baseDn};
  for (int k = 0; k < 3; ++k) EXPECT_EQ(simpleBind(dc_, dn, "Forkert2026!"), 49);
  EXPECT_EQ(simpleBind(dc_, dn, kPassword), 49);  // locked: even the right password fails
  const auto locked = admin.read(dn, "lockoutTime");
  ASSERT_EQ(locked.size(), 1u);
  EXPECT_NE(locked[0], "0");

  auto user = dir->bind(pathFromDn(dn));
  ASSERT_EQ(user.hr, kSOk);
  ASSERT_EQ(user.value->unlock(), kSOk);
  ASSERT_EQ(user.value->setInfo(), kSOk);
  EXPECT_EQ(admin.read(dn, "lockoutTime"), std::vector<std::string>{"0"});
  EXPECT_EQ(simpleBind(dc_, dn, kPassword), 0);
}

TEST_F(LdapAdapter, CanonicalNameComesFromThePartitionsDnsName) {
  auto dir = openAdmin();
  ASSERT_NE(dir, nullptr);
  const std::string dn = dnFromPath(makeUser(*dir, "kanon", false));
  auto name = dir->canonicalName(dn);
  ASSERT_EQ(name.hr, kSOk);
  EXPECT_EQ(name.value, "skole.test/Adapter/kanon");
  EXPECT_EQ(dir->canonicalName("CN=findes ikke," + base_).hr, kNameNotFound);
}

}  // namespace
}  // namespace tv::test
