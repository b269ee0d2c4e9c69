// The data folder's own files on Linux: opened with O_NOFOLLOW (a link at
// the name is refused with ELOOP) and O_NONBLOCK (a FIFO planted at the name
// cannot hang the service; anything but a regular file is refused), created
// 0600, temporary files made by mkostemp's exclusive creation, flushed with
// fsync before they count as written. The folder lock is flock(2) on the
// folder itself: it ends with the process however the process ends, and no
// file has to be created for it.
#pragma once

#include "ports/local_files.h"

namespace tv {

class PosixLocalFiles : public LocalFiles {
 public:
  Opened openAppend(const std::string& path) override;
  Opened createUnique(const std::string& stem, std::string& path) override;
  SystemError finish(std::FILE* file) override;
  SystemError readWhole(const std::string& path, std::string& content) override;
  SystemError restrictToOwner(const std::string& path) override;
  Locked lockFolder(const std::string& folder) override;
};

}  // namespace tv
