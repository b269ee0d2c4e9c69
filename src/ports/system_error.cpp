#include "ports/system_error.h"

#include <cerrno>

namespace tv {

SystemError lastCLibraryError() {
  return {errno, std::generic_category()};
}

}  // namespace tv
