// File shares over the users' home folders and the groups' folders, the home
// directory that points at them, and their repair and rename.

#include "ports/file_server.h"
#include "scripts/script_hook.h"
#include "shares/share_paths.h"
#include "shares/shares.h"
#include "text/text.h"

namespace tv {
namespace {

// Paths of a rename are at most 259 characters; a longer one is refused
// rather than cut, since a cut path names another folder.
constexpr std::size_t kRenamePathMax = 259;
constexpr std::uint32_t kMaxShareUsers = 10;

bool noFileServer(Runtime& rt, const char* operation, const std::string& name) {
  if (rt.ports.files != nullptr) return false;
  rt.log.message(1, "** Fejl: %s(%s) - der er ingen filserver at oprette mapper på.\n", operation,
                 name.c_str());
  return true;
}

// The server answers a create of a share that is there with "exists", as the
// server's share container does before anything is written.
Hresult createShareChild(FileServer& files, const std::string& server, const std::string& name) {
  ShareInfo info = files.shareInfo(server, name);
  if (info.ok()) return kShareExists;
  if (info.hr == kShareNotFound) return kSOk;
  return info.hr;
}

std::string sharePathOf(const Trim& t, const std::string& login, const std::string& splitLetter) {
  return userFolderPath(t.shareRootPath, login, t.alphaShare, splitLetter);
}

bool missing(Runtime& rt, const std::string& path) {
  return !rt.ports.files->exists(path);
}

}  // namespace

void OpretFileshare(Runtime& rt, FileUser& user, DirObject& object) {
  if (!rt.settings.IDrift) {
    rt.log.message(1, "   IDrift = 0: Test af OpretFileshare(%s)\n", user.login.c_str());
    return;
  }
  const Trim& t = rt.trim;
  if (CreateSecureFolder(rt, user, t.shareInherit) != 0) {
    rt.log.message(1, "** Fejl: Kunne ikke oprette mappe for %s.\n", user.login.c_str());
    return;
  }
  if (t.shareMode == 1 && !t.shareRootPath.empty()) ShareFolder(rt, user, t.hideShare);
  if (!t.homeDrive.empty()) {
    const std::string home = homeDirectoryOf(t, user.login, user.splitLetter);
    (void)object.put("homeDirectory", home);
    (void)object.put("homeDrive", t.homeDrive);
    Hresult hr = object.setInfo();
    if (hr < 0) rt.log.reportHresult(hr, "** Fejl: OpretFileshare() - SetInfo(%s)\n", home.c_str());
  }
  const std::string& script =
      t.staff ? rt.settings.RunScriptOpretShareMeda : rt.settings.RunScriptOpretShareElev;
  if (!script.empty()) runScript(rt, script, user.login, "RunScriptOpretShare:");
}

void ShareFolder(Runtime& rt, FileUser& user, bool hidden) {
  const Trim& t = rt.trim;
  if (t.shareRootPath.empty()) return;
  if (noFileServer(rt, "ShareFolder", user.login)) return;
  FileServer& files = *rt.ports.files;
  const std::string server = shareServer(t.shareRoot);
  Hresult hr = files.openServer(server);
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: ShareFolder() - ADsGetObject(%s)\n",
                         shareContainerPath(server).c_str());
    return;
  }
  const std::string name = shareNameOf(user.login, hidden);
  hr = createShareChild(files, server, name);
  if (hr == kShareExists) {
    if (rt.settings.LogLevel > 0) {
      rt.log.message(1, "** Info: Nedlægger og genopretter share %s.\n", name.c_str());
    }
    (void)files.deleteShare(server, name);
    hr = createShareChild(files, server, name);
  }
  if (hr < 0) {
    if (hr == kShareExists) {
      rt.log.message(1, "** Info: Share folder eksisterer i forvejen for %s.\n", name.c_str());
    } else {
      rt.log.reportHresult(hr, "** Fejl: ShareFolder() - Create(FileShare)\n");
    }
    return;
  }
  hr = files.addShare(server, name, sharePathOf(t, user.login, user.splitLetter), kMaxShareUsers);
  if (hr < 0) rt.log.reportHresult(hr, "** Fejl: ShareFolder() - SetInfo\n");
}

