// What the LDAP adapters read of the domain once per connection and how they
// use it: the attribute types of the schema (each attributeSchema entry's
// lDAPDisplayName and attributeSyntax) and the domain's DNS name from its
// crossRef entry, which turns DNs into canonical names as the name
// translation does.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "directory/directory.h"

namespace tv::ldap {

// The searches of the schema read, below the root entry's naming contexts.
inline constexpr std::array<const char*, 3> kRootDseNames = {
    "schemaNamingContext", "defaultNamingContext", "configurationNamingContext"};
inline constexpr const char* kSchemaFilter = "(objectClass=attributeSchema)";
inline constexpr std::array<const char*, 2> kSchemaAttributes = {"lDAPDisplayName",
                                                                 "attributeSyntax"};
inline constexpr int kSchemaPageSize = 500;

// The crossRef entry of the domain partition, below configurationNamingContext.
[[nodiscard]] std::string partitionsBase(std::string_view configurationNamingContext);
[[nodiscard]] std::string partitionFilter(std::string_view defaultNamingContext);

class SchemaTypes {
 public:
  using Map = std::unordered_map<std::string, AdsType>;  // lower-case name -> type

  // One attributeSchema entry into a map being read.
  static void add(Map& map, std::string_view name, std::string_view attributeSyntax);
  // Takes a complete read; an empty one leaves the types unknown.
  void adopt(Map map);

  // nullopt when the schema could not be read; kInvalid when it lacks the attribute.
  [[nodiscard]] std::optional<AdsType> find(std::string_view attr) const;
  // The type a column gets: the schema's, else what the directory port knows
  // of constructed attributes ("ADsPath", "canonicalName" …).
  [[nodiscard]] AdsType columnType(std::string_view attr) const;

 private:
  Map types_;
};

// The canonical name of dn: with the domain's DNS name (dnsRoot) in place of
// its DC components when dn lies in the domain partition, else the server's
// canonicalName value, else the name made from the DN alone.
[[nodiscard]] std::string canonicalNameIn(std::string_view dn,
                                          std::string_view defaultNamingContext,
                                          std::string_view dnsRoot,
                                          const std::optional<std::string>& serverValue);

}  // namespace tv::ldap
