// The data folder's own files on Windows, by their UTF-8 names: opened with
// FILE_FLAG_OPEN_REPARSE_POINT, so a symbolic link or junction at the name is
// seen rather than followed and refused; anything but a disk file is refused
// too. New files get a protected access list of their own: full control for
// their owner, SYSTEM and the Administrators (who read the log), nobody else.
// Streams are binary, so the bytes written are the bytes in the file.
// Temporary files are created with CREATE_NEW under a random name, and
// FlushFileBuffers puts a file on the disk before it counts as written.
//
// Files stay open for others to read, write, rename and delete, as on Linux:
// the archive can move a log the service holds open.
//
// The folder lock is a named mutex in the global namespace, named after the
// folder's full path: it ends with the process however the process ends,
// reaches across sessions (the service and an admin's "-d" in a console)
// and puts no file into the folder.
#pragma once

#include "ports/local_files.h"

namespace tv::win {

class WindowsLocalFiles : public LocalFiles {
 public:
  Opened openAppend(const std::string& path) override;
  Opened createUnique(const std::string& stem, std::string& path) override;
  SystemError finish(std::FILE* file) override;
  SystemError readWhole(const std::string& path, std::string& content) override;
  SystemError restrictToOwner(const std::string& path) override;
  Locked lockFolder(const std::string& folder) override;
};

// The name of the folder lock's mutex for a folder's full path.
[[nodiscard]] std::wstring folderLockName(const std::wstring& fullPath);

}  // namespace tv::win
