#include "windows/samba_domain.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "directory/escape.h"
#include "windows/windows_test_support.h"

namespace tv::wintest {

std::optional<SambaDomain> loadSambaDomain(std::string* why) {
  const std::string file = env("TAVLEVAGT_SAMBA_ENV");
  std::ifstream in(windowsPath(file));
  if (file.empty() || !in) {
    *why = "no domain controller env file '" + file + "' (run under samba-dc.sh isolated)";
    return std::nullopt;
  }
  std::map<std::string, std::string> v;
  for (std::string line; std::getline(in, line);) {
    if (const auto eq = line.find('='); eq != std::string::npos) {
      v[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  SambaDomain dc{v["SAMBA_HOST"], v["SAMBA_DOMAIN"], v["SAMBA_BASE_DN"],
                 windowsPath(v["SAMBA_ADMIN_PASSWORD_FILE"]), windowsPath(v["SAMBA_CA_FILE"])};
  if (dc.host.empty() || dc.domain.empty() || dc.baseDn.empty()) {
    *why = "incomplete env file " + file;
    return std::nullopt;
  }
  return dc;
}

LdapSettings negotiateSettings(const SambaDomain& dc) {
  LdapSettings s;
  s.LdapServer = "ldap://" + dc.host;
  s.LdapBind = "gssapi";
  s.LdapBindName = dc.domain + "\\Administrator";
  s.LdapPasswordFile = dc.adminPasswordFile;
  return s;
}

Hresult freshContainer(Directory& dir, const std::string& dn) {
  std::vector<std::string> below;
  const Hresult found = dir.search(pathFromDn(dn), "(objectClass=*)", {"ADsPath"},
                                   SearchScope::kSubtree, 200, [&](const SearchRow& row) {
                                     below.push_back(row.dn);
                                     return true;
                                   });
  if (found < 0 && found != kNoSuchObject) return found;
  // A child's DN is its parent's with more in front: the longest go first.
  std::sort(below.begin(), below.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& child : below) {
    auto parent = dir.bind(pathFromDn(parentDn(child)));
    if (!parent.ok()) return parent.hr;
    if (const Hresult hr = parent.value->deleteChild("", leafRdn(child)); hr < 0) return hr;
  }
  auto parent = dir.bind(pathFromDn(parentDn(dn)));
  if (!parent.ok()) return parent.hr;
  auto ou = parent.value->create("organizationalUnit", leafRdn(dn));
  if (!ou.ok()) return ou.hr;
  return ou.value->setInfo();
}

}  // namespace tv::wintest
