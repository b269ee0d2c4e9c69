#include "snapshot_loader.h"

#include <ldap.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/memory/ldif.h"
#include "text/text.h"

namespace tv::test {
namespace {

// Computed or guarded by the server: an add naming them fails or they would
// be ignored. userAccountControl and member are set after the add.
const std::set<std::string> kLeftOut = {"objectguid",
                                        "objectsid",
                                        "name",
                                        "objectcategory",
                                        "whencreated",
                                        "whenchanged",
                                        "usncreated",
                                        "usnchanged",
                                        "distinguishedname",
                                        "memberof",
                                        "instancetype",
                                        "pwdlastset",
                                        "badpwdcount",
                                        "badpasswordtime",
                                        "lastlogon",
                                        "lastlogoff",
                                        "logoncount",
                                        "lastlogontimestamp",
                                        "samaccounttype",
                                        "primarygroupid",
                                        "dscorepropagationdata",
                                        "ntsecuritydescriptor",
                                        "unicodepwd",
                                        "useraccountcontrol",
                                        "member"};

constexpr long kPasswordNotRequired = 0x20;
// Meets the domain's complexity rules; the scenarios never log on.
constexpr std::string_view kPassword = "Scenarie#2024x";

struct Attribute {
  std::string name;
  std::vector<std::string> values;
};

struct Entry {
  std::string dn;
  std::vector<Attribute> attributes;  // what the add carries
  std::vector<std::string> members;
  std::string userAccountControl;
  bool user = false;
};

struct LdapDeleter {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Connection = std::unique_ptr<LDAP, LdapDeleter>;

std::size_t depth(const std::string& dn) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\') {
      ++i;
    } else if (dn[i] == ',') {
      ++n;
    }
  }
  return n;
}

std::string failure(LDAP* ld, const std::string& what, int rc) {
  std::string text = what + ": " + std::to_string(rc) + " " + ldap_err2string(rc);
  char* diag = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == LDAP_OPT_SUCCESS && diag) {
    text += std::string(" (") + diag + ")";
    ldap_memfree(diag);
  }
  return text;
}

