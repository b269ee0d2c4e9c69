#include "ports/file_server.h"

namespace tv {
namespace {

constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorBadNetName = 67;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kNerrDuplicateShare = 2118;
constexpr std::uint32_t kNerrNetNameNotFound = 2310;

}  // namespace

Hresult shareStatusToHresult(std::uint32_t status, bool lookup) {
  if (status == 0) return kSOk;
  if (status == kNerrDuplicateShare || status == kErrorFileExists) return kShareExists;
  if (status == kNerrNetNameNotFound || status == kErrorBadNetName ||
      (lookup && status == kErrorInvalidName)) {
    return kShareNotFound;
  }
  return hresultOf(0x80070000u | (status & 0xFFFFu));
}

}  // namespace tv
