#include "log/log.h"

#include <map>

namespace tv {

std::string win32ErrorText(std::uint32_t code) {
  // The Win32 codes this program can meet: file and share operations, and the
  // directory's LDAP results as the Windows LDAP client maps them.
  static const std::map<std::uint32_t, const char*> kTexts = {
      {0, "The operation completed successfully."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {8, "Not enough memory resources are available to process this command."},
      {32, "The process cannot access the file because it is being used by another process."},
      {53, "The network path was not found."},
      {67, "The network name cannot be found."},
      {80, "The file exists."},
      {87, "The parameter is incorrect."},
      {161, "The specified path is invalid."},
      {183, "Cannot create a file when that file already exists."},
      {206, "The filename or extension is too long."},
      {1231,
       "The network location cannot be reached. For information about network "
       "troubleshooting, see Windows Help."},
      {1317, "The specified account does not exist."},
      {1326, "The user name or password is incorrect."},
      {1332, "No mapping between account names and security IDs was done."},
      {2118, "The share name is already in use on this server."},
      {2310, "This shared resource does not exist."},
      {5010, "The object already exists."},
      {8202, "The specified directory service attribute or value does not exist."},
      {8203, "The attribute syntax specified to the directory service is invalid."},
      {8204, "The attribute type specified to the directory service is not defined."},
      {8205, "The specified directory service attribute or value already exists."},
      {8206, "The directory service is busy."},
      {8207, "The directory service is unavailable."},
      {8212,
       "The requested operation did not satisfy one or more constraints associated "
       "with the class of the object."},
      {8213, "The directory service can perform the requested operation only on a leaf object."},
      {8214,
       "The directory service cannot perform the requested operation on the RDN "
       "attribute of an object."},
      {8224, "An operations error occurred."},
      {8225, "A protocol error occurred."},
      {8226, "The time limit for this request was exceeded."},
      {8227, "The size limit for this request was exceeded."},
      {8228, "The administrative limit for this request was exceeded."},
      {8231, "The requested authentication method is not supported by the server."},
      {8232, "A more secure authentication method is required for this server."},
      {8233, "Inappropriate authentication."},
      {8235, "A referral was returned from the server."},
      {8236, "A critical extension is unavailable."},
      {8237, "This request requires a secure connection."},
      {8238, "Inappropriate matching."},
      {8239, "A constraint violation occurred."},
      {8240, "There is no such object on the server."},
      {8241, "There is an alias problem."},
      {8242, "An invalid dn syntax has been specified."},
      {8245, "The server is unwilling to process the request."},
      {8246, "A loop has been detected."},
      {8247, "There is a naming violation."},
      {8250, "The server is not operational."},
      {8251, "A local error has occurred."},
      {8252, "An encoding error has occurred."},
      {8253, "A decoding error has occurred."},
      {8254, "The search filter cannot be recognized."},
      {8255, "One or more parameters are illegal."},
      {8256, "The specified method is not supported."},
      {8257, "No results were returned."},
      {8260, "The client loop was detected."},
      {8261, "The referral limit was exceeded."},
  };
  auto it = kTexts.find(code);
  return it == kTexts.end() ? std::string() : std::string(it->second);
}

namespace {

class Win32Category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }
  std::string message(int code) const override {
    const auto c = static_cast<std::uint32_t>(code);
    std::string text = win32ErrorText(c);
    return text.empty() ? "(Error " + std::to_string(c) + ")" : text;
  }
};

}  // namespace

const std::error_category& win32Category() {
  static const Win32Category kCategory;
  return kCategory;
}

SystemError win32Error(std::uint32_t code) {
  return {static_cast<int>(code), win32Category()};
}

std::string adsErrorText(Hresult hr) {
  static constexpr const char* kTexts[] = {
      "An invalid directory pathname was passed",
      "An unknown directory domain object was requested",
      "An unknown directory user object was requested",
      "An unknown directory computer object was requested",
      "An unknown directory object was requested",
      "The specified directory property was not set",
      "The specified directory property is not supported",
      "The specified directory property is invalid",
      "One or more input parameters are invalid",
      "The specified directory object is not bound to a remote resource",
      "The specified directory object has not been modified",
      "The specified directory object has been modified",
      "The directory datatype cannot be converted to/from a native DS datatype",
      "The directory property cannot be found in the cache.",
      "The directory object exists.",
      "The attempted action violates the DS schema rules.",
      "The specified column in the directory was not set.",
  };
  auto u = static_cast<std::uint32_t>(hr);
  if (u < 0x80005000u || u > 0x80005010u) return {};
  return kTexts[u - 0x80005000u];
}

}  // namespace tv
