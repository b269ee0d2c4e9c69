// The directory the program works on. With a server in the settings' [LDAP]
// section it is that domain controller; without one it is the snapshot
// "directory.ldif" in the data folder, held in memory, so a school can
// rehearse a job offline. The LDAP adapter is the platform's: the wiring
// hands its opener in, so the choice itself is the same everywhere.
//
// As the directory store of the runtime it keeps the snapshot and the file
// in step: a unit of work (one sync or password job) starts from the file as
// it is (loaded again when another run changed it) and ends with its changes
// written back, through a temporary file of its own renamed over the
// snapshot, so the file is always either the old or the new one. A missing,
// unreadable or damaged snapshot is no directory at all: jobs wait until it
// can be read. Changes that cannot be written back are dropped from memory,
// so the job's rerun starts from the file again.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "directory/directory.h"
#include "directory/draft_directory.h"
#include "platform/ldap/ldap_directory.h"
#include "ports/directory_store.h"
#include "runtime/runtime.h"

namespace tv {

class MemoryDirectory;

class DirectoryChoice : public DirectoryStore {
 public:
  // openLdapDirectory or the platform's equivalent; a build without one
  // refuses an [LDAP] server with an error line.
  using LdapOpener = std::function<std::unique_ptr<Directory>(const LdapSettings&, LogSink&)>;
  // Whether the platform finds a directory server by itself, without a
  // server in the settings (a Windows machine in a domain). Without it, or
  // when it finds none, no configured server means the snapshot.
  using ServerlessProbe = std::function<bool()>;
  explicit DirectoryChoice(LdapOpener openLdap = {}, ServerlessProbe serverless = {})
      : openLdap_(std::move(openLdap)), serverless_(std::move(serverless)) {}

  // Opens the directory the settings file of rt's data folder names, makes
  // it rt.ports.directory (null when it cannot be opened, after an error
  // line) and this object rt.ports.store. Call before the settings load,
  // which reads the domain's names; rt.ports.localFiles must be set.
  void open(Runtime& rt);

  Status acquire() override;
  Status release() override;
  Status saveNow() override;

  [[nodiscard]] bool usesSnapshot() const { return snapshot_; }

  // A fatal exit for rt: first writes back what the job in hand changed (a
  // domain controller would have kept those changes too), then calls exit.
  [[nodiscard]] std::function<void(int)> savingBefore(std::function<void(int)> exit);

 private:
  Status load(const std::string& bytes);
  void publish();
  Status write();
  [[nodiscard]] std::string describe(const SystemError& error) const;

  LdapOpener openLdap_;
  ServerlessProbe serverless_;
  Runtime* rt_ = nullptr;
  std::unique_ptr<Directory> directory_;
  // What the product is given: the directory, able to draft a new account.
  std::unique_ptr<DraftingDirectory> drafts_;
  MemoryDirectory* memory_ = nullptr;
  bool snapshot_ = false;
  std::string snapshotPath_;
  std::string identification_;  // the attribute the snapshot indexes for the sync pass
  std::mutex use_;              // held by a unit from acquire() to release()
  std::string fileBytes_;       // the snapshot file as last read or written here
  std::string savedText_;       // the tree as it stands in that file
  bool dropped_ = false;        // changes were dropped: load the file again
};

}  // namespace tv
