#include "platform/ldap/ldap_directory.h"

#include <ldap.h>
#include <signal.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "directory/attribute_syntax.h"
#include "directory/escape.h"
#include "platform/ldap/ldap_values.h"
#include "text/text.h"

namespace tv {

namespace {

using ldap::hresultOfLdap;
using ldap::isConnectionLost;
using ldap::windowsLdapCode;

constexpr const char* kProvider = "LDAP Provider";
constexpr const char* kRootDsePath = "LDAP://RootDSE";
constexpr int kSchemaPageSize = 500;
// Large enough for a domain controller that has to find a user among tens of
// thousands; small enough that a dead server is noticed within a cycle.
constexpr int kNetworkTimeoutSeconds = 10;
constexpr int kOperationTimeoutSeconds = 300;

struct Change {
  std::string attr;
  std::vector<std::string> values;  // empty: remove every value
};

struct ConnectOptions {
  std::string uris;
  bool simple = false;
  std::string bindName;
  std::string password;
  std::string caFile;
  bool startTls = false;
};

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

// A berval array over strings that stay alive for the call.
class BervalList {
 public:
  explicit BervalList(const std::vector<std::string>& values) {
    vals_.reserve(values.size());
    for (const std::string& v : values) {
      vals_.push_back({static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())});
    }
    for (berval& b : vals_) ptrs_.push_back(&b);
    ptrs_.push_back(nullptr);
  }
  berval** get() { return ptrs_.data(); }

 private:
  std::vector<berval> vals_;
  std::vector<berval*> ptrs_;
};

// An LDAPMod list over a change queue.
class ModList {
 public:
  ModList(const std::vector<Change>& changes, int op) {
    mods_.resize(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      lists_.emplace_back(std::make_unique<BervalList>(changes[i].values));
      mods_[i].mod_op = op | LDAP_MOD_BVALUES;
      mods_[i].mod_type = const_cast<char*>(changes[i].attr.c_str());
      mods_[i].mod_bvalues = lists_.back()->get();
      ptrs_.push_back(&mods_[i]);
    }
    ptrs_.push_back(nullptr);
  }
  LDAPMod** get() { return ptrs_.data(); }

 private:
  std::vector<LDAPMod> mods_;
  std::vector<std::unique_ptr<BervalList>> lists_;
  std::vector<LDAPMod*> ptrs_;
};

class LdapDirectory;

class LdapObject final : public DirObject {
 public:
  LdapObject(LdapDirectory& dir, std::string dn, bool isNew, bool rootDse)
      : dir_(dir), dn_(std::move(dn)), new_(isNew), rootDse_(rootDse) {}

  void setLoaded(std::vector<DirAttribute> attrs) {
    cache_ = std::move(attrs);
    loaded_ = true;
  }
  void seed(const SearchRow& row) {
    for (const DirAttribute& a : row.attributes) {
      if (!equalsIgnoreCase(a.name, "ADsPath")) cache_.push_back(a);
    }
  }
  void setNewClass(std::string cls) { newClass_ = std::move(cls); }

  std::string adsPath() const override { return rootDse_ ? kRootDsePath : pathFromDn(dn_); }
  std::string dn() const override { return dn_; }
  std::string name() const override { return rootDse_ ? "" : leafRdn(dn_); }
  std::string parent() const override { return rootDse_ ? "" : pathFromDn(parentDn(dn_)); }
  std::string className() const override;

  DirResult<std::string> get(std::string_view attr) override {
    auto all = getAll(attr);
    if (!all.ok()) return {all.hr, {}};
    return {kSOk, all.value.front()};
  }
  DirResult<std::vector<std::string>> getAll(std::string_view attr) override;
  DirResult<std::int64_t> getInt(std::string_view attr) override;
  AdsType typeOf(std::string_view attr) override;
  Hresult getInfo() override {
    loaded_ = false;
    cache_.clear();
    return kSOk;
  }

  Hresult put(std::string_view attr, std::string_view value) override {
    return putAll(attr, {std::string(value)});
  }
  Hresult putAll(std::string_view attr, std::vector<std::string> values) override;
  Hresult clear(std::string_view attr) override { return putAll(attr, {}); }
  Hresult setInfo() override;

  DirResult<std::unique_ptr<DirObject>> create(std::string_view cls, std::string_view rdn) override;
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view sourcePath,
                                                 std::string_view newRdn) override;
  Hresult deleteChild(std::string_view cls, std::string_view rdn) override;
  DirResult<std::vector<std::string>> children(std::string_view cls) override;

  DirResult<bool> accountDisabled() override {
    auto uac = getInt("userAccountControl");
    if (!uac.ok()) return {uac.hr, false};
    return {kSOk, (uac.value & 0x2) != 0};
  }
  Hresult setAccountDisabled(bool disabled) override {
    auto uac = getInt("userAccountControl");
    if (!uac.ok()) return uac.hr;
    const std::int64_t v = disabled ? (uac.value | 0x2) : (uac.value & ~std::int64_t{0x2});
    return put("userAccountControl", std::to_string(v));
  }
  Hresult setPassword(std::string_view password) override;
  Hresult unlock() override { return put("lockoutTime", "0"); }

