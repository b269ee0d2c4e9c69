#include "ports/local_files.h"

namespace tv {

bool isLinkRefusal(const SystemError& error) {
  return error == std::errc::too_many_symbolic_link_levels;
}

}  // namespace tv
