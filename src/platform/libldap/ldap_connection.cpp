#include "platform/libldap/ldap_connection.h"

#include <cstring>

#include "platform/ldap/ldap_paging.h"
#include "platform/ldap/ldap_values.h"
#include "platform/libldap/ldap_handles.h"
#include "text/text.h"

namespace tv::ldap {
namespace {

// Large enough for a domain controller that has to find a user among tens of
// thousands; small enough that a dead server is noticed within a cycle.
constexpr int kNetworkTimeoutSeconds = 10;
constexpr int kOperationTimeoutSeconds = 300;
// The SASL security strength from which a Kerberos layer seals the
// connection (Cyrus SASL counts a DES-strength layer as 56).
constexpr unsigned kSealingStrength = 56;
// A page size of 0 with a cookie tells the server to drop the search.
constexpr int kAbandonPageSize = 0;

// The layout of Cyrus SASL's sasl_interact_t, which libldap hands to the
// interaction callback; GSSAPI takes everything from the keytab, so each
// prompt is answered with its default.
struct SaslInteract {
  unsigned long id;
  const char* challenge;
  const char* prompt;
  const char* defresult;
  const void* result;
  unsigned len;
};

int saslDefaults(LDAP*, unsigned, void*, void* interact) {
  for (auto* in = static_cast<SaslInteract*>(interact); in && in->id != 0; ++in) {
    in->result = in->defresult ? in->defresult : "";
    in->len = in->defresult ? static_cast<unsigned>(std::strlen(in->defresult)) : 0;
  }
  return LDAP_SUCCESS;
}

std::string diagnostic(LDAP* ld) {
  char* raw = nullptr;
  if (ld == nullptr || ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw) != LDAP_OPT_SUCCESS) {
    return {};
  }
  const TextPtr msg(raw);
  return msg ? std::string(msg.get()) : std::string();
}

int scopeOf(Scope scope) {
  return scope == Scope::kBase       ? LDAP_SCOPE_BASE
         : scope == Scope::kOneLevel ? LDAP_SCOPE_ONELEVEL
                                     : LDAP_SCOPE_SUBTREE;
}

}  // namespace

// One page at a time of a search on the connection, for runPagedSearch().
class LdapConnection::Pages : public PageSource {
 public:
  Pages(LdapConnection& c, const std::string& base, int scope, const std::string& filter,
        const std::vector<std::string>& attrs, int pageSize, const EntryHandler& onEntry)
      : c_(c),
        base_(base),
        scope_(scope),
        filter_(filter),
        attrs_(attrArray(attrs)),
        allAttrs_(attrs.empty()),
        pageSize_(pageSize),
        onEntry_(onEntry) {}

  int ensureConnected() override { return c_.ld_ ? LDAP_SUCCESS : c_.connect(); }

  int reconnect() override {
    reportReconnecting(c_.log_, c_.opt_.uris);
    return c_.connect();
  }