  Hresult addMember(std::string_view memberPath) override { return changeMember(memberPath, true); }
  Hresult removeMember(std::string_view memberPath) override {
    return changeMember(memberPath, false);
  }
  DirResult<std::vector<std::string>> members() override;

 private:
  // The attribute from the queue or the cache; loads the object once when
  // the cache lacks it. Null with *hr set when it has no value.
  const std::vector<std::string>* lookup(std::string_view attr, Hresult* hr);
  Hresult changeMember(std::string_view memberPath, bool add);
  Hresult unsaved();

  LdapDirectory& dir_;
  std::string dn_;
  bool new_;
  bool rootDse_;
  bool loaded_ = false;
  std::string newClass_;
  std::vector<DirAttribute> cache_;
  std::vector<Change> queue_;
};

class LdapDirectory final : public Directory {
 public:
  LdapDirectory(ConnectOptions options, LogSink& log) : opt_(std::move(options)), log_(log) {}
  ~LdapDirectory() override { disconnect(); }

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override;
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override;
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override;
  DirResult<std::string> canonicalName(std::string_view dn) override;
  std::optional<DirectoryError> lastError() const override {
    std::lock_guard lock(errorMutex_);
    auto it = errors_.find(std::this_thread::get_id());
    if (it == errors_.end()) return std::nullopt;
    return it->second;
  }

  // --- for the objects ---

  // Runs one operation on a connected handle, connecting first when needed
  // and once more when the connection turns out to be lost. The result code
  // is OpenLDAP's; the failure's text is kept for lastError().
  int call(const std::function<int(LDAP*)>& op);
  // Records the outcome of a call and gives its HRESULT.
  Hresult outcome(int rc) {
    if (rc == LDAP_SUCCESS) {
      succeed();
      return kSOk;
    }
    return hresultOfLdap(rc);
  }
  // The extended error as the Windows directory interfaces give it: the
  // code the server's diagnostic text begins with ("00002071: …"), or the
  // HRESULT's own, so the log reads as it does for the memory directory.
  Hresult fail(Hresult hr, std::string text) {
    std::lock_guard lock(errorMutex_);
    const long code = extendedErrorCode(hr, text);
    errors_[std::this_thread::get_id()] = DirectoryError{code, std::move(text), kProvider};
    return hr;
  }
  void succeed() {
    std::lock_guard lock(errorMutex_);
    errors_.erase(std::this_thread::get_id());
  }

  // Every attribute of one entry (attrs null: all), ranged values gathered.
  int readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                std::vector<DirAttribute>* out);
  // True when the connection is encrypted (ldaps or StartTLS).
  bool encrypted();
  // The schema's verdict on an attribute name: nullopt when the schema could
  // not be read, kInvalid when it does not know the attribute.
  std::optional<AdsType> schemaType(std::string_view attr);
  AdsType typeOfAttribute(std::string_view attr);

  std::recursive_mutex& mutex() { return mutex_; }

 private:
  int connect();
  void disconnect() {
    if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
    ld_ = nullptr;
  }
  void recordLdapError(int rc, LDAP* ld, const std::string& context = "");
  void loadSchema();
  // Turns one entry into attributes; ranged attributes are completed by
  // further reads of the entry.
  int entryAttributes(LDAP* ld, LDAPMessage* entry, const std::string& dn,
                      std::vector<DirAttribute>* out);
  // The paged search loop behind search() and the schema read.
  int pagedSearch(const std::string& base, int scope, const std::string& filter,
                  const std::vector<std::string>& attrs, int pageSize,
                  const std::function<bool(LDAP*, LDAPMessage*, const std::string&)>& onEntry);

  ConnectOptions opt_;
  LogSink& log_;
  std::recursive_mutex mutex_;
  LDAP* ld_ = nullptr;
  bool reportedDown_ = false;
  bool schemaRead_ = false;
  std::unordered_map<std::string, AdsType> schema_;  // lower-case name -> type
  std::string defaultNamingContext_;
  std::string configurationNamingContext_;
  std::string dnsRoot_;

  mutable std::mutex errorMutex_;
  std::map<std::thread::id, DirectoryError> errors_;
};

std::string diagnostic(LDAP* ld) {
  char* msg = nullptr;
  std::string out;
  if (ld && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &msg) == LDAP_OPT_SUCCESS && msg) {
    out = msg;
    ldap_memfree(msg);
  }
  return out;
}

