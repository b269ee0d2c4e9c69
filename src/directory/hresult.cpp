#include "directory/hresult.h"

namespace tv {

namespace {

// Win32 error numbers (winerror.h) that the LDAP client's mapping uses.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorCancelled = 1223;
constexpr std::uint32_t kErrorConnectionRefused = 1225;
constexpr std::uint32_t kErrorLogonFailure = 1326;
constexpr std::uint32_t kErrorTimeout = 1460;
constexpr std::uint32_t kErrorObjectAlreadyExists = 5010;
constexpr std::uint32_t kErrorDsGenericError = 8341;

struct Mapping {
  int ldap;
  std::uint32_t win32;
};

constexpr Mapping kMap[] = {
    {0, 0},
    {1, 8224},             // operationsError -> ERROR_DS_OPERATIONS_ERROR
    {2, 8225},             // protocolError -> ERROR_DS_PROTOCOL_ERROR
    {3, 8226},             // timeLimitExceeded -> ERROR_DS_TIMELIMIT_EXCEEDED
    {4, 8227},             // sizeLimitExceeded -> ERROR_DS_SIZELIMIT_EXCEEDED
    {5, 8229},             // compareFalse -> ERROR_DS_COMPARE_FALSE
    {6, 8230},             // compareTrue -> ERROR_DS_COMPARE_TRUE
    {7, 8231},             // authMethodNotSupported -> ERROR_DS_AUTH_METHOD_NOT_SUPPORTED
    {8, 8232},             // strongerAuthRequired -> ERROR_DS_STRONG_AUTH_REQUIRED
    {9, 8235},             // partial results (v2 referral) -> ERROR_DS_REFERRAL
    {10, 8235},            // referral -> ERROR_DS_REFERRAL
    {11, 8228},            // adminLimitExceeded -> ERROR_DS_ADMIN_LIMIT_EXCEEDED
    {12, 8236},            // unavailableCriticalExtension -> ERROR_DS_UNAVAILABLE_CRIT_EXTENSION
    {13, 8237},            // confidentialityRequired -> ERROR_DS_CONFIDENTIALITY_REQUIRED
    {14, kErrorMoreData},  // saslBindInProgress
    {16, 8202},            // noSuchAttribute -> ERROR_DS_NO_ATTRIBUTE_OR_VALUE
    {17, 8204},            // undefinedAttributeType -> ERROR_DS_ATTRIBUTE_TYPE_UNDEFINED
    {18, 8238},            // inappropriateMatching -> ERROR_DS_INAPPROPRIATE_MATCHING
    {19, 8239},            // constraintViolation -> ERROR_DS_CONSTRAINT_VIOLATION
    {20, 8205},            // attributeOrValueExists -> ERROR_DS_ATTRIBUTE_OR_VALUE_EXISTS
    {21, 8203},            // invalidAttributeSyntax -> ERROR_DS_INVALID_ATTRIBUTE_SYNTAX
    {32, 8240},            // noSuchObject -> ERROR_DS_NO_SUCH_OBJECT
    {33, 8241},            // aliasProblem -> ERROR_DS_ALIAS_PROBLEM
    {34, 8242},            // invalidDNSyntax -> ERROR_DS_INVALID_DN_SYNTAX
    {35, 8243},            // isLeaf -> ERROR_DS_IS_LEAF
    {36, 8244},            // aliasDereferencingProblem -> ERROR_DS_ALIAS_DEREF_PROBLEM
    {48, 8233},            // inappropriateAuthentication -> ERROR_DS_INAPPROPRIATE_AUTH
    {49, kErrorLogonFailure},         // invalidCredentials
    {50, kErrorAccessDenied},         // insufficientAccessRights
    {51, 8206},                       // busy -> ERROR_DS_BUSY
    {52, 8207},                       // unavailable -> ERROR_DS_UNAVAILABLE
    {53, 8245},                       // unwillingToPerform -> ERROR_DS_UNWILLING_TO_PERFORM
    {54, 8246},                       // loopDetect -> ERROR_DS_LOOP_DETECT
    {60, 8261},                       // sortControlMissing -> ERROR_DS_SORT_CONTROL_MISSING
    {61, 8262},                       // offsetRangeError -> ERROR_DS_OFFSET_RANGE_ERROR
    {64, 8247},                       // namingViolation -> ERROR_DS_NAMING_VIOLATION
    {65, 8212},                       // objectClassViolation -> ERROR_DS_OBJ_CLASS_VIOLATION
    {66, 8213},                       // notAllowedOnNonLeaf -> ERROR_DS_CANT_ON_NON_LEAF
    {67, 8214},                       // notAllowedOnRDN -> ERROR_DS_CANT_ON_RDN
    {68, kErrorObjectAlreadyExists},  // entryAlreadyExists
    {69, 8215},                       // objectClassModsProhibited -> ERROR_DS_CANT_MOD_OBJ_CLASS
    {70, 8248},                       // resultsTooLarge -> ERROR_DS_OBJECT_RESULTS_TOO_LARGE
    {71, 8249},                       // affectsMultipleDSAs -> ERROR_DS_AFFECTS_MULTIPLE_DSAS
    {80, kErrorDsGenericError},       // other
    {81, 8250},                       // server down -> ERROR_DS_SERVER_DOWN
    {82, 8251},                       // local error -> ERROR_DS_LOCAL_ERROR
    {83, 8252},                       // encoding error -> ERROR_DS_ENCODING_ERROR
    {84, 8253},                       // decoding error -> ERROR_DS_DECODING_ERROR
    {85, kErrorTimeout},              // timeout
    {86, 8234},                       // auth unknown -> ERROR_DS_AUTH_UNKNOWN
    {87, 8254},                       // filter error -> ERROR_DS_FILTER_UNKNOWN
    {88, kErrorCancelled},            // user cancelled
    {89, 8255},                       // param error -> ERROR_DS_PARAM_ERROR
    {90, kErrorNotEnoughMemory},      // no memory
    {91, kErrorConnectionRefused},    // connect error
    {92, 8256},                       // not supported -> ERROR_DS_NOT_SUPPORTED
    {93, 8258},                       // control not found -> ERROR_DS_CONTROL_NOT_FOUND
    {94, 8257},                       // no results returned -> ERROR_DS_NO_RESULTS_RETURNED
    {95, kErrorMoreData},             // more results to return
    {96, 8259},                       // client loop -> ERROR_DS_CLIENT_LOOP
    {97, 8260},                       // referral limit exceeded -> ERROR_DS_REFERRAL_LIMIT_EXCEEDED
};

}  // namespace

std::uint32_t ldapErrorToWin32(int ldapResult) {
  for (const Mapping& m : kMap) {
    if (m.ldap == ldapResult) return m.win32;
  }
  return kErrorDsGenericError;
}

Hresult hresultFromLdap(int ldapResult) {
  return hresultFromWin32(ldapErrorToWin32(ldapResult));
}

long extendedErrorCode(Hresult hr, std::string_view text) {
  // Eight hexadecimal digits and a colon, as in "00002071: UpdErr: …".
  constexpr std::size_t kDigits = 8;
  const long own = static_cast<long>(static_cast<std::uint32_t>(hr) & 0xFFFF);
  if (text.size() <= kDigits || text[kDigits] != ':') return own;
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < kDigits; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return own;
    code = code * 16 + static_cast<std::uint32_t>(digit);
  }
  return static_cast<long>(code);
}

}  // namespace tv
