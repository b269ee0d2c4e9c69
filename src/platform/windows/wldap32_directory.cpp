#include "platform/windows/wldap32_directory.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <winldap.h>
#include <winber.h>
#include <rpc.h>  // SEC_WINNT_AUTH_IDENTITY_W
#include <dsgetdc.h>
#include <lm.h>
// clang-format on

#include <charconv>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/ldap/ldap_objects.h"
#include "platform/ldap/ldap_paging.h"
#include "platform/ldap/ldap_settings.h"
#include "platform/ldap/ldap_values.h"
#include "platform/windows/wide.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace ldap {
namespace {

using win::toUtf8;
using win::toWide;

constexpr ULONG kConnectSeconds = 10;
constexpr long kOperationSeconds = 300;
constexpr int kAbandonPageSize = 0;
// The Windows client's "no results returned" after the last page.
constexpr ULONG kTimeout = LDAP_TIMEOUT;

// winldap.h takes "const PWCHAR" (WCHAR* const): the strings it reads are
// not changed, only the type lacks the const.
PWCHAR P(const std::wstring& s) {
  return const_cast<PWCHAR>(s.c_str());
}
PWCHAR P(const wchar_t* s) {
  return const_cast<PWCHAR>(s);
}
PWCHAR nullOrP(const std::wstring& s) {
  return s.empty() ? nullptr : P(s);
}

// Ownership of what wldap32 hands out.
struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
struct TextFree {
  void operator()(PWCHAR p) const { ldap_memfreeW(p); }
};
struct ControlFree {
  void operator()(PLDAPControlW c) const { ldap_control_freeW(c); }
};
struct ControlsFree {
  void operator()(PLDAPControlW* c) const { ldap_controls_freeW(c); }
};
struct BervalFree {
  void operator()(berval* b) const { ber_bvfree(b); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;
using TextPtr = std::unique_ptr<WCHAR, TextFree>;
using ControlPtr = std::unique_ptr<LDAPControlW, ControlFree>;
using ControlsPtr = std::unique_ptr<PLDAPControlW, ControlsFree>;
using BervalPtr = std::unique_ptr<berval, BervalFree>;

ULONG scopeOf(Scope scope) {
  return scope == Scope::kBase       ? LDAP_SCOPE_BASE
         : scope == Scope::kOneLevel ? LDAP_SCOPE_ONELEVEL
                                     : LDAP_SCOPE_SUBTREE;
}

// The NULL-terminated wide attribute list of a search; the strings live in
// the object, so the pointers stay valid for the call.
class WideList {
 public:
  explicit WideList(const std::vector<std::string>& items) {
    for (const std::string& s : items) wide_.push_back(toWide(s));
    for (std::wstring& w : wide_) ptrs_.push_back(w.data());
    ptrs_.push_back(nullptr);
  }
  PWCHAR* get() { return wide_.empty() ? nullptr : ptrs_.data(); }

 private:
  std::vector<std::wstring> wide_;
  std::vector<PWCHAR> ptrs_;
};

// An LDAPModW list over a change queue, the values as bytes.
class ModList {
 public:
  ModList(const std::vector<Change>& changes, ModOp op) {
    const ULONG code = op == ModOp::kAdd      ? LDAP_MOD_ADD
                       : op == ModOp::kDelete ? LDAP_MOD_DELETE
                                              : LDAP_MOD_REPLACE;
    names_.reserve(changes.size());
    vals_.resize(changes.size());
    valPtrs_.resize(changes.size());
    mods_.resize(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      names_.push_back(toWide(changes[i].attr));
      for (const std::string& v : changes[i].values) {
        vals_[i].push_back({static_cast<ULONG>(v.size()), const_cast<PCHAR>(v.data())});
      }
      for (berval& b : vals_[i]) valPtrs_[i].push_back(&b);
      valPtrs_[i].push_back(nullptr);
      mods_[i].mod_op = code | LDAP_MOD_BVALUES;
      mods_[i].mod_type = names_[i].data();
      mods_[i].mod_vals.modv_bvals = valPtrs_[i].data();
    }
    for (LDAPModW& m : mods_) ptrs_.push_back(&m);
    ptrs_.push_back(nullptr);
  }
  LDAPModW** get() { return ptrs_.data(); }

 private:
  std::vector<std::wstring> names_;
  std::vector<std::vector<berval>> vals_;
  std::vector<std::vector<berval*>> valPtrs_;
  std::vector<LDAPModW> mods_;
  std::vector<LDAPModW*> ptrs_;
};

Entry entryOf(LDAP* ld, LDAPMessage* e) {
  Entry out;
  if (const TextPtr dn{ldap_get_dnW(ld, e)}) out.dn = toUtf8(dn.get());
  BerElement* ber = nullptr;
  for (TextPtr a{ldap_first_attributeW(ld, e, &ber)}; a;
       a.reset(ldap_next_attributeW(ld, e, ber))) {
    std::vector<std::string> values;
    if (berval** v = ldap_get_values_lenW(ld, e, a.get())) {
      for (berval** p = v; *p != nullptr; ++p) values.emplace_back((*p)->bv_val, (*p)->bv_len);
      ldap_value_free_len(v);
    }
    out.attributes.emplace_back(toUtf8(a.get()), std::move(values));
  }
  if (ber != nullptr) ber_free(ber, 0);
  return out;
}

// The result of one request: the code (server's or client's, Windows
// numbering), the server's diagnostic text and the answer itself.
struct Answer {
  ULONG rc = LDAP_SUCCESS;
  std::string diagnostic;
  MessagePtr message;
  ControlsPtr controls;
};

// Waits for the answer to a request started with an *_ext call. The
// synchronous calls do not give the server's text (the options that would
// are not there under every client), the parsed result does.
Answer awaitAnswer(LDAP* ld, ULONG startRc, ULONG msgid) {
  Answer a;
  if (startRc != LDAP_SUCCESS) {
    a.rc = startRc;
    return a;
  }
  l_timeval timeout{kOperationSeconds, 0};
  LDAPMessage* raw = nullptr;
  const ULONG type = ldap_result(ld, msgid, LDAP_MSG_ALL, &timeout, &raw);
  a.message.reset(raw);
  if (type == 0) {
    ldap_abandon(ld, msgid);
    a.rc = kTimeout;
    return a;
  }
  if (type == static_cast<ULONG>(-1) || !a.message) {
    a.rc = LdapGetLastError();
    if (a.rc == LDAP_SUCCESS) a.rc = LDAP_SERVER_DOWN;
    return a;
  }
  ULONG code = LDAP_SUCCESS;
  PWCHAR text = nullptr;
  PLDAPControlW* controls = nullptr;
  const ULONG parsed =
      ldap_parse_resultW(ld, a.message.get(), &code, nullptr, &text, nullptr, &controls, FALSE);
  a.controls.reset(controls);
  if (text != nullptr) {
    a.diagnostic = toUtf8(text);
    ldap_memfreeW(text);
  }
  a.rc = parsed != LDAP_SUCCESS ? parsed : code;
  return a;
}

std::string errorText(ULONG rc) {
  const PWCHAR text = ldap_err2stringW(rc);
  return text != nullptr ? toUtf8(text) : "LDAP error " + std::to_string(rc);
}

// The CA a server's certificate must chain to, for the connection being
// made on this thread: the certificate callback carries no context of its
// own, and the client calls it on the thread that makes the connection.
thread_local const std::string* tlsCaFile = nullptr;
thread_local const std::wstring* tlsHost = nullptr;

// The certificate of a PEM or DER file; null when it holds none.
PCCERT_CONTEXT loadCertificate(const std::string& path) {
  std::ifstream in(pathFromUtf8(path), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<BYTE> der(bytes.begin(), bytes.end());
  DWORD len = 0;
  if (CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()),
                           CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr, nullptr)) {
    der.assign(len, 0);
    CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &len, nullptr, nullptr);
  }
  if (der.empty()) return nullptr;
  return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                      static_cast<DWORD>(der.size()));
}

