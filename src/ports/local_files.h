// The files the service itself writes in its data folder, opened the one safe
// way: never through a symbolic link or onto anything but a regular file, new
// files readable and writable by the service account alone, temporary files
// under names nobody can take beforehand. And the lock that keeps a data folder
// to one process at a time.
//
// Anyone who can drop a job into the data folder can also drop a link there;
// a link where a file is expected is refused with
// std::errc::too_many_symbolic_link_levels, which the caller reports as such.
// Other failures are the platform's system errors.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "ports/system_error.h"

namespace tv {

// Held for as long as the object lives.
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

class LocalFiles {
 public:
  struct Opened {
    std::FILE* file = nullptr;  // the caller closes it (finish() or fclose)
    SystemError error;          // why file is null
  };
  struct Locked {
    std::unique_ptr<FolderLock> lock;  // null when not locked
    bool heldElsewhere = false;        // another process holds the folder
    SystemError error;                 // why not, when not held elsewhere
  };

  virtual ~LocalFiles() = default;

  // Opens path for appending and reading back ("a+"), creating it owner-only.
  virtual Opened openAppend(const std::string& path) = 0;
  // Creates a new file "<stem><something unique>" exclusively, owner-only, for
  // writing; path receives its name.
  virtual Opened createUnique(const std::string& stem, std::string& path) = 0;
  // Flushes a file written through this port to the disk and closes it; the
  // first failure of the three steps, or none. The file is closed either way.
  virtual SystemError finish(std::FILE* file) = 0;
  // The whole content of a regular file that is not a link.
  virtual SystemError readWhole(const std::string& path, std::string& content) = 0;
  // Leaves a file that another program wrote readable by the owner alone.
  virtual SystemError restrictToOwner(const std::string& path) = 0;
  // Takes the folder for this process until the lock is destroyed.
  virtual Locked lockFolder(const std::string& folder) = 0;
};

// True when error means "a symbolic link stands where a file was expected".
[[nodiscard]] bool isLinkRefusal(const SystemError& error);

}  // namespace tv