Hresult UnShareFolder(Runtime& rt, const std::string& shareRoot, const std::string& name,
                      bool hidden) {
  if (noFileServer(rt, "UnShareFolder", name)) return kEFail;
  FileServer& files = *rt.ports.files;
  const std::string server = shareServer(shareRoot);
  Hresult hr = files.openServer(server);
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: UnShareFolder() - ADsGetObject(%s)\n",
                         shareContainerPath(server).c_str());
    return hr;
  }
  const std::string share = shareNameOf(name, hidden);
  hr = files.deleteShare(server, share);
  if (hr >= 0) return hr;
  const int logLevel = rt.settings.LogLevel;
  if (share.find("_inaktiv") != std::string::npos) {
    if (logLevel > 2) {
      rt.log.message(1, "** Info: %s - *_inaktiv share folder eksisterer ikke.\n", share.c_str());
    }
  } else if (hr == kShareNotFound) {
    if (logLevel > 2) {
      rt.log.message(1, "** Info: %s - Kunne ikke slette share folder, den eksisterer ikke.\n",
                     share.c_str());
    } else {
      rt.log.reportHresult(kShareNotFound, "** Fejl: UnShareFolder() - Delete(%s)\n",
                           share.c_str());
    }
  } else {
    // A share that is there and could not be deleted stays reachable; that
    // must show in the log.
    rt.log.reportHresult(hr, "** Fejl: UnShareFolder() - Delete(%s)\n", share.c_str());
  }
  return hr;
}

void RenameFileShares(Runtime& rt, FileUser& user) {
  const Trim& t = rt.trim;
  const int logLevel = rt.settings.LogLevel;
  const std::string& prev = user.previousLogin;
  const std::string& login = user.login;
  if (logLevel > 2) {
    rt.log.message(1, "   RenameFileShares - old %s - new %s\n", prev.c_str(), login.c_str());
  }
  if (prev.empty() || prev == login) return;
  if (!rt.settings.IDrift) {
    rt.log.message(1, "   IDrift = 0: Test af RenameFileShares(%s)\n", login.c_str());
    return;
  }
  if (noFileServer(rt, "RenameFileShares", login)) return;
  const std::string& root = t.shareRoot;
  std::string oldFolder;
  std::string newFolder;
  if (!t.alphaShare) {
    rt.log.message(1, "   Alphaopdel not confirmed\n");
    oldFolder = userFolderPath(root, prev, false, "");
    newFolder = userFolderPath(root, login, false, "");
    if (logLevel > 2) {
      rt.log.message(1, "RenameFileShares - Ikke AlphaopdelShare old - %s\\%s\n", root.c_str(),
                     prev.c_str());
      rt.log.message(1, "RenameFileShares - Ikke AlphaopdelShare new - %s\\%s\n", root.c_str(),
                     login.c_str());
    }
  } else {
    rt.log.message(1, "   Alphaopdel confirmed\n");
    const std::string oldLetter = firstLetterUpper(prev);
    const std::string newLetter =
        user.splitLetter.empty() ? firstLetterUpper(login) : user.splitLetter;
    oldFolder = userFolderPath(root, prev, true, oldLetter);
    newFolder = userFolderPath(root, login, true, newLetter);
    if (logLevel > 2) {
      rt.log.message(1, "   RenameFileShares - AlphaopdelShare old - %s\\%s\\%s\n", root.c_str(),
                     oldLetter.c_str(), prev.c_str());
      rt.log.message(1, "   RenameFileShares - AlphaopdelShare new - %s\\%s\\%s\n", root.c_str(),
                     newLetter.c_str(), login.c_str());
    }
  }
  const std::string aside = root + "\\" + login + ".bw_omdøb";
  if (root.empty()) {
    rt.log.message(1, "   RenameFileShares access check failed\n");
  } else if (!isFolderName(prev) || !isFolderName(login) || charCount(aside) > kRenamePathMax ||
             charCount(oldFolder) > kRenamePathMax || charCount(newFolder) > kRenamePathMax) {
    Log::setLastError(systemError(std::errc::filename_too_long));
    rt.log.message(65, "** Fejl: OmdobBruger() - MoveFile(%s)\n", oldFolder.c_str());
  } else if (rt.ports.files->exists(oldFolder)) {
    FileServer& files = *rt.ports.files;
    if (logLevel > 2) rt.log.message(1, "   RenameFileShares acces check\n");
    bool clear = true;
    if (files.exists(newFolder)) {
      if (logLevel > 2) {
        rt.log.message(1, "RenameFileShares omdøb %s, %s\n", login.c_str(), root.c_str());
      }
      // The folder in the way is kept under another name; should that fail
      // too, the old folder stays where it is rather than replace it.
      if (int rc = files.move(newFolder, aside); rc != 0) {
        Log::setLastError(platformError(rc));
        rt.log.message(65, "** Fejl: OmdobBruger() - MoveFile(%s)\n", newFolder.c_str());
        clear = false;
      }
    }
    const SystemError rc = clear ? platformError(files.move(oldFolder, newFolder))
                                 : systemError(std::errc::file_exists);
    if (rc) {
      Log::setLastError(rc);
      rt.log.message(65, "** Fejl: OmdobBruger() - MoveFile(%s)\n", oldFolder.c_str());
    }
  } else {
    rt.log.message(1, "   RenameFileShares access check failed\n");
  }
  if (t.shareMode == 1) {
    if (logLevel > 2) rt.log.message(1, "RenameFileShares OpretShare\n");
    ShareFolder(rt, user, t.hideShare);
    (void)UnShareFolder(rt, root, prev, t.hideShare);
  }
}

