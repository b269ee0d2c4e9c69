#include "platform/ldap/ldap_directory.h"

#include <signal.h>

#include "directory/escape.h"
#include "platform/ldap/ldap_settings.h"
#include "platform/ldap/ldap_values.h"
#include "platform/libldap/ldap_objects.h"
#include "text/text.h"

namespace tv {
namespace ldap {

std::optional<DirectoryError> LdapDirectory::lastError() const {
  return connection_.errors().last();
}

Hresult LdapDirectory::outcome(int rc) {
  if (rc == LDAP_SUCCESS) {
    succeed();
    return kSOk;
  }
  return hresultOfLdap(rc);
}

int LdapDirectory::entryAttributes(LDAP* ld, LDAPMessage* entry, const std::string& dn,
                                   std::vector<DirAttribute>* out) {
  struct Pending {
    std::size_t index;
    std::uint32_t next;
  };
  std::vector<Pending> pending;
  BerElement* rawBer = nullptr;
  TextPtr a(ldap_first_attribute(ld, entry, &rawBer));
  const BerPtr ber(rawBer);
  for (; a; a.reset(ldap_next_attribute(ld, entry, ber.get()))) {
    const std::string name = a.get();
    DirAttribute attr;
    std::optional<RangedName> range = parseRangedName(name);
    attr.name = range ? range->attribute : name;
    attr.type = connection_.columnType(attr.name);
    attr.values = valuesOf(ld, entry, name.c_str());
    out->push_back(std::move(attr));
    if (range && range->high) pending.push_back({out->size() - 1, *range->high + 1});
  }
  // A domain controller hands out a huge multi-valued attribute (a group's
  // members) in ranges; the rest is asked for range by range.
  for (Pending& p : pending) {
    for (;;) {
      DirAttribute& target = (*out)[p.index];
      const std::string want = target.name + ";range=" + std::to_string(p.next) + "-*";
      std::vector<std::string> attrs{want};
      auto arr = attrArray(attrs);
      LDAPMessage* raw = nullptr;
      const int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                       arr.data(), 0, nullptr, nullptr, nullptr, 0, &raw);
      const MessagePtr res(raw);
      if (rc != LDAP_SUCCESS) return rc;
      std::optional<std::uint32_t> next;
      if (LDAPMessage* e = ldap_first_entry(ld, res.get())) {
        BerElement* rawB = nullptr;
        TextPtr b(ldap_first_attribute(ld, e, &rawB));
        const BerPtr berB(rawB);
        for (; b; b.reset(ldap_next_attribute(ld, e, berB.get()))) {
          const std::string name = b.get();
          auto r = parseRangedName(name);
          if (!r || !equalsIgnoreCase(r->attribute, target.name)) continue;
          for (std::string& v : valuesOf(ld, e, name.c_str()))
            target.values.push_back(std::move(v));
          if (r->high && *r->high + 1 > p.next) next = *r->high + 1;
        }
      }
      if (!next) break;
      p.next = *next;
    }
  }
  return LDAP_SUCCESS;
}

int LdapDirectory::readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                             std::vector<DirAttribute>* out) {
  return connection_.call([&](LDAP* ld) {
    out->clear();
    auto arr = attrArray(attrs);
    LDAPMessage* raw = nullptr;
    int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                               attrs.empty() ? nullptr : arr.data(), 0, nullptr, nullptr, nullptr,
                               0, &raw);
    const MessagePtr res(raw);
    if (rc == LDAP_SUCCESS) {
      LDAPMessage* e = ldap_first_entry(ld, res.get());
      rc = e ? entryAttributes(ld, e, dn, out) : LDAP_NO_SUCH_OBJECT;
    }
    return rc;
  });
}

DirResult<std::unique_ptr<DirObject>> LdapDirectory::bind(std::string_view path) {
  const bool root = equalsIgnoreCase(path, kRootDsePath) || equalsIgnoreCase(path, "RootDSE");
  const std::string dn = root ? "" : wireDn(dnFromPath(path));
  if (!root && (dn.empty() || !parseDn(dn))) {
    return {fail(kEAdsBadPathname, "not a directory path: " + std::string(path)), nullptr};
  }
  std::vector<DirAttribute> attrs;
  const int rc = readEntry(dn, {}, &attrs);
  if (rc != LDAP_SUCCESS) return {hresultOfLdap(rc), nullptr};
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
  const int ldapScope = scope == SearchScope::kBase       ? LDAP_SCOPE_BASE
                        : scope == SearchScope::kOneLevel ? LDAP_SCOPE_ONELEVEL
                                                          : LDAP_SCOPE_SUBTREE;
  const int rc = connection_.pagedSearch(
      baseDn, ldapScope, std::string(filter), ask, pageSize > 0 ? pageSize : kDefaultPageSize,
      [&](LDAP* ld, LDAPMessage* e, const std::string& dn) {
        SearchRow row;
        row.dn = dn;
        entryAttributes(ld, e, dn, &row.attributes);
        if (wantPath)
          row.attributes.push_back({"ADsPath", AdsType::kCaseIgnoreString, {pathFromDn(dn)}});
        return onRow(row);
      });
  return outcome(rc);
}

DirResult<std::string> LdapDirectory::canonicalName(std::string_view dnText) {
  const std::string dn = wireDn(dnFromPath(dnText));
  std::vector<DirAttribute> attrs;
  const int rc = readEntry(dn, {"canonicalName"}, &attrs);
  if (rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INVALID_DN_SYNTAX) {
    return {fail(kNameNotFound, "name translation: no object " + dn), ""};
  }
  if (rc != LDAP_SUCCESS) return {hresultOfLdap(rc), ""};
  std::optional<std::string> server;
  for (const DirAttribute& a : attrs) {
    if (equalsIgnoreCase(a.name, "canonicalName") && !a.values.empty()) server = a.values.front();
  }
  std::string name = connection_.canonicalName(dn, server);
  succeed();
  return {kSOk, std::move(name)};
}

}  // namespace ldap

std::unique_ptr<Directory> openLdapDirectory(const LdapSettings& settings, LogSink& log) {
  std::optional<ldap::ConnectOptions> options = ldap::connectOptionsOf(settings, log);
  if (!options) return nullptr;
  // libldap writes to its socket without MSG_NOSIGNAL: a server that went
  // away would end the whole service with SIGPIPE instead of a failed call
  // that reconnects.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
  return std::make_unique<ldap::LdapDirectory>(std::move(*options), log);
}

}  // namespace tv
