#include "directory/escape.h"
#include "platform/ldap/ldap_objects.h"
#include "platform/ldap/ldap_values.h"
#include "text/text.h"

namespace tv::ldap {

std::optional<DirectoryError> LdapDirectory::lastError() const {
  return client_->errors().last();
}

Hresult LdapDirectory::outcome(int rc) {
  if (rc == ldaprc::kSuccess) {
    succeed();
    return kSOk;
  }
  return hresultOfLdap(rc);
}

int LdapDirectory::entryAttributes(const Entry& entry, std::vector<DirAttribute>* out) {
  struct Pending {
    std::size_t index;
    std::uint32_t next;
  };
  std::vector<Pending> pending;
  for (const auto& [name, values] : entry.attributes) {
    DirAttribute attr;
    std::optional<RangedName> range = parseRangedName(name);
    attr.name = range ? range->attribute : name;
    attr.type = client_->columnType(attr.name);
    attr.values = values;
    out->push_back(std::move(attr));
    if (range && range->high) pending.push_back({out->size() - 1, *range->high + 1});
  }
  // A domain controller hands out a huge multi-valued attribute (a group's
  // members) in ranges; the rest is asked for range by range.
  for (Pending& p : pending) {
    for (;;) {
      DirAttribute& target = (*out)[p.index];
      const std::string want = target.name + ";range=" + std::to_string(p.next) + "-*";
      Entry more;
      const int rc = client_->readEntry(entry.dn, {want}, &more);
      if (rc != ldaprc::kSuccess) return rc;
      std::optional<std::uint32_t> next;
      for (auto& [name, values] : more.attributes) {
        auto r = parseRangedName(name);
        if (!r || !equalsIgnoreCase(r->attribute, target.name)) continue;
        for (std::string& v : values) target.values.push_back(std::move(v));
        if (r->high && *r->high + 1 > p.next) next = *r->high + 1;
      }
      if (!next) break;
      p.next = *next;
    }
  }
  return ldaprc::kSuccess;
}

int LdapDirectory::readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                             std::vector<DirAttribute>* out) {
  out->clear();
  Entry entry;
  const int rc = client_->readEntry(dn, attrs, &entry);
  return rc == ldaprc::kSuccess ? entryAttributes(entry, out) : rc;
}

DirResult<std::unique_ptr<DirObject>> LdapDirectory::bind(std::string_view path) {
  const bool root = equalsIgnoreCase(path, kRootDsePath) || equalsIgnoreCase(path, "RootDSE");
  const std::string dn = root ? "" : wireDn(dnFromPath(path));
  if (!root && (dn.empty() || !parseDn(dn))) {
    return {fail(kEAdsBadPathname, "not a directory path: " + std::string(path)), nullptr};
  }
  std::vector<DirAttribute> attrs;
  const int rc = readEntry(dn, {}, &attrs);
  if (rc != ldaprc::kSuccess) return {hresultOfLdap(rc), nullptr};
  succeed();
  auto obj = std::make_unique<LdapObject>(*this, dn, false, root);
  obj->setLoaded(std::move(attrs));
  return {kSOk, std::move(obj)};
}

DirResult<std::unique_ptr<DirObject>> LdapDirectory::bindRow(const SearchRow& row) {
  if (row.dn.empty()) {
    return {fail(kEAdsBadPathname, "a search row without a DN"), nullptr};
  }
  auto obj = std::make_unique<LdapObject>(*this, row.dn, false, false);
  obj->seed(row);
  succeed();
  return {kSOk, std::move(obj)};
}

Hresult LdapDirectory::search(std::string_view base, std::string_view filter,
                              const std::vector<std::string>& attrs, SearchScope scope,
                              int pageSize, const RowCallback& onRow) {
  const std::string baseDn = wireDn(dnFromPath(base));
  bool wantPath = false;
  std::vector<std::string> ask;
  for (const std::string& a : attrs) {
    if (equalsIgnoreCase(a, "ADsPath")) {
      wantPath = true;
    } else {
      ask.push_back(a);
    }
  }
  if (ask.empty() && wantPath) ask.push_back(kNoAttributes);
  const Scope ldapScope = scope == SearchScope::kBase       ? Scope::kBase
                          : scope == SearchScope::kOneLevel ? Scope::kOneLevel
                                                            : Scope::kSubtree;
  const int rc = client_->pagedSearch(
      baseDn, ldapScope, std::string(filter), ask, pageSize > 0 ? pageSize : kDefaultPageSize,
      [&](const Entry& e) {
        SearchRow row;
        row.dn = e.dn;
        entryAttributes(e, &row.attributes);
        if (wantPath)
          row.attributes.push_back({"ADsPath", AdsType::kCaseIgnoreString, {pathFromDn(e.dn)}});
        return onRow(row);
      });
  return outcome(rc);
}

DirResult<std::string> LdapDirectory::canonicalName(std::string_view dnText) {
  const std::string dn = wireDn(dnFromPath(dnText));
  std::vector<DirAttribute> attrs;
  const int rc = readEntry(dn, {"canonicalName"}, &attrs);
  if (rc == ldaprc::kNoSuchObject || rc == ldaprc::kInvalidDnSyntax) {
    return {fail(kNameNotFound, "name translation: no object " + dn), ""};
  }
  if (rc != ldaprc::kSuccess) return {hresultOfLdap(rc), ""};
  std::optional<std::string> server;
  for (const DirAttribute& a : attrs) {
    if (equalsIgnoreCase(a.name, "canonicalName") && !a.values.empty()) server = a.values.front();
  }
  std::string name = client_->canonicalName(dn, server);
  succeed();
  return {kSOk, std::move(name)};
}

}  // namespace tv::ldap
