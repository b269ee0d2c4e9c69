// What the wldap32 adapter decides itself, under Wine against the test
// domain controller: the server list tried in order, a dropped connection
// reported once, no password in clear text, a refused Negotiate bind with
// its reason, serverless binding outside a domain, and how LdapServer and
// LdapBindName are read.
#include <gtest/gtest.h>

#include "directory/escape.h"
#include "platform/windows/wldap32_directory.h"
#include "text/text.h"
#include "windows/samba_domain.h"
#include "windows/windows_test_support.h"

namespace tv::wintest {
namespace {

class CapturedLog : public LogSink {
 public:
  void write(unsigned, std::string_view text) override { text_ += text; }
  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  std::string text_;
};

class Wldap32Adapter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    auto dc = loadSambaDomain(&why);
    ASSERT_TRUE(dc.has_value()) << why;
    dc_ = *dc;
  }
  std::unique_ptr<Directory> open(const LdapSettings& s) { return openWldapDirectory(s, log_); }

  SambaDomain dc_;
  CapturedLog log_;
};

TEST(Wldap32Settings, ServerAddressesAndAccounts) {
  struct Case {
    std::string text;
    std::optional<ldap::ServerAddress> want;
  };
  const Case cases[] = {
      {"ldap://dc1.skole.test", ldap::ServerAddress{"dc1.skole.test", 389, false}},
      {"LDAPS://dc1.skole.test", ldap::ServerAddress{"dc1.skole.test", 636, true}},
      {"ldaps://10.0.0.5:1636/", ldap::ServerAddress{"10.0.0.5", 1636, true}},
      {"dc2", ldap::ServerAddress{"dc2", 389, false}},
      {"dc2:3268", ldap::ServerAddress{"dc2", 3268, false}},
      {"http://dc1", std::nullopt},
      {"ldap://dc1:", std::nullopt},
      {"ldap://dc1:x389", std::nullopt},
      {"ldap://dc1:70000", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto got = ldap::parseServerAddress(c.text);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
    if (!got) continue;
    EXPECT_EQ(got->host, c.want->host) << c.text;
    EXPECT_EQ(got->port, c.want->port) << c.text;
    EXPECT_EQ(got->ssl, c.want->ssl) << c.text;
  }
  EXPECT_EQ(ldap::negotiateAccount("SKOLE\\svc-tavle").user, "svc-tavle");
  EXPECT_EQ(ldap::negotiateAccount("SKOLE\\svc-tavle").domain, "SKOLE");
  EXPECT_EQ(ldap::negotiateAccount("svc-tavle@skole.test").user, "svc-tavle@skole.test");
  EXPECT_EQ(ldap::negotiateAccount("svc-tavle@skole.test").domain, "");
}

TEST_F(Wldap32Adapter, NoServerOutsideADomainOpensNothing) {
  // Wine's machine is in no domain: the wiring keeps the snapshot directory.
  EXPECT_EQ(findDomainController(), std::nullopt);
  LdapSettings s = negotiateSettings(dc_);
  s.LdapServer = "";
  EXPECT_EQ(open(s), nullptr);
  EXPECT_EQ(log_.text(),
            "** Fejl: LdapServer er ikke angivet, og maskinens domæne har ingen "
            "domænecontroller.\n");
}

TEST_F(Wldap32Adapter, BadServerOrMissingPasswordFileIsRefusedWithAReason) {
  LdapSettings s = negotiateSettings(dc_);
  s.LdapServer = "ldap://" + dc_.host + " http://" + dc_.host;
  EXPECT_EQ(open(s), nullptr);
  EXPECT_TRUE(startsWith(log_.text(), "** Fejl: Ugyldig LdapServer 'ldap://")) << log_.text();
  LdapSettings noFile = negotiateSettings(dc_);
  noFile.LdapPasswordFile = "";
  EXPECT_EQ(open(noFile), nullptr);
  EXPECT_NE(log_.text().find("** Fejl: LdapBindName kræver LdapPasswordFile.\n"),
            std::string::npos);
}

TEST_F(Wldap32Adapter, UnreachableServerFailsWithServerDownAndTheNextServerIsTried) {
  LdapSettings down = negotiateSettings(dc_);
  down.LdapServer = "ldap://" + dc_.host + ":1";
  auto dir = open(down);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind(pathFromDn(dc_.baseDn)).hr, kServerDown);
  EXPECT_EQ(dir->bind(pathFromDn(dc_.baseDn)).hr, kServerDown);
  ASSERT_TRUE(dir->lastError().has_value());
  EXPECT_EQ(dir->lastError()->provider, "LDAP Provider");
  // Reported once, however many calls find it down.
  EXPECT_TRUE(startsWith(log_.text(),
                         "** Fejl: LDAP-forbindelse til " + down.LdapServer + " mislykkedes: "))
      << log_.text();
  EXPECT_EQ(split(log_.text(), '\n').size(), 2u) << log_.text();

  LdapSettings both = negotiateSettings(dc_);
  both.LdapServer = down.LdapServer + " ldap://" + dc_.host;
  auto second = open(both);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->bind(pathFromDn(dc_.baseDn)).hr, kSOk);
}