int ShareCheck(Runtime& rt, const std::string& server, const std::string& login, bool hidden) {
  if (rt.ports.files == nullptr) return 1;
  ShareInfo info = rt.ports.files->shareInfo(server, shareNameOf(login, hidden));
  if (!info.ok()) return 1;
  const Trim& t = rt.trim;
  return sameSharePath(sharePathOf(t, login, firstLetterUpper(login)), info.path) ? 0 : 1;
}

int CheckFileShares(Runtime& rt, FileUser& user, DirObject& object) {
  if (user.previousLogin.empty()) user.previousLogin = user.login;
  const std::string& prev = user.previousLogin;
  const Trim& t = rt.trim;
  if (rt.settings.LogLevel > 2) {
    rt.log.message(1, "CheckFileShares - old %s - new %s\n", prev.c_str(), user.login.c_str());
  }
  const bool homeWanted = t.shareMode != 0 && !t.shareRoot.empty();
  const bool terminalWanted =
      !t.terminalProfileShare.empty() && !t.terminalProfileIsFile && t.terminalProfileShareCreate;
  const bool profileWanted =
      !t.userProfileShare.empty() && !t.userProfileIsFile && t.userProfileShareCreate;
  if (!homeWanted && !terminalWanted && !profileWanted) return 0;
  if (noFileServer(rt, "CheckFileShares", user.login)) return 0;
  const std::string letter = user.splitLetter.empty() ? firstLetterUpper(prev) : user.splitLetter;
  bool repair = false;
  if (homeWanted) {
    const std::string home = userFolderPath(t.shareRoot, prev, t.alphaShare, letter);
    if (missing(rt, home)) {
      repair = true;
      rt.log.message(1, "Check #1 pass - genopretter folderen '%s'\n", home.c_str());
    } else if (t.shareMode == 1 && !t.shareRootPath.empty() &&
               ShareCheck(rt, shareServer(t.shareRoot), user.login, t.hideShare) != 0) {
      repair = true;
      rt.log.message(1, "Check #2 pass - tjekker share for folderen '%s'\n", home.c_str());
    }
  }
  if (terminalWanted) {
    const std::string folder = userFolderPath(t.terminalProfileShare, prev, t.alphaShare, letter);
    if (missing(rt, folder)) {
      repair = true;
      rt.log.message(1, "Check #3 pass - genopretter folderen '%s'\n", folder.c_str());
    } else if (!t.terminalProfileFolder.empty() &&
               missing(rt, folder + "\\" + t.terminalProfileFolder)) {
      repair = true;
      rt.log.message(1, "Check #4 pass - genopretter folderen '%s'\n",
                     (folder + "\\" + t.terminalProfileFolder).c_str());
    }
  }
  if (profileWanted) {
    const std::string folder = userFolderPath(t.userProfileShare, prev, t.alphaShare, letter);
    if (missing(rt, folder)) {
      rt.log.message(1, "Check #5 pass - genopretter folderen '%s'\n", folder.c_str());
      OpretFileshare(rt, user, object);
      return 0;
    }
    if (!t.userProfileFolder.empty() && missing(rt, folder + "\\" + t.userProfileFolder)) {
      rt.log.message(1, "Check #6 pass - genopretter folderen '%s'\n",
                     (folder + "\\" + t.userProfileFolder).c_str());
      OpretFileshare(rt, user, object);
      return 0;
    }
  }
  if (repair) OpretFileshare(rt, user, object);
  return 0;
}

void GroupShare(Runtime& rt, const std::string& groupName, bool hidden) {
  if (noFileServer(rt, "GroupShare", groupName)) return;
  FileServer& files = *rt.ports.files;
  const Settings& s = rt.settings;
  const std::string server = shareServer(s.ServerShareGruppe);
  Hresult hr = files.openServer(server);
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: OpretFileshare() - ADsGetObject(%s)\n",
                         shareContainerPath(server).c_str());
    return;
  }
  const std::string name = shareNameOf(groupName, hidden);
  hr = createShareChild(files, server, name);
  if (hr == kShareExists) {
    if (s.LogLevel > 0) {
      rt.log.message(1, "** Info: Nedlægger og genopretter gruppeshare %s.\n", name.c_str());
    }
    (void)files.deleteShare(server, name);
    hr = createShareChild(files, server, name);
  }
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: OpretFileshare() - Create(FileShare)\n");
    return;
  }
  hr = files.addShare(server, name, s.ServerPathGruppe + "\\" + groupName, kMaxShareUsers);
  if (hr < 0) rt.log.reportHresult(hr, "** Fejl: OpretFileshare() - SetInfo\n");
}

}  // namespace tv