// SECURITY_FLAG_IGNORE_UNKNOWN_CA of wininet.h: the root is checked apart.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

// Whether the server's certificate chains to the CA of caFile and names
// host. The chain is built with the CA beside the machine's stores and must
// end in that CA; the one fault forgiven is that the CA is not in the
// machine's trusted roots.
bool certificateTrusted(PCCERT_CONTEXT server, const std::string& caFile,
                        const std::wstring& host) {
  if (server == nullptr) return false;
  bool ok = false;
  PCCERT_CONTEXT ca = loadCertificate(caFile);
  HCERTSTORE extra =
      ca != nullptr ? CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) : nullptr;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof(para);
  if (extra != nullptr &&
      CertAddCertificateContextToStore(extra, ca, CERT_STORE_ADD_ALWAYS, nullptr) &&
      CertGetCertificateChain(nullptr, server, nullptr, extra, &para, 0, nullptr, &chain) &&
      chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    const DWORD faults = chain->TrustStatus.dwErrorStatus & ~CERT_TRUST_IS_UNTRUSTED_ROOT;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = kIgnoreUnknownCa;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    ok = faults == 0 && CertCompareCertificate(X509_ASN_ENCODING, root->pCertInfo, ca->pCertInfo) &&
         CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
         status.dwError == 0;
  }
  if (chain != nullptr) CertFreeCertificateChain(chain);
  if (extra != nullptr) CertCloseStore(extra, 0);
  if (ca != nullptr) CertFreeCertificateContext(ca);
  return ok;
}

