#include "platform/app/directory_choice.h"

#include <filesystem>

#include "config/ini_file.h"
#include "platform/memory/memory_directory.h"
#include "ports/local_files.h"
#include "runtime/data_folder.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;

void DirectoryChoice::open(Runtime& rt) {
  rt_ = &rt;
  // The connection keys are needed before the full settings load, which
  // already asks the directory for the domain's names.
  const IniFile ini = IniFile::fromFile(rt.dataPath("Tavlevagt.ini"));
  LdapSettings connection;
  connection.LdapServer = ini.get("LDAP", "LdapServer", "", 499);
  connection.LdapBind = toLower(ini.get("LDAP", "LdapBind", "gssapi", 49));
  connection.LdapBindName = ini.get("LDAP", "LdapBindName", "", 259);
  connection.LdapPasswordFile = ini.get("LDAP", "LdapPasswordFile", "", 259);
  connection.LdapCaFile = ini.get("LDAP", "LdapCaFile", "", 259);
  connection.LdapStartTls = toLower(ini.get("LDAP", "LdapStartTls", "Nej", 49)).starts_with('j');

  // Every pupil is looked up by the identifying attribute.
  identification_ = ini.get("Tavlevagt", "BrugerIdentifikation", "-", 49);
  memory_ = nullptr;
  drafts_.reset();
  directory_.reset();
  snapshot_ = connection.LdapServer.empty() && !(openLdap_ && serverless_ && serverless_());
  if (!snapshot_) {
    if (openLdap_) {
      directory_ = openLdap_(connection, rt.log);
    } else {
      rt.log.message(1, "** Fejl: Denne udgave af Tavlevagt kan ikke forbinde til LdapServer %s\n",
                     connection.LdapServer.c_str());
    }
  } else {
    snapshotPath_ = rt.dataPath("directory.ldif");
    Status st{false, describe(SystemError())};
    if (rt.ports.localFiles != nullptr) {
      std::string bytes;
      const SystemError error = rt.ports.localFiles->readWhole(snapshotPath_, bytes);
      st = error ? Status{false, describe(error)} : load(bytes);
    }
    if (!st.ok) rt.log.message(1, "** Fejl: %s\n", st.why.c_str());
  }
  publish();
  rt.ports.store = this;
  rt.log.setDirectoryErrorSource([this]() -> std::optional<DirectoryError> {
    return directory_ != nullptr ? directory_->lastError() : std::nullopt;
  });
}

void DirectoryChoice::publish() {
  drafts_ = directory_ != nullptr ? std::make_unique<DraftingDirectory>(*directory_) : nullptr;
  rt_->ports.directory = drafts_.get();
}

std::string DirectoryChoice::describe(const SystemError& error) const {
  if (error == std::errc::no_such_file_or_directory) {
    return "Katalogfilen " + snapshotPath_ +
           " findes ikke; uden et LdapServer i indstillingerne er den kataloget";
  }
  if (!error) {
    return "Katalogfilen " + snapshotPath_ + " kan ikke læses: ingen adgang til datamappens filer";
  }
  return "Katalogfilen " + snapshotPath_ + " kan ikke læses: " + fileErrorText(rt_->log, error);
}

DirectoryStore::Status DirectoryChoice::load(const std::string& bytes) {
  MemoryDirectoryOptions options;
  options.clock = rt_->ports.clock;
  options.indexedAttributes = {identification_};
  options.log = &rt_->log;
  std::unique_ptr<MemoryDirectory> fresh;
  MemoryDirectory* target = memory_;
  if (target == nullptr) {
    fresh = std::make_unique<MemoryDirectory>(options);
    target = fresh.get();
  }
  // "line N: why"; the tree stays as it was when the text is no snapshot.
  const std::string why = target->loadLdif(bytes);
  if (!why.empty()) return {false, "Katalogfilen " + snapshotPath_ + " kan ikke læses: " + why};
  if (fresh) {
    memory_ = fresh.get();
    directory_ = std::move(fresh);
    publish();
  }
  fileBytes_ = bytes;
  savedText_ = memory_->saveLdif();
  dropped_ = false;
  return {};
}

DirectoryStore::Status DirectoryChoice::acquire() {
  if (!snapshot_) {
    // A domain controller keeps its own changes; only one that could not be
    // set up at all leaves nothing to work on.
    if (directory_ == nullptr) {
      return {false, "Forbindelsen til domænecontrolleren kunne ikke sættes op ved start"};
    }
    return {};
  }
  if (rt_->ports.localFiles == nullptr) return {false, describe(SystemError())};
  use_.lock();
  std::string bytes;
  const SystemError error = rt_->ports.localFiles->readWhole(snapshotPath_, bytes);
  Status st;
  if (error) {
    st = {false, describe(error)};
  } else if (memory_ == nullptr || dropped_ || bytes != fileBytes_) {
    st = load(bytes);
    st.reloaded = st.ok;
  }
  if (!st.ok) use_.unlock();
  return st;
}

DirectoryStore::Status DirectoryChoice::release() {
  if (!snapshot_) return {};
  Status st = write();
  use_.unlock();
  return st;
}

DirectoryStore::Status DirectoryChoice::saveNow() {
  return snapshot_ ? write() : Status{};
}

DirectoryStore::Status DirectoryChoice::write() {
  if (memory_ == nullptr) return {};
  std::string text = memory_->saveLdif();
  if (text == savedText_) return {};
  LocalFiles& files = *rt_->ports.localFiles;
  // A name of its own next to the snapshot, renamed over it once complete
  // and on the disk: a crash leaves either the old or the new snapshot.
  std::string temp;
  LocalFiles::Opened o =
      files.createUnique(rt_->dataPath(std::string(kSnapshotTempStem) + "-"), temp);
  SystemError error = o.error;
  if (o.file != nullptr) {
    const bool written = std::fwrite(text.data(), 1, text.size(), o.file) == text.size();
    const SystemError writeError = lastCLibraryError();
    const SystemError finishError = files.finish(o.file);
    error = !written ? writeError : finishError;
    std::error_code ec;
    if (!error) {
      fs::rename(pathFromUtf8(temp), pathFromUtf8(snapshotPath_), ec);
      error = ec;
    }
    if (error) fs::remove(pathFromUtf8(temp), ec);
  }
  if (error) {
    // Kept in memory, the changes would be saved later as if the job had
    // been done; the job is run again from the file instead.
    dropped_ = true;
    return {false, "Katalogfilen " + snapshotPath_ +
                       " kan ikke gemmes: " + fileErrorText(rt_->log, error)};
  }
  fileBytes_ = text;
  savedText_ = std::move(text);
  return {};
}

std::function<void(int)> DirectoryChoice::savingBefore(std::function<void(int)> exit) {
  return [this, exit = std::move(exit)](int code) {
    const Status st = saveNow();
    if (!st.ok) rt_->reportFailure("** Fejl: " + st.why + "\n");
    exit(code);
  };
}

}  // namespace tv
