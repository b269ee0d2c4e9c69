#include "directory/attribute_syntax.h"

#include "text/text.h"

namespace tv {

namespace {

struct Syntax {
  std::string_view name;
  AdsType type;
};

constexpr Syntax kSyntaxes[] = {
    {"objectGUID", AdsType::kOctetString},
    {"objectSid", AdsType::kOctetString},
    {"sIDHistory", AdsType::kOctetString},
    {"userParameters", AdsType::kOctetString},
    {"unicodePwd", AdsType::kOctetString},
    {"logonHours", AdsType::kOctetString},
    {"thumbnailPhoto", AdsType::kOctetString},
    {"jpegPhoto", AdsType::kOctetString},
    {"userCertificate", AdsType::kOctetString},
    {"msExchMailboxGuid", AdsType::kOctetString},
    {"msExchMailboxSecurityDescriptor", AdsType::kNtSecurityDescriptor},
    {"nTSecurityDescriptor", AdsType::kNtSecurityDescriptor},
    {"userAccountControl", AdsType::kInteger},
    {"groupType", AdsType::kInteger},
    {"primaryGroupID", AdsType::kInteger},
    {"sAMAccountType", AdsType::kInteger},
    {"instanceType", AdsType::kInteger},
    {"systemFlags", AdsType::kInteger},
    {"badPwdCount", AdsType::kInteger},
    {"logonCount", AdsType::kInteger},
    {"countryCode", AdsType::kInteger},
    {"codePage", AdsType::kInteger},
    {"adminCount", AdsType::kInteger},
    {"msDS-User-Account-Control-Computed", AdsType::kInteger},
    {"lockoutTime", AdsType::kLargeInteger},
    {"pwdLastSet", AdsType::kLargeInteger},
    {"accountExpires", AdsType::kLargeInteger},
    {"lastLogon", AdsType::kLargeInteger},
    {"lastLogoff", AdsType::kLargeInteger},
    {"lastLogonTimestamp", AdsType::kLargeInteger},
    {"badPasswordTime", AdsType::kLargeInteger},
    {"uSNChanged", AdsType::kLargeInteger},
    {"uSNCreated", AdsType::kLargeInteger},
    {"whenCreated", AdsType::kUtcTime},
    {"whenChanged", AdsType::kUtcTime},
    {"msExchHideFromAddressLists", AdsType::kBoolean},
    {"isDeleted", AdsType::kBoolean},
    {"showInAdvancedViewOnly", AdsType::kBoolean},
    {"isCriticalSystemObject", AdsType::kBoolean},
    {"distinguishedName", AdsType::kDnString},
    {"member", AdsType::kDnString},
    {"memberOf", AdsType::kDnString},
    {"manager", AdsType::kDnString},
    {"managedBy", AdsType::kDnString},
    {"directReports", AdsType::kDnString},
    {"homeMDB", AdsType::kDnString},
    {"objectCategory", AdsType::kDnString},
    {"defaultNamingContext", AdsType::kDnString},
    {"rootDomainNamingContext", AdsType::kDnString},
    {"configurationNamingContext", AdsType::kDnString},
    {"schemaNamingContext", AdsType::kDnString},
};

}  // namespace

AdsType adsTypeOfAttribute(std::string_view name) {
  for (const Syntax& s : kSyntaxes) {
    if (equalsIgnoreCase(s.name, name)) return s.type;
  }
  return AdsType::kCaseIgnoreString;
}

bool isBinaryType(AdsType type) {
  return type == AdsType::kOctetString || type == AdsType::kNtSecurityDescriptor;
}

}  // namespace tv
