// The small translations between an LDAP client library's world and the
// directory port's, kept apart from any connection so every LDAP adapter
// shares them and they can be tested without a server: result codes,
// attribute syntaxes, ranged attribute names, the password value a domain
// controller expects and DNs as they go on the wire.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directory/directory.h"
#include "directory/escape.h"

namespace tv::ldap {

// OpenLDAP numbers its client-side failures below zero (-1 server down,
// -7 filter error …); the Windows LDAP client numbers the same failures from
// 81 up. Codes from the server pass unchanged.
[[nodiscard]] int windowsLdapCode(int openldapCode);
// The other way: a Windows LDAP client's code as OpenLDAP numbers it, so an
// adapter over the Windows client hands the shared code what it expects.
[[nodiscard]] int openldapCode(int windowsCode);

// The HRESULT for an OpenLDAP result code, mapped as the Windows LDAP client
// maps it; a filter that does not parse is the directory interfaces' own
// "invalid filter".
[[nodiscard]] Hresult hresultOfLdap(int openldapCode);

// True for the results that mean the connection itself is gone.
[[nodiscard]] bool isConnectionLost(int openldapCode);

// The AdsType of an Active Directory attributeSyntax OID ("2.5.5.12" …);
// kInvalid for an unknown syntax.
[[nodiscard]] AdsType adsTypeOfSyntax(std::string_view attributeSyntax);

// A ranged attribute description as a domain controller returns large
// multi-valued attributes: "member;range=0-1499" or "member;range=1500-*".
struct RangedName {
  std::string attribute;  // "member"
  std::uint32_t low = 0;
  std::optional<std::uint32_t> high;  // none for "*": the last range
};

// nullopt when the name carries no (well-formed) range option.
[[nodiscard]] std::optional<RangedName> parseRangedName(std::string_view name);

// unicodePwd's value: the password in double quotes, UTF-16LE.
[[nodiscard]] std::string unicodePwdValue(std::string_view password);

// A DN as it is sent to the server: each RDN value escaped, "=" included
// (Samba refuses "CN=a\,OU=x" but takes "CN=a\,OU\=x"). Text that is not a
// DN is passed as it stands, for the server to refuse.
[[nodiscard]] std::string wireDn(std::string_view dn);
[[nodiscard]] std::string wireRdn(const Rdn& rdn);

// An attribute name is safe to send (letters, digits, '-', ';' options).
[[nodiscard]] bool isAttributeName(std::string_view name);

}  // namespace tv::ldap
