#include "platform/ldap/ldap_values.h"

#include <charconv>

#include "text/text.h"

namespace tv::ldap {

int windowsLdapCode(int openldapCode) {
  // -1 (server down) is 81, -7 (filter error) 87 …
  return openldapCode < 0 ? ldaprc::kOther - openldapCode : openldapCode;
}

int openldapCode(int windowsCode) {
  // The client-side range of the Windows client: 81 (server down) up to 97
  // (referral limit exceeded).
  constexpr int kLastClientCode = 97;
  return windowsCode > ldaprc::kOther && windowsCode <= kLastClientCode
             ? ldaprc::kOther - windowsCode
             : windowsCode;
}

Hresult hresultOfLdap(int openldapCode) {
  const int code = windowsLdapCode(openldapCode);
  if (code == ldaprc::kFilterError) return kEAdsInvalidFilter;
  return hresultFromLdap(code);
}

bool isConnectionLost(int openldapCode) {
  const int code = windowsLdapCode(openldapCode);
  return code == ldaprc::kServerDown || code == ldaprc::kConnectError;
}

AdsType adsTypeOfSyntax(std::string_view syntax) {
  struct Entry {
    std::string_view oid;
    AdsType type;
  };
  // As the Windows directory interfaces present each Active Directory syntax.
  static constexpr Entry kTable[] = {
      {"2.5.5.1", AdsType::kDnString},
      {"2.5.5.2", AdsType::kCaseIgnoreString},
      {"2.5.5.3", AdsType::kCaseExactString},
      {"2.5.5.4", AdsType::kCaseIgnoreString},
      {"2.5.5.5", AdsType::kPrintableString},
      {"2.5.5.6", AdsType::kNumericString},
      {"2.5.5.7", AdsType::kDnString},
      {"2.5.5.8", AdsType::kBoolean},
      {"2.5.5.9", AdsType::kInteger},
      {"2.5.5.10", AdsType::kOctetString},
      {"2.5.5.11", AdsType::kUtcTime},
      {"2.5.5.12", AdsType::kCaseIgnoreString},
      {"2.5.5.13", AdsType::kCaseIgnoreString},
      {"2.5.5.14", AdsType::kDnString},
      {"2.5.5.15", AdsType::kNtSecurityDescriptor},
      {"2.5.5.16", AdsType::kLargeInteger},
      {"2.5.5.17", AdsType::kOctetString},
  };
  for (const Entry& e : kTable) {
    if (e.oid == syntax) return e.type;
  }
  return AdsType::kInvalid;
}

namespace {

std::optional<std::uint32_t> number(std::string_view s) {
  std::uint32_t v = 0;
  if (s.empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<RangedName> parseRangedName(std::string_view name) {
  const std::string lower = toLower(name);
  const std::size_t at = lower.find(";range=");
  if (at == std::string::npos || at == 0) return std::nullopt;
  std::string_view range = name.substr(at + 7);
  // Further options after the range are not something a server sends.
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(';') != std::string_view::npos) {
    return std::nullopt;
  }
  RangedName out;
  out.attribute = std::string(name.substr(0, at));
  const auto low = number(range.substr(0, dash));
  if (!low) return std::nullopt;
  out.low = *low;
  const std::string_view high = range.substr(dash + 1);
  if (high != "*") {
    const auto h = number(high);
    if (!h || *h < out.low) return std::nullopt;
    out.high = *h;
  }
  return out;
}

std::string unicodePwdValue(std::string_view password) {
  return toUtf16le("\"" + std::string(password) + "\"");
}

std::string wireRdn(const Rdn& rdn) {
  std::string out = rdn.type + "=";
  for (char c : escapeDnValue(rdn.value)) {
    if (c == '=') out += '\\';
    out += c;
  }
  return out;
}

std::string wireDn(std::string_view dn) {
  const auto rdns = parseDn(dn);
  if (!rdns) return std::string(dn);
  std::string out;
  for (const Rdn& r : *rdns) {
    if (!out.empty()) out += ',';
    out += wireRdn(r);
  }
  return out;
}

bool isAttributeName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == ';' || c == '.' || c == '=';
    if (!ok) return false;
  }
  return true;
}

}  // namespace tv::ldap
