#include "runtime/trim.h"

#include "directory/escape.h"
#include "runtime/runtime.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr std::size_t kPathChars = 259;
constexpr std::size_t kLabelChars = 14;

}  // namespace

void selectStaff(Runtime& rt) {
  const Settings& s = rt.settings;
  if (s.LogLevel > 0) rt.log.message(1, "SetTrimMeda()\n");
  Trim& t = rt.trim;
  t.label = cutChars("Medarbejder", kLabelChars);
  t.staff = true;
  t.shareMode = s.OpretShareMeda;
  t.hideShare = s.HideShareMeda;
  t.alphaShare = s.AlphaopdelShareMeda;
  t.shareRoot = s.FileServerShareMeda;
  t.shareRootPath = s.FileServerPathMeda;
  t.homeDrive = s.HomeDirDriveMeda;
  t.terminalProfileShare = s.TerminalProfileShareMeda;
  t.terminalProfileShareCreate = s.TerminalProfileShareMedaCreate;
  t.terminalProfileIsFile = isProfileFile(t.terminalProfileShare);
  t.terminalProfileFolder = s.TerminalProfileFolderMeda;
  t.userProfileShare = s.UserProfileShareMeda;
  t.userProfileShareCreate = s.UserProfileShareMedaCreate;
  t.userProfileIsFile = isProfileFile(t.userProfileShare);
  t.userProfileFolder = s.UserProfileFolderMeda;
  t.mailMode = 0;  // staff have no mail mode of their own
  t.passwordNeverExpires = s.PasswdNeverExpiresMeda;
  t.shareAccessMask = s.AccessPermissionsShareMeda;
  t.shareInherit = s.InheritPermissionsShareMeda;
  t.refreshHomeDir = s.RefreshHomeDirMeda;
  t.refreshTerminalProfile = s.RefreshTerminalProfileMeda;
  t.refreshUserProfile = s.RefreshUserProfileMeda;
  t.path = t.MedarbejderPath;
  t.ldapPath = t.MedarbejderLdapPath;
  t.archivePath = t.MedarbejderArkivPath;
  t.archiveLdapPath = t.MedarbejderArkivLdapPath;
  t.inactivePath = t.MedarbejderInaktivePath;
  t.inactiveLdapPath = t.MedarbejderInaktiveLdapPath;
}

void selectPupils(Runtime& rt) {
  const Settings& s = rt.settings;
  if (s.LogLevel > 0) rt.log.message(1, "SetTrimPers()\n");
  Trim& t = rt.trim;
  t.label = cutChars("Elev", kLabelChars);
  t.staff = false;
  t.shareMode = s.OpretShareElev;
  t.hideShare = s.HideShareElev;
  t.alphaShare = s.AlphaopdelShareElev;
  t.shareRoot = s.FileServerShareElev;
  t.shareRootPath = s.FileServerPathElev;
  t.homeDrive = s.HomeDirDriveElev;
  t.terminalProfileShare = s.TerminalProfileShareElev;
  t.terminalProfileShareCreate = s.TerminalProfileShareElevCreate;
  t.terminalProfileIsFile = isProfileFile(t.terminalProfileShare);
  t.terminalProfileFolder = s.TerminalProfileFolderElev;
  t.userProfileShare = s.UserProfileShareElev;
  t.userProfileShareCreate = s.UserProfileShareElevCreate;
  t.userProfileIsFile = isProfileFile(t.userProfileShare);
  t.userProfileFolder = s.UserProfileFolderElev;
  t.mailMode = s.OpretMailElev;
  t.passwordNeverExpires = s.PasswdNeverExpiresElev;
  t.shareAccessMask = s.AccessPermissionsShareElev;
  t.shareInherit = s.InheritPermissionsShareElev;
  t.refreshHomeDir = s.RefreshHomeDirElev;
  t.refreshTerminalProfile = s.RefreshTerminalProfileElev;
  t.refreshUserProfile = s.RefreshUserProfileElev;
  t.path = t.ElevPath;
  t.ldapPath = t.ElevLdapPath;
  t.archivePath = t.ElevArkivPath;
  t.archiveLdapPath = t.ElevArkivLdapPath;
  t.inactivePath = t.ElevInaktivePath;
  t.inactiveLdapPath = t.ElevInaktiveLdapPath;
}

std::string userContainer(const Runtime& rt, std::string_view name) {
  const bool split = rt.trim.staff ? rt.settings.AlphaopdelADMeda : rt.settings.AlphaopdelADElev;
  if (!split || name.empty()) return cutChars(rt.trim.path, kPathChars);
  std::string letter;
  appendUtf8(letter, upperChar(toCodePoints(cutChars(name, 1)).front()));
  // The letter is a DN value: a login starting with "," or "#" must not
  // change the shape of the name.
  return cutChars("OU=" + escapeDnValue(letter) + "," + rt.trim.path, kPathChars);
}

bool isProfileFile(std::string_view path) {
  std::u32string cps = toCodePoints(path);
  if (cps.size() < 5) return false;
  std::string tail = toLower(fromCodePoints(cps.substr(cps.size() - 4)));
  return tail == ".pro" || tail == ".man";
}

std::string shareServer(std::string_view sharePath) {
  std::u32string cps = toCodePoints(sharePath);
  if (cps.size() <= 2) return {};
  std::u32string server;
  for (std::size_t i = 2; i < cps.size() && cps[i] != U'/' && cps[i] != U'\\'; ++i) {
    server.push_back(cps[i]);
  }
  return cutChars(fromCodePoints(server), kPathChars);
}

}  // namespace tv
