#include "platform/app/directory_choice.h"

#include <filesystem>
#include <fstream>

#include "config/ini_file.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/memory/memory_directory.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;

void DirectoryChoice::open(Runtime& rt) {
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

  memory_ = nullptr;
  if (!connection.LdapServer.empty()) {
    directory_ = openLdapDirectory(connection, rt.log);
  } else {
    snapshotPath_ = rt.dataPath("directory.ldif");
    std::string error;
    MemoryDirectoryOptions options;
    options.clock = rt.ports.clock;
    // Every pupil is looked up by the identifying attribute.
    options.indexedAttributes = {ini.get("Tavlevagt", "BrugerIdentifikation", "-", 49)};
    options.log = &rt.log;
    std::unique_ptr<MemoryDirectory> memory = openMemoryDirectory(snapshotPath_, options, &error);
    if (memory) {
      memory_ = memory.get();
      savedText_ = memory->saveLdif();
      directory_ = std::move(memory);
    } else {
      rt.log.message(1, "** Fejl: Katalogfilen %s kan ikke læses: %s\n", snapshotPath_.c_str(),
                     error.c_str());
      directory_.reset();
    }
  }
  rt.ports.directory = directory_.get();
  Directory* dir = directory_.get();
  rt.log.setDirectoryErrorSource([dir]() -> std::optional<DirectoryError> {
    return dir != nullptr ? dir->lastError() : std::nullopt;
  });
}

void DirectoryChoice::saveIfChanged(Runtime& rt) {
  if (memory_ == nullptr) return;
  std::string text = memory_->saveLdif();
  if (text == savedText_) return;
  // Written beside the snapshot and renamed over it, so a crash never leaves
  // half a directory behind.
  const std::string temp = snapshotPath_ + ".ny";
  {
    std::ofstream out(pathFromUtf8(temp), std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      rt.log.message(1, "** Fejl: Katalogfilen %s kan ikke gemmes.\n", snapshotPath_.c_str());
      return;
    }
  }
  std::error_code ec;
  fs::rename(pathFromUtf8(temp), pathFromUtf8(snapshotPath_), ec);
  if (ec) {
    rt.log.message(1, "** Fejl: Katalogfilen %s kan ikke gemmes: %s\n", snapshotPath_.c_str(),
                   std::string(trim(rt.log.systemText(ec))).c_str());
    return;
  }
  savedText_ = std::move(text);
}

}  // namespace tv