  Page fetchPage(const std::string& cookie, const FirstTime& firstTime) override {
    LDAP* ld = c_.ld_;
    Page page;
    ControlPtr control;
    if (const int rc = createControl(pageSize_, cookie, control); rc != LDAP_SUCCESS) {
      return failed(rc);
    }
    LDAPControl* controls[] = {control.get(), nullptr};
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(ld, base_.c_str(), scope_, filter_.c_str(),
                                     allAttrs_ ? nullptr : attrs_.data(), 0, controls, nullptr,
                                     nullptr, 0, &raw);
    const MessagePtr res(raw);
    if (rc != LDAP_SUCCESS && rc != LDAP_REFERRAL) {
      page = failed(rc);
      if (isConnectionLost(rc)) page.outcome = Page::Outcome::kConnectionLost;
      return page;
    }
    for (LDAPMessage* m = ldap_first_message(ld, res.get()); m && !page.stopped;
         m = ldap_next_message(ld, m)) {
      if (ldap_msgtype(m) != LDAP_RES_SEARCH_ENTRY) continue;  // references: not chased
      const Entry entry = entryOf(ld, m);
      if (!firstTime(entry.dn)) continue;
      if (!onEntry_(entry)) page.stopped = true;
    }
    LDAPControl** rawReturned = nullptr;
    int err = LDAP_SUCCESS;
    ldap_parse_result(ld, res.get(), &err, nullptr, nullptr, nullptr, &rawReturned, 0);
    const ControlsPtr returned(rawReturned);
    if (LDAPControl* c = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned.get(), nullptr)) {
      ber_int_t estimate = 0;
      berval next{0, nullptr};
      if (ldap_parse_pageresponse_control(ld, c, &estimate, &next) == LDAP_SUCCESS) {
        if (next.bv_val) page.cookie.assign(next.bv_val, next.bv_len);
        ber_memfree(next.bv_val);
      }
    }
    return page;
  }

  void abandon(const std::string& cookie) override {
    ControlPtr done;
    if (createControl(kAbandonPageSize, cookie, done) != LDAP_SUCCESS) return;
    LDAPControl* controls[] = {done.get(), nullptr};
    LDAPMessage* raw = nullptr;
    ldap_search_ext_s(c_.ld_, base_.c_str(), scope_, filter_.c_str(), attrs_.data(), 0, controls,
                      nullptr, nullptr, 0, &raw);
    const MessagePtr res(raw);
  }

 private:
  int createControl(int size, const std::string& cookie, ControlPtr& control) {
    std::string bytes = cookie;
    berval cookieBv{static_cast<ber_len_t>(bytes.size()), bytes.data()};
    LDAPControl* raw = nullptr;
    const int rc =
        ldap_create_page_control(c_.ld_, size, bytes.empty() ? nullptr : &cookieBv, 0, &raw);
    control.reset(raw);
    return rc;
  }

  Page failed(int rc) {
    c_.recordError(rc, c_.ld_);
    Page page;
    page.outcome = Page::Outcome::kFailed;
    page.rc = rc;
    return page;
  }

  LdapConnection& c_;
  const std::string& base_;
  int scope_;
  const std::string& filter_;
  std::vector<char*> attrs_;
  bool allAttrs_;
  int pageSize_;
  const EntryHandler& onEntry_;
};

void LdapConnection::recordError(int rc, LDAP* ld, const std::string& context) {
  errors_.fail(hresultOfLdap(rc), failureText(ldap_err2string(rc), diagnostic(ld), context));
}

void LdapConnection::disconnect() {
  if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
  ld_ = nullptr;
}

int LdapConnection::connect() {
  disconnect();
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, opt_.uris.c_str());
  if (rc != LDAP_SUCCESS) {
    errors_.fail(hresultOfLdap(rc),
                 "ldap_initialize(" + opt_.uris + "): " + std::string(ldap_err2string(rc)));
    reportInvalidServer(log_, opt_.uris, ldap_err2string(rc));
    return rc;
  }
  int version = LDAP_VERSION3;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  // Kerberos asks for the ticket of the server as LdapServer names it, the
  // way Windows does; libldap would otherwise take the name the server's
  // address resolves back to, which for a domain controller is often another
  // alias (or "localhost"), and the ticket request would fail.
  ldap_set_option(ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
  timeval net{kNetworkTimeoutSeconds, 0};
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &net);
  timeval op{kOperationTimeoutSeconds, 0};
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &op);
  int demand = LDAP_OPT_X_TLS_DEMAND;
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  if (!opt_.caFile.empty()) ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, opt_.caFile.c_str());
  int isServer = 0;
  ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &isServer);

  const auto failed = [&](int code, const char* what) {
    recordError(code, ld, what);
    if (!reportedDown_) {
      const auto last = errors_.last();
      reportConnectFailed(log_, opt_.uris, last ? last->text : "");
      reportedDown_ = true;
    }
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return code;
  };

  if (opt_.startTls && !ldap_tls_inplace(ld)) {
    rc = ldap_start_tls_s(ld, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) return failed(rc, "StartTLS");
  }
  // ldaps connects lazily; both binds must know whether TLS is in place
  // before they start. An anonymous RootDSE read opens the connection (and
  // its TLS session for ldaps://).
  if (!ldap_tls_inplace(ld)) {
    ber_socket_t fd = -1;
    ldap_get_option(ld, LDAP_OPT_DESC, &fd);
    if (fd < 0) {
      std::string noAttrs = kNoAttributes;
      char* attrs[] = {noAttrs.data(), nullptr};
      LDAPMessage* raw = nullptr;
      rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr, nullptr,
                             nullptr, 1, &raw);
      const MessagePtr res(raw);
      if (isConnectionLost(rc)) return failed(rc, "connect");
    }
  }
  if (opt_.simple) {
    // A simple bind sends the password itself; never in clear text.
    if (!ldap_tls_inplace(ld)) {
      errors_.fail(hresultFromLdap(ldaprc::kConfidentialityRequired),
                   "simple bind refused: the connection to " + opt_.uris +
                       " is not encrypted (use ldaps:// or LdapStartTls)");
      reportClearTextBindRefused(log_, opt_.uris);
      ldap_unbind_ext_s(ld, nullptr, nullptr);
      return ldaprc::kConfidentialityRequired;
    }
    berval cred{static_cast<ber_len_t>(opt_.password.size()), opt_.password.data()};
    rc = ldap_sasl_bind_s(ld, opt_.bindName.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr,
                          nullptr);
    if (rc != LDAP_SUCCESS) return failed(rc, "simple bind");
  } else {
    // Domain controllers refuse a Kerberos signing/sealing layer inside TLS;
    // there TLS alone protects the connection.
    if (ldap_tls_inplace(ld)) {
      char noLayer[] = "maxssf=0";
      ldap_set_option(ld, LDAP_OPT_X_SASL_SECPROPS, noLayer);
    }
    rc = ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                      saslDefaults, nullptr);
    if (rc != LDAP_SUCCESS) return failed(rc, "SASL/GSSAPI bind");
  }
  ld_ = ld;
  if (reportedDown_) reportRestored(log_, opt_.uris);
  reportedDown_ = false;
  loadDomainFacts();
  return LDAP_SUCCESS;
}