BOOLEAN LDAPAPI checkServerCertificate(PLDAP, PCCERT_CONTEXT server) {
  const bool ok = tlsCaFile != nullptr && tlsHost != nullptr &&
                  certificateTrusted(server, *tlsCaFile, *tlsHost);
  // The client hands the callback a reference of its own.
  if (server != nullptr) CertFreeCertificateContext(server);
  return ok ? TRUE : FALSE;
}

// How the connection binds, from the settings.
struct BindOptions {
  ConnectOptions connect;  // uris as configured (or the found domain controller)
  std::vector<ServerAddress> servers;
  std::string user;  // explicit Negotiate credentials; empty: the machine's identity
  std::string domain;
};

class WldapConnection final : public LdapClient {
 public:
  WldapConnection(BindOptions options, LogSink& log) : opt_(std::move(options)), log_(log) {}
  ~WldapConnection() override { disconnect(); }
  WldapConnection(const WldapConnection&) = delete;
  WldapConnection& operator=(const WldapConnection&) = delete;

  int readEntry(const std::string& dn, const std::vector<std::string>& attrs, Entry* out) override {
    return call([&](LDAP* ld) -> Answer {
      const std::wstring base = toWide(dn);
      WideList list(attrs);
      ULONG msgid = 0;
      const ULONG rc = ldap_search_extW(ld, P(base), LDAP_SCOPE_BASE, P(L"(objectClass=*)"),
                                        list.get(), 0, nullptr, nullptr, 0, 0, &msgid);
      Answer a = awaitAnswer(ld, rc, msgid);
      if (a.rc == LDAP_SUCCESS) {
        LDAPMessage* e = ldap_first_entry(ld, a.message.get());
        if (e != nullptr) {
          *out = entryOf(ld, e);
        } else {
          a.rc = LDAP_NO_SUCH_OBJECT;
        }
      }
      return a;
    });
  }

  int pagedSearch(const std::string& base, Scope scope, const std::string& filter,
                  const std::vector<std::string>& attrs, int pageSize,
                  const EntryHandler& onEntry) override;

  int add(const std::string& dn, const std::vector<Change>& changes) override {
    ModList mods(changes, ModOp::kAdd);
    const std::wstring target = toWide(dn);
    return call([&](LDAP* ld) {
      ULONG msgid = 0;
      const ULONG rc = ldap_add_extW(ld, P(target), mods.get(), nullptr, nullptr, &msgid);
      return awaitAnswer(ld, rc, msgid);
    });
  }

  int modify(const std::string& dn, const std::vector<Change>& changes, ModOp op) override {
    ModList mods(changes, op);
    const std::wstring target = toWide(dn);
    return call([&](LDAP* ld) {
      ULONG msgid = 0;
      const ULONG rc = ldap_modify_extW(ld, P(target), mods.get(), nullptr, nullptr, &msgid);
      return awaitAnswer(ld, rc, msgid);
    });
  }

  int rename(const std::string& dn, const std::string& newRdn,
             const std::string& newParent) override {
    const std::wstring target = toWide(dn), rdn = toWide(newRdn), parent = toWide(newParent);
    return call([&](LDAP* ld) {
      ULONG msgid = 0;
      const ULONG rc =
          ldap_rename_extW(ld, P(target), P(rdn), P(parent), TRUE, nullptr, nullptr, &msgid);
      return awaitAnswer(ld, rc, msgid);
    });
  }

