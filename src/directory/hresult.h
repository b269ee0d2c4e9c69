// The HRESULT values the directory port returns and the product logs, and the
// way an LDAP result code becomes one: LDAP result -> Win32 error (as the
// Windows LDAP client's LdapMapErrorToWin32 maps it) -> HRESULT_FROM_WIN32.
// Both directory adapters use this one table, so a failure reads the same in
// the log whether it came from a domain controller or the memory directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

// A 32-bit COM result: negative values are failures.
using Hresult = std::int32_t;

// What a directory can tell about its last failure (extended code, text, provider).
struct DirectoryError {
  long code = 0;
  std::string text;
  std::string provider;
};

// 0x8xxxxxxx values do not fit an int32 literal; the cast keeps the bits.
constexpr Hresult hresultOf(std::uint32_t bits) {
  return static_cast<Hresult>(bits);
}

inline constexpr Hresult kSOk = 0;
inline constexpr Hresult kSFalse = 1;
inline constexpr Hresult kSAdsNomoreRows = 0x00005012;
inline constexpr Hresult kSAdsNomoreColumns = 0x00005013;

inline constexpr Hresult kENotImpl = hresultOf(0x80004001);
inline constexpr Hresult kEFail = hresultOf(0x80004005);
inline constexpr Hresult kEOutOfMemory = hresultOf(0x8007000E);
inline constexpr Hresult kEInvalidArg = hresultOf(0x80070057);
inline constexpr Hresult kEAccessDenied = hresultOf(0x80070005);

inline constexpr Hresult kEAdsBadPathname = hresultOf(0x80005000);
inline constexpr Hresult kEAdsUnknownObject = hresultOf(0x80005004);
inline constexpr Hresult kEAdsPropertyNotSet = hresultOf(0x80005005);
inline constexpr Hresult kEAdsPropertyNotSupported = hresultOf(0x80005006);
inline constexpr Hresult kEAdsPropertyInvalid = hresultOf(0x80005007);
inline constexpr Hresult kEAdsBadParameter = hresultOf(0x80005008);
inline constexpr Hresult kEAdsObjectUnbound = hresultOf(0x80005009);
inline constexpr Hresult kEAdsCantConvertDatatype = hresultOf(0x8000500C);
inline constexpr Hresult kEAdsPropertyNotFound = hresultOf(0x8000500D);
inline constexpr Hresult kEAdsObjectExists = hresultOf(0x8000500E);
inline constexpr Hresult kEAdsSchemaViolation = hresultOf(0x8000500F);
inline constexpr Hresult kEAdsInvalidFilter = hresultOf(0x80005014);

// Win32 errors the directory produces, as HRESULT_FROM_WIN32 gives them.
inline constexpr Hresult kAlreadyExists = hresultOf(0x80071392);  // ERROR_OBJECT_ALREADY_EXISTS
inline constexpr Hresult kNoSuchObject = hresultOf(0x80072030);   // ERROR_DS_NO_SUCH_OBJECT
inline constexpr Hresult kNoAttributeOrValue =
    hresultOf(0x8007200A);  // ERROR_DS_NO_ATTRIBUTE_OR_VALUE
inline constexpr Hresult kInvalidAttributeSyntax = hresultOf(0x8007200B);
inline constexpr Hresult kAttributeTypeUndefined = hresultOf(0x8007200C);
inline constexpr Hresult kAttributeOrValueExists = hresultOf(0x8007200D);
inline constexpr Hresult kObjClassViolation = hresultOf(0x80072014);
inline constexpr Hresult kCantOnNonLeaf = hresultOf(0x80072015);
inline constexpr Hresult kConstraintViolation = hresultOf(0x8007202F);
inline constexpr Hresult kInvalidDnSyntax = hresultOf(0x80072032);
inline constexpr Hresult kUnwillingToPerform = hresultOf(0x80072035);
inline constexpr Hresult kNamingViolation = hresultOf(0x80072037);
inline constexpr Hresult kServerDown = hresultOf(0x8007203A);
inline constexpr Hresult kFilterUnknown = hresultOf(0x8007203E);
inline constexpr Hresult kSizeLimitExceeded = hresultOf(0x80072023);
inline constexpr Hresult kCantOnRdn = hresultOf(0x80072016);
inline constexpr Hresult kNameNotFound = hresultOf(0x80072116);  // name translation: no such name

// LDAP result codes (RFC 4511 and the client-side codes of the C API) that
// the adapters meet by name.
namespace ldaprc {
inline constexpr int kSuccess = 0;
inline constexpr int kSizeLimitExceeded = 4;
inline constexpr int kReferral = 10;
inline constexpr int kConfidentialityRequired = 13;
inline constexpr int kNoSuchAttribute = 16;
inline constexpr int kUndefinedType = 17;
inline constexpr int kConstraintViolation = 19;
inline constexpr int kAttributeOrValueExists = 20;
inline constexpr int kInvalidSyntax = 21;
inline constexpr int kNoSuchObject = 32;
inline constexpr int kInvalidDnSyntax = 34;
inline constexpr int kInsufficientAccess = 50;
inline constexpr int kUnwillingToPerform = 53;
inline constexpr int kNamingViolation = 64;
inline constexpr int kObjectClassViolation = 65;
inline constexpr int kNotAllowedOnNonLeaf = 66;
inline constexpr int kNotAllowedOnRdn = 67;
inline constexpr int kAlreadyExists = 68;
inline constexpr int kObjectClassModsProhibited = 69;
inline constexpr int kOther = 80;
inline constexpr int kServerDown = 81;
inline constexpr int kFilterError = 87;
inline constexpr int kConnectError = 91;
}  // namespace ldaprc

[[nodiscard]] constexpr Hresult hresultFromWin32(std::uint32_t win32) {
  return win32 == 0 ? kSOk : hresultOf((win32 & 0xFFFFu) | 0x80070000u);
}

// The Win32 error the Windows LDAP client gives for an LDAP result code
// (client-side codes 81..97 included); unknown codes give ERROR_DS_GENERIC_ERROR.
[[nodiscard]] std::uint32_t ldapErrorToWin32(int ldapResult);

// hresultFromWin32(ldapErrorToWin32(ldapResult)).
[[nodiscard]] Hresult hresultFromLdap(int ldapResult);

// The extended error code a directory gives beside a failure, as the Windows
// directory interfaces give it: the Win32 code a domain controller's
// diagnostic text begins with ("0000052D: Constraint violation …" gives
// 0x52D), or, for a text without one, the code part of the HRESULT. Every
// adapter reports its failures so, and the log's "Error Code" line reads
// alike whichever directory answered.
[[nodiscard]] long extendedErrorCode(Hresult hr, std::string_view text);

}  // namespace tv
