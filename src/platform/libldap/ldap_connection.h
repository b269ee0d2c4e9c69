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

#include "directory/directory.h"
#include "platform/ldap/ldap_errors.h"
#include "platform/ldap/ldap_schema.h"
#include "platform/ldap/ldap_settings.h"
#include "ports/log_sink.h"

namespace tv::ldap {

class LdapConnection {
 public:
  // Called for each entry of a paged search with its DN; false ends the search.
  using EntryHandler = std::function<bool(LDAP*, LDAPMessage*, const std::string& dn)>;

  LdapConnection(ConnectOptions options, LogSink& log) : opt_(std::move(options)), log_(log) {}
  ~LdapConnection() { disconnect(); }
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;

  // Runs one operation on a connected handle, connecting first when needed
  // and once more when the connection turns out to be lost. The result code
  // is libldap's; a failure's text is kept for lastError().
  int call(const std::function<int(LDAP*)>& op);
  // The paged search loop (platform/ldap/ldap_paging.h) over this connection.
  int pagedSearch(const std::string& base, int scope, const std::string& filter,
                  const std::vector<std::string>& attrs, int pageSize, const EntryHandler& onEntry);
  // True when the connection is encrypted (ldaps, StartTLS or a sealing bind).
  bool encrypted();

  // The schema's verdict on an attribute name (connecting first): nullopt
  // when the schema could not be read, kInvalid when it lacks the attribute.
  std::optional<AdsType> schemaType(std::string_view attr);
  // The type a column of a read or a search gets.
  AdsType columnType(std::string_view attr);
  // The canonical name of dn, as the name translation gives it.
  std::string canonicalName(std::string_view dn, const std::optional<std::string>& serverValue);

  CallErrors& errors() { return errors_; }
  const CallErrors& errors() const { return errors_; }
  // The text of a failed call into lastError().
  void recordError(int rc, LDAP* ld, const std::string& context = "");

 private:
  class Pages;

  int connect();
  void disconnect();
  void loadSchema();

  ConnectOptions opt_;
  LogSink& log_;
  CallErrors errors_;
  std::recursive_mutex mutex_;  // the handle and everything read through it
  LDAP* ld_ = nullptr;
  bool reportedDown_ = false;
  bool schemaRead_ = false;
  SchemaTypes schema_;
  std::string defaultNamingContext_;
  std::string configurationNamingContext_;
  std::string dnsRoot_;
};

}  // namespace tv::ldap
