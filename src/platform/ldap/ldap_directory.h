// The directory port over LDAP to Active Directory or a Samba AD domain
// controller, opened from the [LDAP] settings, which the wiring reads into an
// LdapSettings. This folder holds what every LDAP adapter shares and needs no
// client library: the settings, result mapping, values, paging, schema and
// error texts. The platform's adapter implements openLdapDirectory: on Linux
// platform/libldap over OpenLDAP's libldap.
//
// The libldap adapter connects to the servers of `LdapServer` (ldaps:// or
// ldap:// with `LdapStartTls`) with SASL/GSSAPI and the machine's keytab
// (`LdapBind` gssapi) or a simple bind as `LdapBindName` with the password in
// `LdapPasswordFile`, and the CA file that verifies the server's certificate.
// Kerberos asks for the ticket of the server as LdapServer names it (no
// reverse lookup of its address); over ldap:// the Kerberos layer seals the
// connection, inside TLS none is asked for. Referrals are not chased; a
// dropped connection is made again once per call. Passwords are only ever
// sent over an encrypted connection. Opening it sets SIGPIPE to be ignored
// (when it is at its default), so a dropped connection fails a call instead
// of ending the process.
#pragma once

#include <memory>
#include <string>

#include "directory/directory.h"
#include "ports/log_sink.h"

namespace tv {

// The [LDAP] section of the settings file; the members carry its keys.
struct LdapSettings {
  std::string LdapServer;           // "ldaps://dc1.skole.test ldap://dc2…"
  std::string LdapBind = "gssapi";  // "gssapi" or "simple"
  std::string LdapBindName;         // simple bind: the bind DN or user@REALM
  std::string LdapPasswordFile;     // simple bind: file holding the password
  std::string LdapCaFile;
  bool LdapStartTls = false;
};

// The LDAP directory for these settings, or null (with the reason logged)
// when the settings cannot make a connection: no server, an unknown bind
// method, a simple bind without its name or password file. An unreachable
// server is not a reason: the first call reports it (kServerDown) and every
// later call tries again.
[[nodiscard]] std::unique_ptr<Directory> openLdapDirectory(const LdapSettings& settings,
                                                           LogSink& log);

}  // namespace tv