Connection connect(const SambaDc& dc, std::string* error) {
  LDAP* raw = nullptr;
  if (ldap_initialize(&raw, dc.uri.c_str()) != LDAP_SUCCESS) {
    *error = "cannot initialise " + dc.uri;
    return nullptr;
  }
  Connection ld(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(raw, LDAP_OPT_X_TLS_CACERTFILE, dc.caFile.c_str());
  int demand = LDAP_OPT_X_TLS_DEMAND;
  ldap_set_option(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  int newCtx = 0;
  ldap_set_option(raw, LDAP_OPT_X_TLS_NEWCTX, &newCtx);
  berval cred{static_cast<ber_len_t>(dc.adminPassword.size()),
              const_cast<char*>(dc.adminPassword.data())};
  const int rc =
      ldap_sasl_bind_s(raw, dc.adminDn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
  if (rc != LDAP_SUCCESS) {
    *error = failure(raw, "bind as " + dc.adminDn, rc);
    return nullptr;
  }
  return ld;
}

// One modify or add with these attributes; the LDAP result.
int write(LDAP* ld, const std::string& dn, int op, const std::vector<Attribute>& attributes,
          bool add) {
  std::vector<LDAPMod> mods(attributes.size());
  std::vector<std::vector<berval>> values(attributes.size());
  std::vector<std::vector<berval*>> pointers(attributes.size());
  std::vector<LDAPMod*> list;
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    for (const std::string& v : attributes[i].values) {
      values[i].push_back({static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())});
    }
    for (berval& b : values[i]) pointers[i].push_back(&b);
    pointers[i].push_back(nullptr);
    mods[i].mod_op = op | LDAP_MOD_BVALUES;
    mods[i].mod_type = const_cast<char*>(attributes[i].name.c_str());
    mods[i].mod_bvalues = pointers[i].data();
    list.push_back(&mods[i]);
  }
  list.push_back(nullptr);
  return add ? ldap_add_ext_s(ld, dn.c_str(), list.data(), nullptr, nullptr)
             : ldap_modify_ext_s(ld, dn.c_str(), list.data(), nullptr, nullptr);
}

std::string unicodePwd(std::string_view password) {
  std::string quoted = "\"" + std::string(password) + "\"";
  std::string out;
  for (char c : quoted) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace

std::string loadSnapshot(const SambaDc& dc, std::string_view ldif) {
  memdir::LdifParse parsed = memdir::parseLdif(ldif);
  if (!parsed.error.empty()) return "snapshot: " + parsed.error;

  const std::string base = toLower(dc.baseDn);
  const std::string zeb = "ou=zeb," + base;
  std::vector<Entry> entries;
  for (const memdir::LdifRecord& r : parsed.records) {
    const std::string dn = toLower(r.dn);
    if (dn == base) continue;
    if (dn.size() <= base.size() ||
        dn.compare(dn.size() - base.size() - 1, std::string::npos, "," + base) != 0) {
      return "snapshot entry " + r.dn + " is not below " + dc.baseDn;
    }
    Entry e;
    e.dn = r.dn;
    for (const auto& [name, value] : r.values) {
      const std::string key = toLower(name);
      if (key == "member") {
        e.members.push_back(value);
      } else if (key == "useraccountcontrol") {
        e.userAccountControl = value;
      }
      if (key == "objectclass" && toLower(value) == "user") e.user = true;
      if (kLeftOut.count(key) != 0) continue;
      auto same = std::find_if(e.attributes.begin(), e.attributes.end(),
                               [&key](const Attribute& a) { return toLower(a.name) == key; });
      if (same == e.attributes.end()) {
        e.attributes.push_back({name, {value}});
      } else {
        same->values.push_back(value);
      }
    }
    entries.push_back(std::move(e));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return depth(a.dn) < depth(b.dn); });

  std::string error;
  Connection ld = connect(dc, &error);
  if (!ld) return error;

  // The tree-delete control removes the subtree in one call.
  char oid[] = "1.2.840.113556.1.4.805";
  LDAPControl tree{oid, {0, nullptr}, 1};
  LDAPControl* controls[] = {&tree, nullptr};
  const std::string zebDn = "OU=ZEB," + dc.baseDn;
  const int del = ldap_delete_ext_s(ld.get(), zebDn.c_str(), controls, nullptr);
  if (del != LDAP_SUCCESS && del != LDAP_NO_SUCH_OBJECT) {
    return failure(ld.get(), "delete " + zebDn, del);
  }

  for (const Entry& e : entries) {
    const int rc = write(ld.get(), e.dn, LDAP_MOD_ADD, e.attributes, true);
    const std::string dn = toLower(e.dn);
    const bool inZeb = dn == zeb || dn.ends_with("," + zeb);
    // Built-in containers (CN=Users …) are already in every domain.
    if (rc == LDAP_ALREADY_EXISTS && !inZeb) continue;
    if (rc != LDAP_SUCCESS) return failure(ld.get(), "add " + e.dn, rc);
    if (!e.user || e.userAccountControl.empty()) continue;
    const long flags = std::strtol(e.userAccountControl.c_str(), nullptr, 10);
    if ((flags & kPasswordNotRequired) == 0) {
      const int pw =
          write(ld.get(), e.dn, LDAP_MOD_REPLACE, {{"unicodePwd", {unicodePwd(kPassword)}}}, false);
      if (pw != LDAP_SUCCESS) return failure(ld.get(), "password of " + e.dn, pw);
    }
    const int uac = write(ld.get(), e.dn, LDAP_MOD_REPLACE,
                          {{"userAccountControl", {e.userAccountControl}}}, false);
    if (uac != LDAP_SUCCESS) return failure(ld.get(), "userAccountControl of " + e.dn, uac);
  }
  for (const Entry& e : entries) {
    if (e.members.empty()) continue;
    const int rc = write(ld.get(), e.dn, LDAP_MOD_ADD, {{"member", e.members}}, false);
    if (rc != LDAP_SUCCESS) return failure(ld.get(), "members of " + e.dn, rc);
  }
  return "";
}

}  // namespace tv::test
