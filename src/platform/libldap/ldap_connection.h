// One connection to the domain controllers of LdapServer over OpenLDAP's
// libldap, shared by every object of the directory: made on first use (TLS,
// then a simple or a SASL/GSSAPI bind), made again once when a call finds it
// lost, and the schema and domain names read once after the first bind.
// Calls are serialised by the connection's mutex; each thread's last failure
// is kept for Directory::lastError().
#pragma once

#include <ldap.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldap_client.h"
#include "platform/ldap/ldap_settings.h"
#include "ports/log_sink.h"

namespace tv::ldap {

class LdapConnection final : public LdapClient {
 public:
  LdapConnection(ConnectOptions options, LogSink& log) : opt_(std::move(options)), log_(log) {}
  ~LdapConnection() override { disconnect(); }
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;

  int readEntry(const std::string& dn, const std::vector<std::string>& attrs, Entry* out) override;
  int pagedSearch(const std::string& base, Scope scope, const std::string& filter,
                  const std::vector<std::string>& attrs, int pageSize,
                  const EntryHandler& onEntry) override;
  int add(const std::string& dn, const std::vector<Change>& changes) override;
  int modify(const std::string& dn, const std::vector<Change>& changes, ModOp op) override;
  int rename(const std::string& dn, const std::string& newRdn,
             const std::string& newParent) override;
  int remove(const std::string& dn) override;
  bool encrypted() override;

 protected:
  int ensureConnected() override;

 private:
  class Pages;

  // Runs one operation on a connected handle, connecting first when needed
  // and once more when the connection turns out to be lost. The result code
  // is libldap's; a failure's text is kept for lastError().
  int call(const std::function<int(LDAP*)>& op);
  // The text of a failed call into lastError().
  void recordError(int rc, LDAP* ld, const std::string& context = "");
  int connect();
  void disconnect();

  ConnectOptions opt_;
  LogSink& log_;
  std::recursive_mutex mutex_;  // the handle and everything read through it
  LDAP* ld_ = nullptr;
  bool reportedDown_ = false;
};

}  // namespace tv::ldap
