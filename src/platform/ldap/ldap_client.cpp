#include "platform/ldap/ldap_client.h"

#include "text/text.h"

namespace tv::ldap {

std::string Entry::first(std::string_view attr) const {
  for (const auto& [name, values] : attributes) {
    if (equalsIgnoreCase(name, attr) && !values.empty()) return values.front();
  }
  return {};
}

void LdapClient::loadDomainFacts() {
  {
    std::lock_guard lock(factsMutex_);
    if (factsRead_) return;
    factsRead_ = true;
  }
  Entry root;
  if (readEntry("", {}, &root) != ldaprc::kSuccess) return;
  const std::string schemaNc = root.first(kRootDseNames[0]);
  const std::string defaultNc = root.first(kRootDseNames[1]);
  const std::string configurationNc = root.first(kRootDseNames[2]);
  {
    std::lock_guard lock(factsMutex_);
    defaultNamingContext_ = defaultNc;
  }
  if (schemaNc.empty()) return;
  SchemaTypes::Map types;
  int rc = pagedSearch(
      schemaNc, Scope::kOneLevel, kSchemaFilter,
      {kSchemaAttributes.begin(), kSchemaAttributes.end()}, kSchemaPageSize, [&](const Entry& e) {
        SchemaTypes::add(types, e.first(kSchemaAttributes[0]), e.first(kSchemaAttributes[1]));
        return true;
      });
  if (rc == ldaprc::kSuccess) {
    std::lock_guard lock(factsMutex_);
    schema_.adopt(std::move(types));
  }
  // The partition's DNS name gives canonical names (as the name translation does).
  if (!configurationNc.empty() && !defaultNc.empty()) {
    std::string dnsRoot;
    rc = pagedSearch(partitionsBase(configurationNc), Scope::kOneLevel, partitionFilter(defaultNc),
                     {"dnsRoot"}, kSchemaPageSize, [&](const Entry& e) {
                       dnsRoot = e.first("dnsRoot");
                       return false;
                     });
    std::lock_guard lock(factsMutex_);
    if (rc == ldaprc::kSuccess) dnsRoot_ = dnsRoot;
  }
  errors_.succeed();
}

std::optional<AdsType> LdapClient::schemaType(std::string_view attr) {
  (void)ensureConnected();
  std::lock_guard lock(factsMutex_);
  return schema_.find(attr);
}

AdsType LdapClient::columnType(std::string_view attr) {
  if (equalsIgnoreCase(attr, "ADsPath")) return AdsType::kCaseIgnoreString;
  (void)ensureConnected();
  std::lock_guard lock(factsMutex_);
  return schema_.columnType(attr);
}

std::string LdapClient::canonicalName(std::string_view dn,
                                      const std::optional<std::string>& serverValue) {
  std::lock_guard lock(factsMutex_);
  return canonicalNameIn(dn, defaultNamingContext_, dnsRoot_, serverValue);
}

}  // namespace tv::ldap
