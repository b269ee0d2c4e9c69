#include "platform/memory/schema.h"

#include "directory/attribute_syntax.h"
#include "text/text.h"

namespace tv::memdir {

namespace {

struct Seed {
  const char* name;
  bool single;
  Access access;
};

constexpr Access kN = Access::kNormal;
constexpr Access kS = Access::kSystem;
constexpr Access kC = Access::kComputed;

constexpr Seed kBase[] = {
    {"objectClass", false, kN},
    {"cn", true, kN},
    {"ou", true, kN},
    {"dc", true, kN},
    {"name", true, kC},
    {"distinguishedName", true, kC},
    {"memberOf", false, kC},
    {"objectCategory", true, kS},
    {"objectGUID", true, kS},
    {"objectSid", true, kS},
    {"whenCreated", true, kS},
    {"whenChanged", true, kS},
    {"uSNCreated", true, kS},
    {"uSNChanged", true, kS},
    {"instanceType", true, kS},
    {"sAMAccountType", true, kS},
    {"pwdLastSet", true, kS},
    {"badPwdCount", true, kS},
    {"sAMAccountName", true, kN},
    {"userPrincipalName", true, kN},
    {"givenName", true, kN},
    {"sn", true, kN},
    {"middleName", true, kN},
    {"initials", true, kN},
    {"displayName", true, kN},
    {"description", false, kN},
    {"title", true, kN},
    {"department", true, kN},
    {"departmentNumber", false, kN},
    {"division", true, kN},
    {"company", true, kN},
    {"o", false, kN},
    {"physicalDeliveryOfficeName", true, kN},
    {"telephoneNumber", true, kN},
    {"otherTelephone", false, kN},
    {"homePhone", true, kN},
    {"otherHomePhone", false, kN},
    {"mobile", true, kN},
    {"otherMobile", false, kN},
    {"pager", true, kN},
    {"otherPager", false, kN},
    {"ipPhone", true, kN},
    {"facsimileTelephoneNumber", true, kN},
    {"mail", true, kN},
    {"proxyAddresses", false, kN},
    {"mailNickname", true, kN},
    {"streetAddress", true, kN},
    {"street", true, kN},
    {"postOfficeBox", false, kN},
    {"l", true, kN},
    {"st", true, kN},
    {"postalCode", true, kN},
    {"c", true, kN},
    {"co", true, kN},
    {"countryCode", true, kN},
    {"comment", true, kN},
    {"info", true, kN},
    {"wWWHomePage", true, kN},
    {"url", false, kN},
    {"employeeID", true, kN},
    {"employeeNumber", true, kN},
    {"employeeType", true, kN},
    {"personalTitle", true, kN},
    {"businessCategory", false, kN},
    {"homeDirectory", true, kN},
    {"homeDrive", true, kN},
    {"profilePath", true, kN},
    {"scriptPath", true, kN},
    {"userWorkstations", true, kN},
    {"userAccountControl", true, kN},
    {"accountExpires", true, kN},
    {"lockoutTime", true, kN},
    {"lastLogon", true, kS},
    {"lastLogonTimestamp", true, kS},
    {"logonCount", true, kS},
    {"primaryGroupID", true, kN},
    {"userParameters", true, kN},
    {"groupType", true, kN},
    {"member", false, kN},
    {"managedBy", true, kN},
    {"manager", true, kN},
    {"seeAlso", false, kN},
    {"thumbnailPhoto", true, kN},
    {"jpegPhoto", false, kN},
    {"gidNumber", true, kN},
    {"uidNumber", true, kN},
    {"unixHomeDirectory", true, kN},
    {"loginShell", true, kN},
    {"gecos", true, kN},
    {"adminDescription", true, kN},
    {"adminDisplayName", true, kN},
    {"showInAdvancedViewOnly", true, kN},
    {"isCriticalSystemObject", true, kS},
    {"systemFlags", true, kS},
    {"gPLink", true, kN},
    {"gPOptions", true, kN},
};

}  // namespace

Schema::Schema(bool mailAttributes) {
  for (const Seed& s : kBase) {
    AttrDef d;
    d.name = s.name;
    d.type = adsTypeOfAttribute(s.name);
    d.single = s.single;
    d.access = s.access;
    if (d.name == "employeeID") d.maxChars = 16;
    add(std::move(d));
  }
  for (int k = 1; k <= 20; ++k) {
    add(AttrDef{"msDS-cloudExtensionAttribute" + std::to_string(k), AdsType::kCaseIgnoreString,
                true, kN, 0});
  }
  if (mailAttributes) {
    add(AttrDef{"msExchHideFromAddressLists", AdsType::kBoolean, true, kN, 0});
    add(AttrDef{"homeMDB", AdsType::kDnString, true, kN, 0});
    for (int k = 1; k <= 15; ++k) {
      add(AttrDef{"extensionAttribute" + std::to_string(k), AdsType::kCaseIgnoreString, true, kN,
                  0});
    }
  }
}

AttrId Schema::add(AttrDef def) {
  const auto id = static_cast<AttrId>(defs_.size());
  byLower_.emplace(toLower(def.name), id);
  defs_.push_back(std::move(def));
  return id;
}

std::optional<AttrId> Schema::find(std::string_view name) const {
  const auto it = byLower_.find(asciiToLower(name));
  if (it == byLower_.end()) return std::nullopt;
  return it->second;
}

AttrId Schema::learn(std::string_view name) {
  if (auto id = find(name)) return *id;
  return add(AttrDef{std::string(name), adsTypeOfAttribute(name), false, kN, 0});
}

}  // namespace tv::memdir