TEST_F(Wldap32Adapter, PasswordBindIsNeverSentInClearText) {
  LdapSettings s = negotiateSettings(dc_);
  s.LdapBind = "simple";
  s.LdapBindName = "Administrator@" + dc_.domain;
  auto dir = open(s);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind(pathFromDn(dc_.baseDn)).hr, hresultOf(0x8007202D));
  EXPECT_EQ(log_.text(), "** Fejl: LDAP-login med adgangskode afvist: forbindelsen til " +
                             s.LdapServer +
                             " er ikke krypteret (brug ldaps:// eller LdapStartTls).\n");
}

TEST_F(Wldap32Adapter, WrongPasswordIsRefusedAsInvalidCredentials) {
  TempDir dir;
  writeFile(dir.file("forkert.password"), "ikke-det-rigtige\n");
  LdapSettings s = negotiateSettings(dc_);
  s.LdapPasswordFile = dir.file("forkert.password");
  auto d = open(s);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->bind(pathFromDn(dc_.baseDn)).hr, hresultOf(0x8007052E));  // logon failure
  ASSERT_TRUE(d->lastError().has_value());
  EXPECT_TRUE(startsWith(d->lastError()->text, "Negotiate bind: ")) << d->lastError()->text;
}

TEST_F(Wldap32Adapter, NegotiateBindSealsSoPasswordsCanBeSet) {
  auto d = open(negotiateSettings(dc_));
  ASSERT_NE(d, nullptr);
  const std::string ou = "OU=Forsegling," + dc_.baseDn;
  ASSERT_EQ(freshContainer(*d, ou), kSOk);
  auto parent = d->bind(pathFromDn(ou));
  ASSERT_TRUE(parent.ok());
  auto user = parent.value->create("user", "CN=forseglet");
  ASSERT_TRUE(user.ok());
  ASSERT_EQ(user.value->put("sAMAccountName", "forseglet"), kSOk);
  ASSERT_EQ(user.value->setInfo(), kSOk);
  auto bound = d->bind(pathFromDn("CN=forseglet," + ou));
  ASSERT_TRUE(bound.ok());
  EXPECT_EQ(bound.value->setPassword("Vinter2026!Kage"), kSOk);
  // The server's own text, read from the parsed result, reaches lastError().
  EXPECT_EQ(bound.value->setPassword("abc"), kConstraintViolation);
  ASSERT_TRUE(d->lastError().has_value());
  EXPECT_EQ(d->lastError()->code, 0x52D) << d->lastError()->text;
  EXPECT_TRUE(startsWith(d->lastError()->text, "0000052D: ")) << d->lastError()->text;
}

TEST_F(Wldap32Adapter, ServerCertificateMustComeFromTheCaAndNameTheServer) {
  // Wine never calls the certificate callback; its decision is checked here.
  const std::string folder = dc_.caFile.substr(0, dc_.caFile.find_last_of('\\') + 1);
  const std::string server = folder + "server.pem";
  EXPECT_TRUE(ldap::serverCertificateTrusted(server, dc_.caFile, "dc1.skole.test"));
  EXPECT_FALSE(ldap::serverCertificateTrusted(server, dc_.caFile, "dc9.skole.test"));
  // Another CA (here: the server's own certificate) is not the one that issued it.
  EXPECT_FALSE(ldap::serverCertificateTrusted(server, server, "dc1.skole.test"));
  EXPECT_FALSE(ldap::serverCertificateTrusted(server, folder + "mangler.pem", "dc1.skole.test"));
}

}  // namespace
}  // namespace tv::wintest
