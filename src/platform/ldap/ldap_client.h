// One connection to the domain controllers as the directory's objects use
// it, whichever client library carries it: base reads, paged searches and
// changes in the directory port's terms (UTF-8 DNs and filters, values as
// bytes), with the client library's result code numbered as OpenLDAP numbers
// it (platform/ldap/ldap_values.h). Each call connects first when there is
// no connection and once more when it finds the connection lost, and records
// a failure for lastError() before it returns it.
//
// What a connection reads of the domain once after its first bind (the
// schema's attribute types, the naming contexts and the domain's DNS name) is
// read here, through the same calls, so every client library sees the same.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "directory/directory.h"
#include "platform/ldap/ldap_errors.h"
#include "platform/ldap/ldap_schema.h"

namespace tv::ldap {

enum class Scope { kBase, kOneLevel, kSubtree };
enum class ModOp { kAdd, kDelete, kReplace };

// One queued change: an attribute and its new values (none: remove them all).
struct Change {
  std::string attr;
  std::vector<std::string> values;
};

// One entry as the server sent it: attribute names with their options
// ("member;range=0-1499"), values as bytes.
struct Entry {
  std::string dn;
  std::vector<std::pair<std::string, std::vector<std::string>>> attributes;

  // The first value of attr, or "".
  [[nodiscard]] std::string first(std::string_view attr) const;
};

// Called for each entry of a search in turn; false ends the search.
using EntryHandler = std::function<bool(const Entry&)>;

// The attribute list that asks for no attributes, only the entries' DNs.
inline constexpr const char* kNoAttributes = "1.1";

class LdapClient {
 public:
  virtual ~LdapClient() = default;

  // The entry at dn with these attributes (none named: all); kNoSuchObject
  // when the server returns no entry.
  virtual int readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                        Entry* out) = 0;
  // A paged search (platform/ldap/ldap_paging.h); references are not chased.
  virtual int pagedSearch(const std::string& base, Scope scope, const std::string& filter,
                          const std::vector<std::string>& attrs, int pageSize,
                          const EntryHandler& onEntry) = 0;
  virtual int add(const std::string& dn, const std::vector<Change>& changes) = 0;
  virtual int modify(const std::string& dn, const std::vector<Change>& changes, ModOp op) = 0;
  // Renames dn to newRdn below newParent, the old RDN value dropped.
  virtual int rename(const std::string& dn, const std::string& newRdn,
                     const std::string& newParent) = 0;
  virtual int remove(const std::string& dn) = 0;
  // True when what crosses the connection is encrypted (TLS or a sealing bind).
  virtual bool encrypted() = 0;

  // The schema's verdict on an attribute name (connecting first): nullopt
  // when the schema could not be read, kInvalid when it lacks the attribute.
  std::optional<AdsType> schemaType(std::string_view attr);
  // The type a column of a read or a search gets.
  AdsType columnType(std::string_view attr);
  // The canonical name of dn, as the name translation gives it.
  std::string canonicalName(std::string_view dn, const std::optional<std::string>& serverValue);

  CallErrors& errors() { return errors_; }
  const CallErrors& errors() const { return errors_; }

 protected:
  // Connects when there is no connection; kSuccess or the failure.
  virtual int ensureConnected() = 0;
  // Reads the schema and the domain's names, once per client whatever the
  // outcome: the adapter works without them. Called after the first bind.
  void loadDomainFacts();

  CallErrors errors_;

 private:
  std::mutex factsMutex_;
  bool factsRead_ = false;
  SchemaTypes schema_;
  std::string defaultNamingContext_;
  std::string dnsRoot_;
};

}  // namespace tv::ldap
