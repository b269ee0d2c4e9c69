// Safe building and reading of the directory's names and filters. Every value
// that comes from a job file, a settings file or the directory itself goes
// through these before it becomes part of a search filter (RFC 4515) or a
// distinguished name (RFC 4514), so that a login such as "*)(cn=*" or
// "a,OU=x" stays one literal value and can never widen a search or point
// into another container.
//
// DNs are compared without regard to case or the blanks around "=" and ",",
// and with escapes resolved, as the directory compares them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// A filter assertion value: "*", "(", ")", "\" and NUL become \2a \28 \29 \5c \00.
[[nodiscard]] std::string escapeFilterValue(std::string_view value);

// An attribute value inside a DN: "," "+" """ "\" "<" ">" ";" are escaped
// with a backslash (as Active Directory writes them; "=" stays as it is), as
// are a leading "#" or blank and a trailing blank; NUL and other control
// bytes become \XX.
[[nodiscard]] std::string escapeDnValue(std::string_view value);

// Resolves "\c" and "\XX" escapes of a DN attribute value.
[[nodiscard]] std::string unescapeDnValue(std::string_view value);

// One relative distinguished name: the attribute type as written and the
// value with its escapes resolved.
struct Rdn {
  std::string type;
  std::string value;
};

// Splits a DN into its RDNs, leaf first. Empty text gives an empty list
// (the root); text that is not a DN gives nullopt.
[[nodiscard]] std::optional<std::vector<Rdn>> parseDn(std::string_view dn);

// RDNs back to text with canonical escaping ("CN=a\,b,OU=x").
[[nodiscard]] std::string formatDn(const std::vector<Rdn>& rdns);
[[nodiscard]] std::string formatRdn(const Rdn& rdn);

// A key for comparing DNs: types and values lower-cased (with the Danish
// letters), canonical escaping, no stray blanks. Text that is not a DN is
// lower-cased as it stands.
[[nodiscard]] std::string normalizeDn(std::string_view dn);
[[nodiscard]] bool dnEquals(std::string_view a, std::string_view b);

// The first RDN as text ("CN=x") and the DN of the parent ("" for a one-RDN
// DN); both give "" for text that is not a DN.
[[nodiscard]] std::string leafRdn(std::string_view dn);
[[nodiscard]] std::string parentDn(std::string_view dn);

// True when dn lies at or below base.
[[nodiscard]] bool dnIsWithin(std::string_view dn, std::string_view base);

// LDAP paths. pathFromDn gives "LDAP://" + the DN with "/" escaped as "\/"
// (a slash would otherwise read as the end of a server name). dnFromPath
// takes "LDAP://dn" or "LDAP://server/dn" (or a bare DN) and gives the DN.
[[nodiscard]] std::string pathFromDn(std::string_view dn);
[[nodiscard]] std::string dnFromPath(std::string_view path);

// The canonical name of a DN: the DC parts joined by "." then the other RDN
// values from the top down, each after a "/" ("skole.test/ZEB/Elev/x"); the
// domain itself gives "skole.test/". "/" inside a value is written "\/".
[[nodiscard]] std::string canonicalNameOf(std::string_view dn);

}  // namespace tv