  int remove(const std::string& dn) override {
    const std::wstring target = toWide(dn);
    return call([&](LDAP* ld) {
      ULONG msgid = 0;
      const ULONG rc = ldap_delete_extW(ld, P(target), nullptr, nullptr, &msgid);
      return awaitAnswer(ld, rc, msgid);
    });
  }

  bool encrypted() override {
    std::lock_guard lock(mutex_);
    if (ld_ == nullptr && connect() != ldaprc::kSuccess) return false;
    return sealed_;
  }

 protected:
  int ensureConnected() override {
    std::lock_guard lock(mutex_);
    return ld_ != nullptr ? ldaprc::kSuccess : connect();
  }

 private:
  class Pages;

  void record(ULONG rc, const std::string& diagnostic, const std::string& context = "") {
    const int code = openldapCode(static_cast<int>(rc));
    errors_.fail(hresultOfLdap(code), failureText(errorText(rc), diagnostic, context));
  }

  int call(const std::function<Answer(LDAP*)>& op) {
    std::lock_guard lock(mutex_);
    if (ld_ == nullptr) {
      if (const int rc = connect(); rc != ldaprc::kSuccess) return rc;
    }
    Answer a = op(ld_);
    if (isConnectionLost(openldapCode(static_cast<int>(a.rc)))) {
      reportReconnecting(log_, opt_.connect.uris);
      if (const int rc = connect(); rc != ldaprc::kSuccess) return rc;
      a = op(ld_);
    }
    if (a.rc != LDAP_SUCCESS) record(a.rc, a.diagnostic);
    return openldapCode(static_cast<int>(a.rc));
  }

  void disconnect() {
    if (ld_ != nullptr) ldap_unbind(ld_);
    ld_ = nullptr;
    sealed_ = false;
  }