std::vector<char*> attrArray(const std::vector<std::string>& attrs) {
  std::vector<char*> out;
  for (const std::string& a : attrs) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// ---------------------------------------------------------------------------
// Connection

void LdapDirectory::recordLdapError(int rc, LDAP* ld, const std::string& context) {
  std::string text = diagnostic(ld);
  const std::string generic = ldap_err2string(rc);
  if (text.empty()) {
    text = generic;
  } else if (!startsWith(text, "0000") && text != generic) {
    text = generic + ": " + text;
  }
  if (!context.empty()) text = context + ": " + text;
  fail(hresultOfLdap(rc), text);
}

int LdapDirectory::connect() {
  disconnect();
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, opt_.uris.c_str());
  if (rc != LDAP_SUCCESS) {
    fail(hresultOfLdap(rc),
         "ldap_initialize(" + opt_.uris + "): " + std::string(ldap_err2string(rc)));
    log_.write(lvl::kFile | lvl::kError, format("** Fejl: Ugyldig LdapServer '%s': %s\n",
                                                opt_.uris.c_str(), ldap_err2string(rc)));
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
    recordLdapError(code, ld, what);
    if (!reportedDown_) {
      log_.write(lvl::kFile | lvl::kError,
                 format("** Fejl: LDAP-forbindelse til %s mislykkedes: %s\n", opt_.uris.c_str(),
                        lastError() ? lastError()->text.c_str() : ""));
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
      char noAttrs[] = "1.1";
      char* attrs[] = {noAttrs, nullptr};
      LDAPMessage* res = nullptr;
      rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr, nullptr,
                             nullptr, 1, &res);
      ldap_msgfree(res);
      if (isConnectionLost(rc)) return failed(rc, "connect");
    }
  }
  if (opt_.simple) {
    // A simple bind sends the password itself; never in clear text.
    if (!ldap_tls_inplace(ld)) {
      fail(hresultFromLdap(13), "simple bind refused: the connection to " + opt_.uris +
                                    " is not encrypted (use ldaps:// or LdapStartTls)");
      log_.write(lvl::kFile | lvl::kError,
                 format("** Fejl: LDAP-login med adgangskode afvist: forbindelsen til %s er ikke "
                        "krypteret (brug ldaps:// eller LdapStartTls).\n",
                        opt_.uris.c_str()));
      ldap_unbind_ext_s(ld, nullptr, nullptr);
      return 13;
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
  if (reportedDown_) {
    log_.write(lvl::kFile,
               format("** Info: LDAP-forbindelse til %s genoprettet.\n", opt_.uris.c_str()));
  }
  reportedDown_ = false;
  if (!schemaRead_) loadSchema();
  return LDAP_SUCCESS;
}

int LdapDirectory::call(const std::function<int(LDAP*)>& op) {
  std::lock_guard lock(mutex_);
  if (!ld_) {
    const int rc = connect();
    if (rc != LDAP_SUCCESS) return rc;
  }
  int rc = op(ld_);
  if (isConnectionLost(rc)) {
    log_.write(lvl::kFile | lvl::kWarning,
               format("** Info: LDAP-forbindelsen til %s blev afbrudt; forbinder igen.\n",
                      opt_.uris.c_str()));
    rc = connect();
    if (rc != LDAP_SUCCESS) return rc;
    rc = op(ld_);
  }
  if (rc != LDAP_SUCCESS) recordLdapError(rc, ld_);
  return rc;
}

bool LdapDirectory::encrypted() {
  std::lock_guard lock(mutex_);
  if (!ld_ && connect() != LDAP_SUCCESS) return false;
  if (ldap_tls_inplace(ld_)) return true;
  // A Kerberos bind may seal the connection itself (SASL security layer).
  unsigned ssf = 0;  // sasl_ssf_t
  return ldap_get_option(ld_, LDAP_OPT_X_SASL_SSF, &ssf) == LDAP_OPT_SUCCESS && ssf >= 56;
}

void LdapDirectory::loadSchema() {
  schemaRead_ = true;  // once, even when it fails: the adapter works without it
  char* all[] = {nullptr};
  LDAPMessage* res = nullptr;
  int rc = ldap_search_ext_s(ld_, "", LDAP_SCOPE_BASE, "(objectClass=*)", all, 0, nullptr, nullptr,
                             nullptr, 0, &res);
  std::string schemaNc;
  if (rc == LDAP_SUCCESS) {
    if (LDAPMessage* e = ldap_first_entry(ld_, res)) {
      const auto first = [&](const char* a) {
        std::string v;
        if (berval** vals = ldap_get_values_len(ld_, e, a)) {
          if (vals[0]) v.assign(vals[0]->bv_val, vals[0]->bv_len);
          ldap_value_free_len(vals);
        }
        return v;
      };
      schemaNc = first("schemaNamingContext");
      defaultNamingContext_ = first("defaultNamingContext");
      configurationNamingContext_ = first("configurationNamingContext");
    }
  }
  ldap_msgfree(res);
  if (schemaNc.empty()) return;
  std::unordered_map<std::string, AdsType> schema;
  rc = pagedSearch(schemaNc, LDAP_SCOPE_ONELEVEL, "(objectClass=attributeSchema)",
                   {"lDAPDisplayName", "attributeSyntax"}, kSchemaPageSize,
                   [&](LDAP* ld, LDAPMessage* e, const std::string&) {
                     std::string name, syntax;
                     if (berval** v = ldap_get_values_len(ld, e, "lDAPDisplayName")) {
                       if (v[0]) name.assign(v[0]->bv_val, v[0]->bv_len);
                       ldap_value_free_len(v);
                     }
                     if (berval** v = ldap_get_values_len(ld, e, "attributeSyntax")) {
                       if (v[0]) syntax.assign(v[0]->bv_val, v[0]->bv_len);
                       ldap_value_free_len(v);
                     }
                     if (!name.empty()) schema[toLower(name)] = ldap::adsTypeOfSyntax(syntax);
                     return true;
                   });
  if (rc == LDAP_SUCCESS && !schema.empty()) schema_ = std::move(schema);
  // The partition's DNS name gives canonical names (as the name translation does).
  if (!configurationNamingContext_.empty() && !defaultNamingContext_.empty()) {
    pagedSearch(
        "CN=Partitions," + configurationNamingContext_, LDAP_SCOPE_ONELEVEL,
        "(&(objectClass=crossRef)(nCName=" + escapeFilterValue(defaultNamingContext_) + "))",
        {"dnsRoot"}, kSchemaPageSize, [&](LDAP* ld, LDAPMessage* e, const std::string&) {
          if (berval** v = ldap_get_values_len(ld, e, "dnsRoot")) {
            if (v[0]) dnsRoot_.assign(v[0]->bv_val, v[0]->bv_len);
            ldap_value_free_len(v);
          }
          return false;
        });
  }
}

std::optional<AdsType> LdapDirectory::schemaType(std::string_view attr) {
  std::lock_guard lock(mutex_);
  if (!ld_) connect();
  if (schema_.empty()) return std::nullopt;
  auto it = schema_.find(toLower(attr));
  return it == schema_.end() ? AdsType::kInvalid : it->second;
}

AdsType LdapDirectory::typeOfAttribute(std::string_view attr) {
  if (equalsIgnoreCase(attr, "ADsPath")) return AdsType::kCaseIgnoreString;
  const auto t = schemaType(attr);
  if (t && *t != AdsType::kInvalid) return *t;
  return adsTypeOfAttribute(attr);  // constructed attributes and a schema-less start
}

// ---------------------------------------------------------------------------
// Reading entries and searching

int LdapDirectory::entryAttributes(LDAP* ld, LDAPMessage* entry, const std::string& dn,
                                   std::vector<DirAttribute>* out) {
  struct Pending {
    std::size_t index;
    std::uint32_t next;
  };
  std::vector<Pending> pending;
  BerElement* ber = nullptr;
  for (char* a = ldap_first_attribute(ld, entry, &ber); a;
       a = ldap_next_attribute(ld, entry, ber)) {
    std::string name = a;
    ldap_memfree(a);
    DirAttribute attr;
    std::optional<ldap::RangedName> range = ldap::parseRangedName(name);
    attr.name = range ? range->attribute : name;
    attr.type = typeOfAttribute(attr.name);
    if (berval** vals = ldap_get_values_len(ld, entry, name.c_str())) {
      for (int i = 0; vals[i]; ++i) attr.values.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
      ldap_value_free_len(vals);
    }
    out->push_back(std::move(attr));
    if (range && range->high) pending.push_back({out->size() - 1, *range->high + 1});
  }
  ber_free(ber, 0);
  // A domain controller hands out a huge multi-valued attribute (a group's
  // members) in ranges; the rest is asked for range by range.
  for (Pending& p : pending) {
    for (;;) {
      DirAttribute& target = (*out)[p.index];
      const std::string want = target.name + ";range=" + std::to_string(p.next) + "-*";
      std::vector<std::string> attrs{want};
      auto arr = attrArray(attrs);
      LDAPMessage* res = nullptr;
      const int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                       arr.data(), 0, nullptr, nullptr, nullptr, 0, &res);
      if (rc != LDAP_SUCCESS) {
        ldap_msgfree(res);
        return rc;
      }
      std::optional<std::uint32_t> next;
      if (LDAPMessage* e = ldap_first_entry(ld, res)) {
        BerElement* b = nullptr;
        for (char* a = ldap_first_attribute(ld, e, &b); a; a = ldap_next_attribute(ld, e, b)) {
          const std::string name = a;
          ldap_memfree(a);
          auto r = ldap::parseRangedName(name);
          if (!r || !equalsIgnoreCase(r->attribute, target.name)) continue;
          if (berval** vals = ldap_get_values_len(ld, e, name.c_str())) {
            for (int i = 0; vals[i]; ++i)
              target.values.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
            ldap_value_free_len(vals);
          }
          if (r->high && *r->high + 1 > p.next) next = *r->high + 1;
        }
        ber_free(b, 0);
      }
      ldap_msgfree(res);
      if (!next) break;
      p.next = *next;
    }
  }
  return LDAP_SUCCESS;
}

