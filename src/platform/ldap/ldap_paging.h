// The paged search (RFC 2696) as every LDAP adapter runs it: pages are asked
// for until the server hands back an empty cookie or the caller wants no
// more, and then the server is told to drop the search. After a lost
// connection the search connects again once and starts over, skipping the
// entries it has handed out already: a paging cookie does not survive its
// connection. The client library's part is one page at a time, behind
// PageSource.
#pragma once

#include <functional>
#include <string>

namespace tv::ldap {

// What one page request gave.
struct Page {
  enum class Outcome { kDelivered, kConnectionLost, kFailed };
  Outcome outcome = Outcome::kDelivered;
  int rc = 0;            // the client library's result code when not delivered
  std::string cookie;    // for the next page; empty after the last one
  bool stopped = false;  // the caller wanted no more entries
};

class PageSource {
 public:
  // Answers whether an entry is new to this search (and notes it).
  using FirstTime = std::function<bool(const std::string& dn)>;

  virtual ~PageSource() = default;
  // Connects when there is no connection; the client library's success code
  // (ldaprc::kSuccess) or its failure.
  virtual int ensureConnected() = 0;
  // Asks for the page after cookie (empty: the first) and hands each of its
  // entries that is new to the search to the caller in turn; a failure is
  // recorded for lastError() before it is returned.
  virtual Page fetchPage(const std::string& cookie, const FirstTime& firstTime) = 0;
  // Reports the lost connection and connects again; as ensureConnected().
  virtual int reconnect() = 0;
  // Tells the server to drop the search the cookie belongs to.
  virtual void abandon(const std::string& cookie) = 0;
};

// ldaprc::kSuccess when every page was read or the caller stopped; else the
// client library's result code of the failure.
[[nodiscard]] int runPagedSearch(PageSource& source);

}  // namespace tv::ldap