  // One server of the list: 0 with the bound handle in *out, or the
  // client's code (Windows numbering) after the failure was recorded.
  ULONG bindTo(const ServerAddress& server, LDAP** out, bool* sealed) {
    const std::wstring host = toWide(server.host);
    LDAP* ld = ldap_sslinitW(nullOrP(host), server.port, server.ssl ? 1 : 0);
    if (ld == nullptr) {
      const ULONG rc = LdapGetLastError();
      record(rc, "", "ldap_sslinit(" + server.host + ")");
      return rc == LDAP_SUCCESS ? static_cast<ULONG>(LDAP_PARAM_ERROR) : rc;
    }
    const auto failed = [&](ULONG rc, const char* what) {
      record(rc, "", what);
      ldap_unbind(ld);
      return rc;
    };
    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_optionW(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    const bool tls = server.ssl || opt_.connect.startTls;
    tlsCaFile = opt_.connect.caFile.empty() ? nullptr : &opt_.connect.caFile;
    tlsHost = &host;
    struct Clear {
      ~Clear() { tlsCaFile = nullptr, tlsHost = nullptr; }
    } clear;
    if (tls && tlsCaFile != nullptr) {
      const ULONG rc = ldap_set_optionW(ld, LDAP_OPT_SERVER_CERTIFICATE,
                                        reinterpret_cast<void*>(&checkServerCertificate));
      if (rc != LDAP_SUCCESS && !warnedNoCallback_) {
        warnedNoCallback_ = true;
        log_.write(lvl::kFile | lvl::kWarning,
                   format("** Advarsel: LdapCaFile %s kan ikke bruges her (%s); serverens "
                          "certifikat kontrolleres kun mod maskinens certifikatlager.\n",
                          opt_.connect.caFile.c_str(), errorText(rc).c_str()));
      }
    }
    l_timeval connectTimeout{static_cast<LONG>(kConnectSeconds), 0};
    if (const ULONG rc = ldap_connect(ld, &connectTimeout); rc != LDAP_SUCCESS) {
      return failed(rc, "connect");
    }
    if (opt_.connect.startTls && !server.ssl) {
      ULONG serverRc = 0;
      if (const ULONG rc = ldap_start_tls_sW(ld, &serverRc, nullptr, nullptr, nullptr);
          rc != LDAP_SUCCESS) {
        return failed(rc, "StartTLS");
      }
    }
    if (opt_.connect.simple) {
      // A simple bind sends the password itself; never in clear text.
      if (!tls) {
        errors_.fail(hresultFromLdap(ldaprc::kConfidentialityRequired),
                     "simple bind refused: the connection to " + opt_.connect.uris +
                         " is not encrypted (use ldaps:// or LdapStartTls)");
        reportClearTextBindRefused(log_, opt_.connect.uris);
        ldap_unbind(ld);
        return ldaprc::kConfidentialityRequired;
      }
      const std::wstring name = toWide(opt_.connect.bindName);
      const std::wstring password = toWide(opt_.connect.password);
      if (const ULONG rc = ldap_simple_bind_sW(ld, P(name), P(password)); rc != LDAP_SUCCESS) {
        return failed(rc, "simple bind");
      }
      *sealed = true;
    } else {
      // Domain controllers refuse a signing/sealing layer inside TLS; there
      // TLS alone protects the connection.
      if (!tls) {
        ldap_set_optionW(ld, LDAP_OPT_SIGN, LDAP_OPT_ON);
        ldap_set_optionW(ld, LDAP_OPT_ENCRYPT, LDAP_OPT_ON);
      }
      const std::wstring user = toWide(opt_.user), domain = toWide(opt_.domain),
                         password = toWide(opt_.connect.password);
      SEC_WINNT_AUTH_IDENTITY_W identity{};
      identity.User = reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(user.c_str()));
      identity.UserLength = static_cast<ULONG>(user.size());
      identity.Domain = reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(domain.c_str()));
      identity.DomainLength = static_cast<ULONG>(domain.size());
      identity.Password = reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(password.c_str()));
      identity.PasswordLength = static_cast<ULONG>(password.size());
      identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
      // No credentials: the service's own (machine) account.
      const PWCHAR credentials = opt_.user.empty() ? nullptr : reinterpret_cast<PWCHAR>(&identity);
      if (const ULONG rc = ldap_bind_sW(ld, nullptr, credentials, LDAP_AUTH_NEGOTIATE);
          rc != LDAP_SUCCESS) {
        return failed(rc, "Negotiate bind");
      }
      if (tls) {
        *sealed = true;
      } else {
        void* on = LDAP_OPT_OFF;
        *sealed = ldap_get_optionW(ld, LDAP_OPT_ENCRYPT, &on) == LDAP_SUCCESS
                      ? on != LDAP_OPT_OFF
                      : true;  // asked for before the bind, which then succeeded
      }
    }
    *out = ld;
    return LDAP_SUCCESS;
  }

  int connect() {
    disconnect();
    ULONG rc = LDAP_SERVER_DOWN;
    for (const ServerAddress& server : opt_.servers) {
      LDAP* ld = nullptr;
      bool sealed = false;
      rc = bindTo(server, &ld, &sealed);
      if (rc == LDAP_SUCCESS) {
        ld_ = ld;
        sealed_ = sealed;
        break;
      }
      // The next server only when this one could not be reached.
      if (!isConnectionLost(openldapCode(static_cast<int>(rc))) && rc != kTimeout) break;
    }
    // A refused clear-text bind has said why already.
    if (rc == static_cast<ULONG>(ldaprc::kConfidentialityRequired))
      return ldaprc::kConfidentialityRequired;
    if (rc != LDAP_SUCCESS) {
      if (!reportedDown_) {
        const auto last = errors_.last();
        reportConnectFailed(log_, opt_.connect.uris, last ? last->text : errorText(rc));
        reportedDown_ = true;
      }
      return openldapCode(static_cast<int>(rc));
    }
    if (reportedDown_) reportRestored(log_, opt_.connect.uris);
    reportedDown_ = false;
    loadDomainFacts();
    return ldaprc::kSuccess;
  }

  BindOptions opt_;
  LogSink& log_;
  std::recursive_mutex mutex_;  // the handle and everything read through it
  LDAP* ld_ = nullptr;
  bool sealed_ = false;
  bool reportedDown_ = false;
  bool warnedNoCallback_ = false;
};