int LdapDirectory::readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                             std::vector<DirAttribute>* out) {
  return call([&](LDAP* ld) {
    out->clear();
    auto arr = attrArray(attrs);
    LDAPMessage* res = nullptr;
    int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                               attrs.empty() ? nullptr : arr.data(), 0, nullptr, nullptr, nullptr,
                               0, &res);
    if (rc == LDAP_SUCCESS) {
      LDAPMessage* e = ldap_first_entry(ld, res);
      rc = e ? entryAttributes(ld, e, dn, out) : LDAP_NO_SUCH_OBJECT;
    }
    ldap_msgfree(res);
    return rc;
  });
}

int LdapDirectory::pagedSearch(
    const std::string& base, int scope, const std::string& filter,
    const std::vector<std::string>& attrs, int pageSize,
    const std::function<bool(LDAP*, LDAPMessage*, const std::string&)>& onEntry) {
  std::lock_guard lock(mutex_);
  auto arr = attrArray(attrs);
  std::string cookie;
  bool reconnected = false;
  // DNs already handed out: after a reconnect the search starts over (a
  // paging cookie does not survive its connection) and skips them.
  std::unordered_set<std::string> delivered;
  for (;;) {
    if (!ld_) {
      const int rc = connect();
      if (rc != LDAP_SUCCESS) return rc;
    }
    berval cookieBv{static_cast<ber_len_t>(cookie.size()), cookie.data()};
    LDAPControl* page = nullptr;
    int rc =
        ldap_create_page_control(ld_, pageSize, cookie.empty() ? nullptr : &cookieBv, 0, &page);
    if (rc != LDAP_SUCCESS) {
      recordLdapError(rc, ld_);
      return rc;
    }
    LDAPControl* controls[] = {page, nullptr};
    LDAPMessage* res = nullptr;
    rc = ldap_search_ext_s(ld_, base.c_str(), scope, filter.c_str(),
                           attrs.empty() ? nullptr : arr.data(), 0, controls, nullptr, nullptr, 0,
                           &res);
    ldap_control_free(page);
    if (isConnectionLost(rc) && !reconnected) {
      ldap_msgfree(res);
      reconnected = true;
      log_.write(lvl::kFile | lvl::kWarning,
                 format("** Info: LDAP-forbindelsen til %s blev afbrudt; forbinder igen.\n",
                        opt_.uris.c_str()));
      const int again = connect();
      if (again != LDAP_SUCCESS) return again;
      cookie.clear();
      continue;
    }
    if (rc != LDAP_SUCCESS && rc != LDAP_REFERRAL) {
      recordLdapError(rc, ld_);
      ldap_msgfree(res);
      return rc;
    }
    bool stopped = false;
    for (LDAPMessage* m = ldap_first_message(ld_, res); m && !stopped;
         m = ldap_next_message(ld_, m)) {
      if (ldap_msgtype(m) != LDAP_RES_SEARCH_ENTRY) continue;  // references: not chased
      char* dnp = ldap_get_dn(ld_, m);
      std::string dn = dnp ? dnp : "";
      ldap_memfree(dnp);
      if (!delivered.insert(dn).second) continue;
      if (!onEntry(ld_, m, dn)) stopped = true;
    }
    LDAPControl** returned = nullptr;
    int err = LDAP_SUCCESS;
    ldap_parse_result(ld_, res, &err, nullptr, nullptr, nullptr, &returned, 0);
    cookie.clear();
    if (LDAPControl* c = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
      ber_int_t estimate = 0;
      berval next{0, nullptr};
      if (ldap_parse_pageresponse_control(ld_, c, &estimate, &next) == LDAP_SUCCESS) {
        if (next.bv_val) cookie.assign(next.bv_val, next.bv_len);
        ber_memfree(next.bv_val);
      }
    }
    ldap_controls_free(returned);
    ldap_msgfree(res);
    if (stopped) {
      if (!cookie.empty()) {
        // A page size of 0 with the cookie tells the server to drop the search.
        berval bv{static_cast<ber_len_t>(cookie.size()), cookie.data()};
        LDAPControl* done = nullptr;
        if (ldap_create_page_control(ld_, 0, &bv, 0, &done) == LDAP_SUCCESS) {
          LDAPControl* ctl[] = {done, nullptr};
          LDAPMessage* r = nullptr;
          ldap_search_ext_s(ld_, base.c_str(), scope, filter.c_str(), arr.data(), 0, ctl, nullptr,
                            nullptr, 0, &r);
          ldap_msgfree(r);
          ldap_control_free(done);
        }
      }
      break;
    }
    if (cookie.empty()) break;
  }
  succeed();
  return LDAP_SUCCESS;
}

