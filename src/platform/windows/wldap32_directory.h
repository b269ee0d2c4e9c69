// The directory port over the Windows LDAP client (wldap32), with the
// objects, paging, schema read, value handling and error texts the libldap
// adapter uses too (platform/ldap/).
//
// The [LDAP] settings as on Linux, read the Windows way:
//   - LdapServer: the servers tried in order ("ldap://dc1 ldaps://dc2:636" or
//     plain host names). Empty: a domain controller of the machine's domain,
//     found with DsGetDcNameW; outside a domain there is none, and the
//     opener returns null (the wiring keeps the snapshot directory then, see
//     findDomainController()).
//   - LdapBind gssapi (the default): Negotiate (Kerberos, else NTLM) with
//     signing and sealing on 389, so passwords can be set without TLS. As the
//     service's own machine identity when LdapBindName is empty (nothing
//     stored); with LdapBindName ("DOMAIN\user" or "user@realm") and
//     LdapPasswordFile as that account.
//   - LdapBind simple: a simple bind as LdapBindName, only over ldaps:// or
//     with LdapStartTls; LdapCaFile is then the CA that must have issued the
//     server's certificate, checked in the client's certificate callback (a
//     client that cannot install the callback keeps its own checks and says
//     so in the log).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "directory/directory.h"
#include "platform/ldap/ldap_directory.h"
#include "ports/log_sink.h"

namespace tv {

// The directory for these settings over wldap32, or null (with the reason
// logged) when they cannot make a connection: an unknown bind method, a
// simple bind without its name or password, no server configured and no
// domain controller found. An unreachable server is not a reason: the first
// call reports it and every later call tries again.
[[nodiscard]] std::unique_ptr<Directory> openWldapDirectory(const LdapSettings& settings,
                                                            LogSink& log);

// openLdapDirectory (platform/ldap/ldap_directory.h) is this one on Windows.

// A domain controller of the machine's domain ("dc1.skole.test"), or nullopt
// when the machine is in no domain or none answers.
[[nodiscard]] std::optional<std::string> findDomainController();

namespace ldap {

// One entry of LdapServer.
struct ServerAddress {
  std::string host;  // empty: the machine's domain (serverless)
  unsigned port = 389;
  bool ssl = false;
};
// "ldaps://dc1:1636", "ldap://dc1", "dc1"; nullopt for another scheme or a
// port that is not a number.
[[nodiscard]] std::optional<ServerAddress> parseServerAddress(std::string_view text);

// What the client's certificate callback decides for the server's
// certificate in certificateFile (PEM or DER): it must chain to the CA of
// caFile alone and name host.
[[nodiscard]] bool serverCertificateTrusted(const std::string& certificateFile,
                                            const std::string& caFile, const std::string& host);

// The account of an explicit Negotiate bind: "DOMAIN\user" or "user@realm".
struct NegotiateAccount {
  std::string user;
  std::string domain;
};
[[nodiscard]] NegotiateAccount negotiateAccount(std::string_view bindName);

}  // namespace ldap
}  // namespace tv
