// Folders with explicit access lists: the account's identifier comes from the
// directory (objectSid), the folder and its rights from the file server port.
#include <chrono>
#include <vector>

#include "directory/escape.h"
#include "directory/sid.h"
#include "ports/clock.h"
#include "ports/file_server.h"
#include "shares/share_access.h"
#include "shares/share_paths.h"
#include "shares/shares.h"
#include "text/text.h"

namespace tv {
namespace {

// Windows folder paths hold at most 499 characters here; a longer one is
// refused rather than cut, since a cut path names another folder.
constexpr std::size_t kFolderPathMax = 499;

void wait(Runtime& rt, int ms) {
  if (rt.ports.clock != nullptr) rt.ports.clock->sleepFor(std::chrono::milliseconds(ms));
}

std::string namingContext(Runtime& rt) {
  if (!rt.trim.defaultNamingContext.empty()) return rt.trim.defaultNamingContext;
  auto root = rt.ports.directory->bind("LDAP://RootDSE");
  if (!root.ok()) return "";
  auto nc = root.value->get("defaultNamingContext");
  return nc.ok() ? nc.value : "";
}

// The DN of the account, or "" while the directory does not know it.
std::string findAccount(Runtime& rt, const std::string& account) {
  std::string base = namingContext(rt);
  if (base.empty()) return "";
  std::string dn;
  (void)rt.ports.directory->search(base, "(sAMAccountName=" + escapeFilterValue(account) + ")",
                                   {"sAMAccountName"}, SearchScope::kSubtree, 10,
                                   [&](const SearchRow& row) {
                                     dn = row.dn;
                                     return false;
                                   });
  return dn;
}

std::optional<std::string> readSid(Runtime& rt, const std::string& dn) {
  auto object = rt.ports.directory->bind("LDAP://" + dn);
  if (!object.ok()) return std::nullopt;
  auto sid = object.value->get("objectSid");
  if (!sid.ok()) return std::nullopt;
  return sidToString(sid.value);
}

// The NetBIOS-style domain name the lookup line shows: the first label of
// the DNS domain in upper case.
std::string domainLabel(const Runtime& rt) {
  const std::string& dns = rt.trim.dnsDomain;
  return toUpper(dns.substr(0, dns.find('.')));
}

bool noFileServer(Runtime& rt, const char* operation, const std::string& name) {
  if (rt.ports.files != nullptr) return false;
  rt.log.message(1, "** Fejl: %s(%s) - der er ingen filserver at oprette mapper på.\n", operation,
                 name.c_str());
  return true;
}

void logFolderError(Runtime& rt, const char* fmt, const std::string& path, SystemError error) {
  Log::setLastError(error);
  rt.log.message(65, fmt, path.c_str());
}

// Makes the folder when it is missing: with exactly the given entries, or
// plainly when entries is null. True when the folder is there; false after
// the failure was logged with fmt.
bool ensureFolder(Runtime& rt, const std::string& path, const std::vector<AccessEntry>* entries,
                  const char* fmt) {
  FileServer& files = *rt.ports.files;
  if (charCount(path) > kFolderPathMax) {
    logFolderError(rt, fmt, path, systemError(std::errc::filename_too_long));
    return false;
  }
  if (files.exists(path)) return true;
  int rc = entries != nullptr ? files.makeSecureFolder(path, *entries) : files.makeFolder(path);
  if (rc != 0) logFolderError(rt, fmt, path, platformError(rc));
  return rc == 0;
}

// A new folder that keeps what it inherits, with the entries merged in.
// quiet: failures of the merge are not logged (the group folder says nothing).
void makeMergedFolder(Runtime& rt, const std::string& path, const std::vector<AccessEntry>& entries,
                      const char* createFmt, bool quiet) {
  FileServer& files = *rt.ports.files;
  if (charCount(path) > kFolderPathMax) {
    logFolderError(rt, createFmt, path, systemError(std::errc::filename_too_long));
    return;
  }
  if (int rc = files.makeFolder(path); rc != 0) {
    logFolderError(rt, createFmt, path, platformError(rc));
    return;
  }
  std::vector<AccessEntry> current;
  if (int rc = files.readAccess(path, current); rc != 0) {
    if (!quiet) {
      logFolderError(rt, "** Fejl: GetNamedSecurityInfo() - CreateDirectory(%s)\n", path,
                     platformError(rc));
    }
    return;
  }
  if (int rc = files.writeAccess(path, mergeAccess(current, entries)); rc != 0 && !quiet) {
    logFolderError(rt, "** Fejl: SetNamedSecurityInfo() - CreateDirectory(%s)\n", path,
                   platformError(rc));
  }
}

// A user's folder on a profile share and, when set, its sub-folder.
void makeProfileFolders(Runtime& rt, const FileUser& user, const std::string& share,
                        const std::string& subFolder, const std::vector<AccessEntry>& entries) {
  const char* fmt = "** Fejl: CreateSecureFolder() - CreateDirectory(%s)\n";
  const Trim& t = rt.trim;
  if (t.alphaShare) {
    std::string letter =
        share + "\\" + (user.splitLetter.empty() ? firstLetterUpper(user.login) : user.splitLetter);
    if (!ensureFolder(rt, letter, nullptr, fmt)) return;
  }
  std::string folder = userFolderPath(share, user.login, t.alphaShare, user.splitLetter);
  if (!ensureFolder(rt, folder, &entries, fmt)) return;
  if (!subFolder.empty()) (void)ensureFolder(rt, folder + "\\" + subFolder, &entries, fmt);
}

}  // namespace

std::optional<std::string> GetSidForAccount(Runtime& rt, const std::string&,
                                            const std::string& account) {
  if (rt.ports.directory == nullptr) return std::nullopt;
  const int logLevel = rt.settings.LogLevel;
  std::string dn;
  for (int attempt = 0; attempt < 12 && dn.empty(); ++attempt) {
    dn = findAccount(rt, account);
    if (!dn.empty()) break;
    if (logLevel > 2) {
      rt.log.message(1, "      ** Venter på LookupAccountName-2(%s)\n", account.c_str());
    }
    wait(rt, 3000);
  }
  // A name that maps to no identifier fails as the Windows lookup does, for
  // the callers' level-65 lines.
  if (dn.empty()) {
    Log::setLastError(win32Error(kErrorNoneMapped));
    return std::nullopt;
  }

  std::optional<std::string> sid;
  for (int attempt = 0; attempt < 6; ++attempt) {
    sid = readSid(rt, dn);
    if (sid) break;
    if (logLevel > 2) {
      Log::setLastError(win32Error(kErrorNoneMapped));
      rt.log.message(65, "** Fejl: LookupAccountName-2(%s)\n", account.c_str());
    }
    wait(rt, 2000);
  }
  if (!sid) {
    Log::setLastError(win32Error(kErrorNoneMapped));
    return std::nullopt;
  }
  if (logLevel > 2) {
    rt.log.message(1, "      SidForAccount(%s\\%s) = %s\n", domainLabel(rt).c_str(),
                   account.c_str(), sid->c_str());
  }
  return sid;
}

int CreateSecureFolder(Runtime& rt, FileUser& user, bool merge) {
  if (noFileServer(rt, "CreateSecureFolder", user.login)) return 1;
  if (!isFolderName(user.login)) {
    rt.log.message(1, "** Fejl: CreateSecureFolder() - ugyldigt mappenavn '%s'\n",
                   user.login.c_str());
    return 1;
  }
  auto sid = GetSidForAccount(rt, "", user.login);
  if (!sid) {
    rt.log.message(65, "** Fejl: GetSidForAccount(%s)\n", user.login.c_str());
    return 1;
  }
  const Trim& t = rt.trim;
  const std::vector<AccessEntry> entries = folderAccess(*sid, t.shareAccessMask);
  const char* fmt = "** Fejl: CreateSecureFolder() - CreateDirectory(%s)\n";

  // Without a share root there is no home folder to make, only profile folders.
  if (!t.shareRoot.empty()) {
    bool letterReady = true;
    if (t.alphaShare) {
      std::string letter =
          t.shareRoot + "\\" +
          (user.splitLetter.empty() ? firstLetterUpper(user.login) : user.splitLetter);
      letterReady = ensureFolder(rt, letter, nullptr, fmt);
    }
    std::string home = userFolderPath(t.shareRoot, user.login, t.alphaShare, user.splitLetter);
    if (letterReady && !rt.ports.files->exists(home)) {
      if (merge) {
        makeMergedFolder(rt, home, entries, fmt, false);
      } else {
        (void)ensureFolder(rt, home, &entries, fmt);
      }
    }
  }
  if (!t.terminalProfileShare.empty() && !t.terminalProfileIsFile && t.terminalProfileShareCreate) {
    makeProfileFolders(rt, user, t.terminalProfileShare, t.terminalProfileFolder, entries);
  }
  if (!t.userProfileShare.empty() && !t.userProfileIsFile && t.userProfileShareCreate) {
    makeProfileFolders(rt, user, t.userProfileShare, t.userProfileFolder, entries);
  }
  return 0;
}

void CreateSecureGroupFolder(Runtime& rt, const std::string& groupName) {
  if (noFileServer(rt, "CreateSecureGroupFolder", groupName)) return;
  const Settings& s = rt.settings;
  if (s.ServerShareGruppe.empty() || !isFolderName(groupName)) {
    rt.log.message(1, "** Fejl: CreateSecureGroupFolder() - ingen mappe for '%s' under '%s'\n",
                   groupName.c_str(), s.ServerShareGruppe.c_str());
    return;
  }
  // A group made a moment ago may not have reached the directory the
  // identifier is read from; it gets the same waits as a new user, and no
  // folder at all rather than one without the group's entry.
  auto sid = GetSidForAccount(rt, "", groupName);
  if (!sid) {
    rt.log.message(1, "** Fejl: CreateSecureGroupFolder() - GetSidForAccount(%s)\n",
                   groupName.c_str());
    return;
  }
  const std::vector<AccessEntry> entries = folderAccess(*sid, s.AccessPermissionsShareGruppe);
  const std::string path = s.ServerShareGruppe + "/" + groupName;
  const char* fmt = "** Fejl: CreateSecureGroupFolder() - CreateDirectory(%s)\n";
  if (rt.ports.files->exists(path)) return;
  if (s.InheritPermissionsShareGruppe) {
    makeMergedFolder(rt, path, entries, fmt, true);
  } else {
    (void)ensureFolder(rt, path, &entries, fmt);
  }
}

}  // namespace tv