DirResult<std::unique_ptr<DirObject>> LdapDirectory::bind(std::string_view path) {
  const bool root = equalsIgnoreCase(path, kRootDsePath) || equalsIgnoreCase(path, "RootDSE");
  const std::string dn = root ? "" : ldap::wireDn(dnFromPath(path));
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
  if (row.dn.empty()) return {fail(kEAdsBadPathname, "a search row without a DN"), nullptr};
  auto obj = std::make_unique<LdapObject>(*this, row.dn, false, false);
  obj->seed(row);
  succeed();
  return {kSOk, std::move(obj)};
}

Hresult LdapDirectory::search(std::string_view base, std::string_view filter,
                              const std::vector<std::string>& attrs, SearchScope scope,
                              int pageSize, const RowCallback& onRow) {
  const std::string baseDn = ldap::wireDn(dnFromPath(base));
  bool wantPath = false;
  std::vector<std::string> ask;
  for (const std::string& a : attrs) {
    if (equalsIgnoreCase(a, "ADsPath")) {
      wantPath = true;
    } else {
      ask.push_back(a);
    }
  }
  if (ask.empty() && wantPath) ask.push_back("1.1");  // no attributes, just the DN
  const int ldapScope = scope == SearchScope::kBase       ? LDAP_SCOPE_BASE
                        : scope == SearchScope::kOneLevel ? LDAP_SCOPE_ONELEVEL
                                                          : LDAP_SCOPE_SUBTREE;
  const int rc = pagedSearch(
      baseDn, ldapScope, std::string(filter), ask, pageSize > 0 ? pageSize : 20,
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
  const std::string dn = ldap::wireDn(dnFromPath(dnText));
  std::vector<DirAttribute> attrs;
  const int rc = readEntry(dn, {"canonicalName"}, &attrs);
  if (rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INVALID_DN_SYNTAX) {
    return {fail(kNameNotFound, "name translation: no object " + dn), ""};
  }
  if (rc != LDAP_SUCCESS) return {hresultOfLdap(rc), ""};
  std::string own = canonicalNameOf(dn);
  std::string root;
  {
    std::lock_guard lock(mutex_);
    if (!dnsRoot_.empty() && dnIsWithin(dn, defaultNamingContext_)) root = dnsRoot_;
  }
  if (!root.empty()) {
    // The DC components name the domain; the partition's DNS name replaces them.
    const std::size_t slash = own.find('/');
    own = root + (slash == std::string::npos ? "/" : own.substr(slash));
  } else {
    for (const DirAttribute& a : attrs) {
      if (equalsIgnoreCase(a.name, "canonicalName") && !a.values.empty()) own = a.values.front();
    }
  }
  succeed();
  return {kSOk, own};
}

// ---------------------------------------------------------------------------
// Objects

std::string LdapObject::className() const {
  if (rootDse_) return "";
  if (new_) return newClass_;
  for (const DirAttribute& a : cache_) {
    if (equalsIgnoreCase(a.name, "objectClass") && !a.values.empty()) return a.values.back();
  }
  // Not in a seeded cache: read it (className is const, so on a copy of the handle).
  std::vector<DirAttribute> attrs;
  if (dir_.readEntry(dn_, {"objectClass"}, &attrs) == LDAP_SUCCESS) {
    for (const DirAttribute& a : attrs) {
      if (equalsIgnoreCase(a.name, "objectClass") && !a.values.empty()) return a.values.back();
    }
  }
  return "";
}

const std::vector<std::string>* LdapObject::lookup(std::string_view attr, Hresult* hr) {
  for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
    if (equalsIgnoreCase(it->attr, attr)) {
      if (it->values.empty()) {
        *hr = dir_.fail(kEAdsPropertyNotFound, "property not in the cache: " + std::string(attr));
        return nullptr;
      }
      return &it->values;
    }
  }
  const auto find = [&]() -> const std::vector<std::string>* {
    for (const DirAttribute& a : cache_) {
      if (equalsIgnoreCase(a.name, attr) && !a.values.empty()) return &a.values;
    }
    return nullptr;
  };
  if (const auto* v = find()) return v;
  if (!loaded_ && !new_) {
    std::vector<DirAttribute> attrs;
    const int rc = dir_.readEntry(dn_, {}, &attrs);
    if (rc != LDAP_SUCCESS) {
      *hr = hresultOfLdap(rc);
      return nullptr;
    }
    setLoaded(std::move(attrs));
    if (const auto* v = find()) return v;
  }
  *hr = dir_.fail(kEAdsPropertyNotFound, "property not in the cache: " + std::string(attr));
  return nullptr;
}

