#include "integration/samba/samba_env.h"

#include <ldap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

namespace tv::test {

namespace {

LDAP* connectTls(const SambaDc& dc) {
  LDAP* ld = nullptr;
  if (ldap_initialize(&ld, dc.uri.c_str()) != LDAP_SUCCESS) return nullptr;
  int version = LDAP_VERSION3;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, dc.caFile.c_str());
  int demand = LDAP_OPT_X_TLS_DEMAND;
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  int newCtx = 0;
  ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &newCtx);
  return ld;
}

int bindWith(LDAP* ld, const std::string& dn, const std::string& password) {
  berval cred{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
  return ldap_sasl_bind_s(ld, dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
}

}  // namespace

std::optional<SambaDc> loadSambaDc(std::string* why) {
  const char* file = std::getenv("TAVLEVAGT_SAMBA_ENV");
  const std::string path = file ? file : "/tmp/tv-samba/dc.env";
  std::ifstream in(path);
  if (!in) {
    if (why) *why = "no domain controller env file " + path + " (run samba-dc.sh setup)";
    return std::nullopt;
  }
  std::map<std::string, std::string> v;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
  }
  SambaDc dc{v["SAMBA_VARIANT"],
             v["SAMBA_HOST"],
             v["SAMBA_URI"],
             v["SAMBA_PLAIN_URI"],
             v["SAMBA_REALM"],
             v["SAMBA_DOMAIN"],
             v["SAMBA_BASE_DN"],
             v["SAMBA_ADMIN_USER"],
             v["SAMBA_ADMIN_DN"],
             v["SAMBA_ADMIN_PASSWORD"],
             v["SAMBA_ADMIN_PASSWORD_FILE"],
             v["SAMBA_CA_FILE"],
             v["SAMBA_CONF"],
             v["SAMBA_SHARE_ROOT"],
             v["SAMBA_HARNESS"]};
  if (dc.uri.empty() || dc.baseDn.empty() || dc.adminPassword.empty() || dc.caFile.empty()) {
    if (why) *why = "incomplete env file " + path;
    return std::nullopt;
  }
  return dc;
}

LdapSettings adminSettings(const SambaDc& dc, const std::string& passwordFile) {
  LdapSettings s;
  s.LdapServer = dc.uri;
  s.LdapBind = "simple";
  s.LdapBindName = dc.adminDn;
  s.LdapPasswordFile = passwordFile.empty() ? dc.adminPasswordFile : passwordFile;
  s.LdapCaFile = dc.caFile;
  return s;
}

int runHarness(const SambaDc& dc, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(dc.harness.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(dc.harness.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

AdminLdap::AdminLdap(const SambaDc& dc) {
  LDAP* ld = connectTls(dc);
  if (!ld) return;
  ld_ = ld;
  status_ = bindWith(ld, dc.adminDn, dc.adminPassword);
}

AdminLdap::~AdminLdap() {
  if (ld_) ldap_unbind_ext_s(static_cast<LDAP*>(ld_), nullptr, nullptr);
}

int AdminLdap::deleteTree(const std::string& dn) {
  if (status_ != 0) return status_;
  // The tree-delete control removes a container with its contents in one call.
  char oid[] = "1.2.840.113556.1.4.805";
  LDAPControl tree{oid, {0, nullptr}, 1};
  LDAPControl* controls[] = {&tree, nullptr};
  return ldap_delete_ext_s(static_cast<LDAP*>(ld_), dn.c_str(), controls, nullptr);
}

int AdminLdap::addOu(const std::string& dn) {
  return add(dn, {{"objectClass", "organizationalUnit"}});
}

int AdminLdap::add(const std::string& dn,
                   const std::vector<std::pair<std::string, std::string>>& attrs) {
  if (status_ != 0) return status_;
  std::vector<LDAPMod> mods(attrs.size());
  std::vector<std::vector<char*>> values(attrs.size());
  std::vector<LDAPMod*> list;
  for (std::size_t i = 0; i < attrs.size(); ++i) {
    values[i] = {const_cast<char*>(attrs[i].second.c_str()), nullptr};
    mods[i].mod_op = LDAP_MOD_ADD;
    mods[i].mod_type = const_cast<char*>(attrs[i].first.c_str());
    mods[i].mod_values = values[i].data();
    list.push_back(&mods[i]);
  }
  list.push_back(nullptr);
  return ldap_add_ext_s(static_cast<LDAP*>(ld_), dn.c_str(), list.data(), nullptr, nullptr);
}

int AdminLdap::replace(const std::string& dn, const std::string& attr,
                       const std::vector<std::string>& values) {
  if (status_ != 0) return status_;
  std::vector<char*> v;
  for (const std::string& s : values) v.push_back(const_cast<char*>(s.c_str()));
  v.push_back(nullptr);
  LDAPMod mod{};
  mod.mod_op = LDAP_MOD_REPLACE;
  mod.mod_type = const_cast<char*>(attr.c_str());
  mod.mod_values = v.data();
  LDAPMod* mods[] = {&mod, nullptr};
  return ldap_modify_ext_s(static_cast<LDAP*>(ld_), dn.c_str(), mods, nullptr, nullptr);
}

std::vector<std::string> AdminLdap::read(const std::string& dn, const std::string& attr) {
  std::vector<std::string> out;
  if (status_ != 0) return out;
  char* attrs[] = {const_cast<char*>(attr.c_str()), nullptr};
  LDAPMessage* res = nullptr;
  const int rc = ldap_search_ext_s(static_cast<LDAP*>(ld_), dn.c_str(), LDAP_SCOPE_BASE,
                                   "(objectClass=*)", attrs, 0, nullptr, nullptr, nullptr, 0, &res);
  if (rc == LDAP_SUCCESS) {
    if (LDAPMessage* e = ldap_first_entry(static_cast<LDAP*>(ld_), res)) {
      berval** vals = ldap_get_values_len(static_cast<LDAP*>(ld_), e, attr.c_str());
      for (int i = 0; vals && vals[i]; ++i) out.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
      ldap_value_free_len(vals);
    }
  }
  ldap_msgfree(res);
  return out;
}

int simpleBind(const SambaDc& dc, const std::string& dn, const std::string& password) {
  LDAP* ld = connectTls(dc);
  if (!ld) return -1;
  const int rc = bindWith(ld, dn, password);
  ldap_unbind_ext_s(ld, nullptr, nullptr);
  return rc;
}

const SambaDc& requireSambaDc() {
  static const std::optional<SambaDc> found = [] {
    std::string why;
    auto d = loadSambaDc(&why);
    if (!d) std::fprintf(stderr, "%s\n", why.c_str());
    return d;
  }();
  if (!found) std::abort();
  return *found;
}

}  // namespace tv::test