// One page at a time of a search on the connection, for runPagedSearch().
class WldapConnection::Pages : public PageSource {
 public:
  Pages(WldapConnection& c, const std::string& base, Scope scope, const std::string& filter,
        const std::vector<std::string>& attrs, int pageSize, const EntryHandler& onEntry)
      : c_(c),
        base_(toWide(base)),
        scope_(scopeOf(scope)),
        filter_(toWide(filter)),
        attrs_(attrs),
        pageSize_(static_cast<ULONG>(pageSize)),
        onEntry_(onEntry) {}

  int ensureConnected() override { return c_.ld_ != nullptr ? ldaprc::kSuccess : c_.connect(); }

  int reconnect() override {
    reportReconnecting(c_.log_, c_.opt_.connect.uris);
    return c_.connect();
  }

  Page fetchPage(const std::string& cookie, const FirstTime& firstTime) override {
    LDAP* ld = c_.ld_;
    Page page;
    ControlPtr control;
    if (const ULONG rc = createControl(pageSize_, cookie, control); rc != LDAP_SUCCESS) {
      return failed(rc, "");
    }
    PLDAPControlW controls[] = {control.get(), nullptr};
    ULONG msgid = 0;
    const ULONG started = ldap_search_extW(ld, P(base_), scope_, P(filter_), attrs_.get(), 0,
                                           controls, nullptr, 0, 0, &msgid);
    const Answer a = awaitAnswer(ld, started, msgid);
    if (a.rc != LDAP_SUCCESS && a.rc != LDAP_REFERRAL) {
      page = failed(a.rc, a.diagnostic);
      if (isConnectionLost(openldapCode(static_cast<int>(a.rc)))) {
        page.outcome = Page::Outcome::kConnectionLost;
      }
      return page;
    }
    // References are not chased; only entries are handed on.
    for (LDAPMessage* e = ldap_first_entry(ld, a.message.get()); e && !page.stopped;
         e = ldap_next_entry(ld, e)) {
      const Entry entry = entryOf(ld, e);
      if (!firstTime(entry.dn)) continue;
      if (!onEntry_(entry)) page.stopped = true;
    }
    if (a.controls) {
      ULONG total = 0;
      berval* next = nullptr;
      if (ldap_parse_page_controlW(ld, a.controls.get(), &total, &next) == LDAP_SUCCESS) {
        const BervalPtr owned(next);
        if (next != nullptr && next->bv_val != nullptr) {
          page.cookie.assign(next->bv_val, next->bv_len);
        }
      }
    }
    return page;
  }

  void abandon(const std::string& cookie) override {
    ControlPtr done;
    if (createControl(kAbandonPageSize, cookie, done) != LDAP_SUCCESS) return;
    PLDAPControlW controls[] = {done.get(), nullptr};
    ULONG msgid = 0;
    const ULONG started = ldap_search_extW(c_.ld_, P(base_), scope_, P(filter_), attrs_.get(), 0,
                                           controls, nullptr, 0, 0, &msgid);
    (void)awaitAnswer(c_.ld_, started, msgid);
  }

 private:
  ULONG createControl(ULONG size, const std::string& cookie, ControlPtr& control) {
    std::string bytes = cookie;
    berval cookieBv{static_cast<ULONG>(bytes.size()), bytes.data()};
    PLDAPControlW raw = nullptr;
    const ULONG rc =
        ldap_create_page_controlW(c_.ld_, size, bytes.empty() ? nullptr : &cookieBv, TRUE, &raw);
    control.reset(raw);
    return rc;
  }

  Page failed(ULONG rc, const std::string& diagnostic) {
    c_.record(rc, diagnostic);
    Page page;
    page.outcome = Page::Outcome::kFailed;
    page.rc = openldapCode(static_cast<int>(rc));
    return page;
  }

  WldapConnection& c_;
  std::wstring base_;
  ULONG scope_;
  std::wstring filter_;
  WideList attrs_;
  ULONG pageSize_;
  const EntryHandler& onEntry_;
};

int WldapConnection::pagedSearch(const std::string& base, Scope scope, const std::string& filter,
                                 const std::vector<std::string>& attrs, int pageSize,
                                 const EntryHandler& onEntry) {
  std::lock_guard lock(mutex_);
  Pages pages(*this, base, scope, filter, attrs, pageSize, onEntry);
  const int rc = runPagedSearch(pages);
  if (rc == ldaprc::kSuccess) errors_.succeed();
  return rc;
}

}  // namespace