DirResult<std::vector<std::string>> LdapObject::getAll(std::string_view attr) {
  Hresult hr = kEFail;
  const auto* v = lookup(attr, &hr);
  if (!v) return {hr, {}};
  dir_.succeed();
  return {kSOk, *v};
}

DirResult<std::int64_t> LdapObject::getInt(std::string_view attr) {
  Hresult hr = kEFail;
  const auto* v = lookup(attr, &hr);
  if (!v) return {hr, 0};
  std::int64_t n = 0;
  const std::string& s = v->front();
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || end != s.data() + s.size()) {
    return {dir_.fail(kEAdsCantConvertDatatype, "not a number: " + std::string(attr)), 0};
  }
  dir_.succeed();
  return {kSOk, n};
}

AdsType LdapObject::typeOf(std::string_view attr) {
  const auto t = dir_.schemaType(attr);
  if (t) {
    if (*t != AdsType::kInvalid) return *t;
    // Constructed attributes are not in the schema but are read all the same.
    for (const DirAttribute& a : cache_) {
      if (equalsIgnoreCase(a.name, attr)) return a.type;
    }
    return AdsType::kInvalid;
  }
  return adsTypeOfAttribute(attr);
}

Hresult LdapObject::putAll(std::string_view attr, std::vector<std::string> values) {
  if (rootDse_) return dir_.fail(kEAdsPropertyNotSupported, "the RootDSE cannot be changed");
  if (!ldap::isAttributeName(attr)) {
    return dir_.fail(kEInvalidArg, "not an attribute name: " + std::string(attr));
  }
  std::erase_if(queue_, [&](const Change& c) { return equalsIgnoreCase(c.attr, attr); });
  queue_.push_back({std::string(attr), std::move(values)});
  dir_.succeed();
  return kSOk;
}

