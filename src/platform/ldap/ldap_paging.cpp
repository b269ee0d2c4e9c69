#include "platform/ldap/ldap_paging.h"

#include <unordered_set>

#include "directory/hresult.h"

namespace tv::ldap {

int runPagedSearch(PageSource& source) {
  std::string cookie;
  bool reconnected = false;
  std::unordered_set<std::string> delivered;
  const PageSource::FirstTime firstTime = [&delivered](const std::string& dn) {
    return delivered.insert(dn).second;
  };
  for (;;) {
    if (const int rc = source.ensureConnected(); rc != ldaprc::kSuccess) return rc;
    Page page = source.fetchPage(cookie, firstTime);
    if (page.outcome == Page::Outcome::kConnectionLost && !reconnected) {
      reconnected = true;
      if (const int rc = source.reconnect(); rc != ldaprc::kSuccess) return rc;
      cookie.clear();
      continue;
    }
    if (page.outcome != Page::Outcome::kDelivered) return page.rc;
    if (page.stopped) {
      if (!page.cookie.empty()) source.abandon(page.cookie);
      return ldaprc::kSuccess;
    }
    if (page.cookie.empty()) return ldaprc::kSuccess;
    cookie = std::move(page.cookie);
  }
}

}  // namespace tv::ldap