int LdapConnection::call(const std::function<int(LDAP*)>& op) {
  std::lock_guard lock(mutex_);
  if (!ld_) {
    const int rc = connect();
    if (rc != LDAP_SUCCESS) return rc;
  }
  int rc = op(ld_);
  if (isConnectionLost(rc)) {
    reportReconnecting(log_, opt_.uris);
    rc = connect();
    if (rc != LDAP_SUCCESS) return rc;
    rc = op(ld_);
  }
  if (rc != LDAP_SUCCESS) recordError(rc, ld_);
  return rc;
}

int LdapConnection::ensureConnected() {
  std::lock_guard lock(mutex_);
  return ld_ ? LDAP_SUCCESS : connect();
}

int LdapConnection::readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                              Entry* out) {
  return call([&](LDAP* ld) {
    auto arr = attrArray(attrs);
    LDAPMessage* raw = nullptr;
    int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                               attrs.empty() ? nullptr : arr.data(), 0, nullptr, nullptr, nullptr,
                               0, &raw);
    const MessagePtr res(raw);
    if (rc == LDAP_SUCCESS) {
      LDAPMessage* e = ldap_first_entry(ld, res.get());
      if (e) {
        *out = entryOf(ld, e);
      } else {
        rc = LDAP_NO_SUCH_OBJECT;
      }
    }
    return rc;
  });
}

int LdapConnection::pagedSearch(const std::string& base, Scope scope, const std::string& filter,
                                const std::vector<std::string>& attrs, int pageSize,
                                const EntryHandler& onEntry) {
  std::lock_guard lock(mutex_);
  Pages pages(*this, base, scopeOf(scope), filter, attrs, pageSize, onEntry);
  const int rc = runPagedSearch(pages);
  if (rc == LDAP_SUCCESS) errors_.succeed();
  return rc;
}

int LdapConnection::add(const std::string& dn, const std::vector<Change>& changes) {
  ModList mods(changes, ModOp::kAdd);
  return call(
      [&](LDAP* ld) { return ldap_add_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr); });
}

int LdapConnection::modify(const std::string& dn, const std::vector<Change>& changes, ModOp op) {
  ModList mods(changes, op);
  return call(
      [&](LDAP* ld) { return ldap_modify_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr); });
}

int LdapConnection::rename(const std::string& dn, const std::string& newRdn,
                           const std::string& newParent) {
  return call([&](LDAP* ld) {
    return ldap_rename_s(ld, dn.c_str(), newRdn.c_str(), newParent.c_str(), 1, nullptr, nullptr);
  });
}

int LdapConnection::remove(const std::string& dn) {
  return call([&](LDAP* ld) { return ldap_delete_ext_s(ld, dn.c_str(), nullptr, nullptr); });
}

bool LdapConnection::encrypted() {
  std::lock_guard lock(mutex_);
  if (!ld_ && connect() != LDAP_SUCCESS) return false;
  if (ldap_tls_inplace(ld_)) return true;
  // A Kerberos bind may seal the connection itself (SASL security layer).
  unsigned ssf = 0;  // sasl_ssf_t
  return ldap_get_option(ld_, LDAP_OPT_X_SASL_SSF, &ssf) == LDAP_OPT_SUCCESS &&
         ssf >= kSealingStrength;
}

}  // namespace tv::ldap