Hresult LdapObject::setInfo() {
  if (queue_.empty() && !new_) {
    dir_.succeed();
    return kSOk;
  }
  std::vector<Change> queue = std::move(queue_);
  queue_.clear();
  loaded_ = false;
  cache_.clear();
  if (new_) {
    std::vector<Change> adds;
    bool haveClass = false;
    for (Change& c : queue) {
      if (c.values.empty()) continue;
      haveClass = haveClass || equalsIgnoreCase(c.attr, "objectClass");
      adds.push_back(std::move(c));
    }
    if (!haveClass) adds.insert(adds.begin(), Change{"objectClass", {newClass_}});
    ModList mods(adds, LDAP_MOD_ADD);
    const int rc = dir_.call(
        [&](LDAP* ld) { return ldap_add_ext_s(ld, dn_.c_str(), mods.get(), nullptr, nullptr); });
    if (rc == LDAP_SUCCESS) new_ = false;
    return dir_.outcome(rc);
  }
  // The Windows provider lets a modify go through without the attributes the
  // schema does not know and reports them afterwards; the same here.
  std::vector<Change> known;
  std::vector<std::string> unknown;
  for (Change& c : queue) {
    const auto t = dir_.schemaType(c.attr);
    if (t && *t == AdsType::kInvalid) {
      unknown.push_back(c.attr);
    } else {
      known.push_back(std::move(c));
    }
  }
  if (!known.empty()) {
    ModList mods(known, LDAP_MOD_REPLACE);
    const int rc = dir_.call(
        [&](LDAP* ld) { return ldap_modify_ext_s(ld, dn_.c_str(), mods.get(), nullptr, nullptr); });
    if (rc != LDAP_SUCCESS) return hresultOfLdap(rc);
  }
  if (!unknown.empty()) {
    std::string names;
    for (const std::string& n : unknown) names += (names.empty() ? "" : ", ") + n;
    return dir_.fail(kNoAttributeOrValue,
                     "00000057: not in the directory's schema, not written: " + names);
  }
  dir_.succeed();
  return kSOk;
}

Hresult LdapObject::unsaved() {
  return dir_.fail(kEAdsObjectUnbound, "the object is not saved in the directory yet");
}

DirResult<std::unique_ptr<DirObject>> LdapObject::create(std::string_view cls,
                                                         std::string_view rdn) {
  if (new_ || rootDse_) return {unsaved(), nullptr};
  const auto parsed = parseDn(rdn);
  if (cls.empty() || !parsed || parsed->size() != 1) {
    return {dir_.fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn)), nullptr};
  }
  auto child =
      std::make_unique<LdapObject>(dir_, ldap::wireRdn(parsed->front()) + "," + dn_, true, false);
  child->setNewClass(std::string(cls));
  dir_.succeed();
  return {kSOk, std::move(child)};
}

DirResult<std::unique_ptr<DirObject>> LdapObject::moveHere(std::string_view sourcePath,
                                                           std::string_view newRdn) {
  if (new_ || rootDse_) return {unsaved(), nullptr};
  const std::string source = ldap::wireDn(dnFromPath(sourcePath));
  std::string rdn = newRdn.empty() ? leafRdn(source) : std::string(newRdn);
  const auto parsed = parseDn(rdn);
  if (source.empty() || !parsed || parsed->size() != 1) {
    return {dir_.fail(kEAdsBadPathname, "cannot move " + source + " as " + rdn), nullptr};
  }
  rdn = ldap::wireRdn(parsed->front());
  const int rc = dir_.call([&](LDAP* ld) {
    return ldap_rename_s(ld, source.c_str(), rdn.c_str(), dn_.c_str(), 1, nullptr, nullptr);
  });
  if (rc != LDAP_SUCCESS) return {hresultOfLdap(rc), nullptr};
  dir_.succeed();
  return {kSOk, std::make_unique<LdapObject>(dir_, rdn + "," + dn_, false, false)};
}