std::optional<ServerAddress> parseServerAddress(std::string_view text) {
  ServerAddress a;
  std::string_view rest = text;
  if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
    const std::string name = toLower(rest.substr(0, scheme));
    if (name == "ldaps") {
      a.ssl = true;
      a.port = LDAP_SSL_PORT;
    } else if (name != "ldap") {
      return std::nullopt;
    }
    rest.remove_prefix(scheme + 3);
  }
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
    const std::string_view digits = rest.substr(colon + 1);
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port == 0 ||
        port > 65535) {
      return std::nullopt;
    }
    a.port = port;
    rest = rest.substr(0, colon);
  }
  a.host = std::string(rest);
  return a;
}

bool serverCertificateTrusted(const std::string& certificateFile, const std::string& caFile,
                              const std::string& host) {
  PCCERT_CONTEXT server = loadCertificate(certificateFile);
  const bool ok = certificateTrusted(server, caFile, toWide(host));
  if (server != nullptr) CertFreeCertificateContext(server);
  return ok;
}

NegotiateAccount negotiateAccount(std::string_view bindName) {
  if (const auto slash = bindName.find('\\'); slash != std::string_view::npos) {
    return {std::string(bindName.substr(slash + 1)), std::string(bindName.substr(0, slash))};
  }
  // A user principal name goes whole; the security package finds its domain.
  return {std::string(bindName), ""};
}

}  // namespace ldap

std::optional<std::string> findDomainController() {
  PDOMAIN_CONTROLLER_INFOW info = nullptr;
  const DWORD rc = DsGetDcNameW(nullptr, nullptr, nullptr, nullptr,
                                DS_DIRECTORY_SERVICE_REQUIRED | DS_RETURN_DNS_NAME, &info);
  if (rc != ERROR_SUCCESS || info == nullptr) return std::nullopt;
  std::string name = info->DomainControllerName ? win::toUtf8(info->DomainControllerName) : "";
  NetApiBufferFree(info);
  while (!name.empty() && name.front() == '\\') name.erase(0, 1);
  if (name.empty()) return std::nullopt;
  return name;
}

std::unique_ptr<Directory> openWldapDirectory(const LdapSettings& settings, LogSink& log) {
  LdapSettings effective = settings;
  if (trim(effective.LdapServer).empty()) {
    const std::optional<std::string> dc = findDomainController();
    if (!dc) {
      log.write(lvl::kFile | lvl::kError,
                "** Fejl: LdapServer er ikke angivet, og maskinens domæne har ingen "
                "domænecontroller.\n");
      return nullptr;
    }
    effective.LdapServer = "ldap://" + *dc;
  }
  std::optional<ldap::ConnectOptions> connect = ldap::connectOptionsOf(effective, log);
  if (!connect) return nullptr;
  ldap::BindOptions options;
  for (const std::string& part : split(connect->uris, ' ')) {
    std::optional<ldap::ServerAddress> server = ldap::parseServerAddress(part);
    if (!server) {
      ldap::reportInvalidServer(log, connect->uris, "'" + part + "' er ikke en LDAP-adresse");
      return nullptr;
    }
    options.servers.push_back(std::move(*server));
  }
  if (!connect->simple && !settings.LdapBindName.empty()) {
    if (settings.LdapPasswordFile.empty()) {
      log.write(lvl::kFile | lvl::kError, "** Fejl: LdapBindName kræver LdapPasswordFile.\n");
      return nullptr;
    }
    std::optional<std::string> password = ldap::readPasswordFile(settings.LdapPasswordFile, log);
    if (!password) return nullptr;
    const ldap::NegotiateAccount account = ldap::negotiateAccount(settings.LdapBindName);
    options.user = account.user;
    options.domain = account.domain;
    connect->password = std::move(*password);
  }
  options.connect = std::move(*connect);
  return std::make_unique<ldap::LdapDirectory>(
      std::make_unique<ldap::WldapConnection>(std::move(options), log));
}

// The platform's LDAP directory (platform/ldap/ldap_directory.h), so the
// wiring opens the directory the same way on every platform.
std::unique_ptr<Directory> openLdapDirectory(const LdapSettings& settings, LogSink& log) {
  return openWldapDirectory(settings, log);
}

}  // namespace tv
