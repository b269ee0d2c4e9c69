#include "platform/ldap/ldap_schema.h"

#include "directory/attribute_syntax.h"
#include "directory/escape.h"
#include "platform/ldap/ldap_values.h"
#include "text/text.h"

namespace tv::ldap {

std::string partitionsBase(std::string_view configurationNamingContext) {
  return "CN=Partitions," + std::string(configurationNamingContext);
}

std::string partitionFilter(std::string_view defaultNamingContext) {
  return "(&(objectClass=crossRef)(nCName=" + escapeFilterValue(defaultNamingContext) + "))";
}

void SchemaTypes::add(Map& map, std::string_view name, std::string_view attributeSyntax) {
  if (!name.empty()) map[toLower(name)] = adsTypeOfSyntax(attributeSyntax);
}

void SchemaTypes::adopt(Map map) {
  if (!map.empty()) types_ = std::move(map);
}

std::optional<AdsType> SchemaTypes::find(std::string_view attr) const {
  if (types_.empty()) return std::nullopt;
  auto it = types_.find(toLower(attr));
  return it == types_.end() ? AdsType::kInvalid : it->second;
}

AdsType SchemaTypes::columnType(std::string_view attr) const {
  if (equalsIgnoreCase(attr, "ADsPath")) return AdsType::kCaseIgnoreString;
  const auto t = find(attr);
  if (t && *t != AdsType::kInvalid) return *t;
  return adsTypeOfAttribute(attr);  // constructed attributes and a schema-less start
}

std::string canonicalNameIn(std::string_view dn, std::string_view defaultNamingContext,
                            std::string_view dnsRoot,
                            const std::optional<std::string>& serverValue) {
  std::string own = canonicalNameOf(dn);
  if (!dnsRoot.empty() && dnIsWithin(dn, defaultNamingContext)) {
    // The DC components name the domain; the partition's DNS name replaces them.
    const std::size_t slash = own.find('/');
    return std::string(dnsRoot) + (slash == std::string::npos ? "/" : own.substr(slash));
  }
  return serverValue ? *serverValue : own;
}

}  // namespace tv::ldap