Hresult LdapObject::deleteChild(std::string_view, std::string_view rdn) {
  if (new_ || rootDse_) return unsaved();
  const auto parsed = parseDn(rdn);
  if (!parsed || parsed->size() != 1) {
    return dir_.fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn));
  }
  const std::string child = ldap::wireRdn(parsed->front()) + "," + dn_;
  return dir_.outcome(
      dir_.call([&](LDAP* ld) { return ldap_delete_ext_s(ld, child.c_str(), nullptr, nullptr); }));
}

DirResult<std::vector<std::string>> LdapObject::children(std::string_view cls) {
  if (new_ || rootDse_) return {unsaved(), {}};
  std::vector<std::string> out;
  const std::string filter =
      cls.empty() ? "(objectClass=*)" : "(objectClass=" + escapeFilterValue(cls) + ")";
  const Hresult hr =
      dir_.search(dn_, filter, {"ADsPath"}, SearchScope::kOneLevel, 20, [&](const SearchRow& row) {
        out.push_back(pathFromDn(row.dn));
        return true;
      });
  return {hr, hr >= 0 ? std::move(out) : std::vector<std::string>{}};
}

Hresult LdapObject::setPassword(std::string_view password) {
  if (new_ || rootDse_) return unsaved();
  if (!dir_.encrypted()) {
    // The password would cross the network readable by anyone on the way.
    return dir_.fail(hresultFromLdap(13),
                     "password not sent: the connection is not encrypted (use ldaps:// or "
                     "LdapStartTls)");
  }
  const std::vector<Change> change{{"unicodePwd", {ldap::unicodePwdValue(password)}}};
  ModList mods(change, LDAP_MOD_REPLACE);
  const int rc = dir_.call(
      [&](LDAP* ld) { return ldap_modify_ext_s(ld, dn_.c_str(), mods.get(), nullptr, nullptr); });
  loaded_ = false;
  cache_.clear();
  return dir_.outcome(rc);
}

Hresult LdapObject::changeMember(std::string_view memberPath, bool add) {
  if (new_ || rootDse_) return unsaved();
  const std::vector<Change> change{{"member", {ldap::wireDn(dnFromPath(memberPath))}}};
  ModList mods(change, add ? LDAP_MOD_ADD : LDAP_MOD_DELETE);
  const int rc = dir_.call(
      [&](LDAP* ld) { return ldap_modify_ext_s(ld, dn_.c_str(), mods.get(), nullptr, nullptr); });
  loaded_ = false;
  cache_.clear();
  return dir_.outcome(rc);
}

DirResult<std::vector<std::string>> LdapObject::members() {
  if (new_ || rootDse_) return {unsaved(), {}};
  std::vector<DirAttribute> attrs;
  const int rc = dir_.readEntry(dn_, {"member"}, &attrs);
  if (rc != LDAP_SUCCESS) return {hresultOfLdap(rc), {}};
  std::vector<std::string> out;
  for (const DirAttribute& a : attrs) {
    if (!equalsIgnoreCase(a.name, "member")) continue;
    for (const std::string& v : a.values) out.push_back(pathFromDn(v));
  }
  dir_.succeed();
  return {kSOk, std::move(out)};
}

}  // namespace

std::unique_ptr<Directory> openLdapDirectory(const LdapSettings& settings, LogSink& log) {
  ConnectOptions opt;
  for (const std::string& part : split(settings.LdapServer, ' ')) {
    const std::string uri(trim(part));
    if (!uri.empty()) opt.uris += (opt.uris.empty() ? "" : " ") + uri;
  }
  if (opt.uris.empty()) {
    log.write(lvl::kFile | lvl::kError, "** Fejl: LdapServer er ikke angivet.\n");
    return nullptr;
  }
  const std::string method = toLower(trim(settings.LdapBind));
  if (method == "simple") {
    opt.simple = true;
    opt.bindName = settings.LdapBindName;
    if (opt.bindName.empty() || settings.LdapPasswordFile.empty()) {
      log.write(lvl::kFile | lvl::kError,
                "** Fejl: LdapBind = simple kræver LdapBindName og LdapPasswordFile.\n");
      return nullptr;
    }
    std::ifstream in(settings.LdapPasswordFile, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
      log.write(lvl::kFile | lvl::kError, format("** Fejl: LdapPasswordFile %s kan ikke læses.\n",
                                                 settings.LdapPasswordFile.c_str()));
      return nullptr;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    opt.password = line;
  } else if (method != "gssapi" && !method.empty()) {
    log.write(lvl::kFile | lvl::kError,
              format("** Fejl: Ukendt LdapBind '%s' (gssapi eller simple).\n",
                     settings.LdapBind.c_str()));
    return nullptr;
  }
  // libldap writes to its socket without MSG_NOSIGNAL: a server that went
  // away would end the whole service with SIGPIPE instead of a failed call
  // that reconnects.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
  opt.caFile = settings.LdapCaFile;
  opt.startTls = settings.LdapStartTls;
  return std::make_unique<LdapDirectory>(std::move(opt), log);
}

}  // namespace tv
