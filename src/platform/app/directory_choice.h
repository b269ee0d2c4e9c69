// The directory the program works on. With a server in the settings' [LDAP]
// section it is that domain controller; without one it is the snapshot
// "directory.ldif" in the data folder, held in memory, so a school can
// rehearse a job offline. A snapshot that a job changed is written back.
#pragma once

#include <memory>
#include <string>

#include "directory/directory.h"
#include "runtime/runtime.h"

namespace tv {

class MemoryDirectory;

class DirectoryChoice {
 public:
  // Opens the directory the settings file of rt's data folder names and
  // makes it rt.ports.directory (null when it cannot be opened, after an
  // error line). Call before the settings load, which reads the domain's names.
  void open(Runtime& rt);

  // Writes the snapshot back when it is in use and a job changed it.
  void saveIfChanged(Runtime& rt);

  [[nodiscard]] bool usesSnapshot() const { return memory_ != nullptr; }

 private:
  std::unique_ptr<Directory> directory_;
  MemoryDirectory* memory_ = nullptr;
  std::string snapshotPath_;
  std::string savedText_;
};

}  // namespace tv
