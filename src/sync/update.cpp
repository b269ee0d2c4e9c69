// OpdaterBruger and the steps it is made of: the maintained-by test, the
// move into the login's container, the home and profile paths, and the
// always-hooks.
#include <array>

#include "directory/escape.h"
#include "jobdata/list_files.h"
#include "mail/mail_enabling.h"
#include "runtime/trim.h"
#include "scripts/script_hook.h"
#include "shares/shares.h"
#include "sync/operation_support.h"
#include "sync/terminal_services.h"
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr std::string_view kMarker = "Autooprettet af ";

bool isTextType(AdsType t) {
  switch (t) {
    case AdsType::kBoolean:
    case AdsType::kInteger:
    case AdsType::kOctetString:
    case AdsType::kUtcTime:
    case AdsType::kLargeInteger:
    case AdsType::kNtSecurityDescriptor:
      return false;
    default:
      return true;
  }
}

// A marking that is not text (a number, a flag, bytes) is no marking: it
// is read as missing rather than compared as if it were words.
DirResult<std::string> readMarking(DirObject& object, const std::string& attr) {
  auto value = object.get(attr);
  if (value.ok() && !isTextType(object.typeOf(attr))) return {kEAdsCantConvertDatatype, {}};
  return value;
}

// A profile path below a share: the share itself when it names one fixed
// profile, else the login's folder (by split letter when split) and the
// optional sub-folder.
std::string profilePathFor(const Runtime& rt, const FileUser& user, const std::string& share,
                           bool shareIsFile, const std::string& folder) {
  if (shareIsFile) return share;
  std::string path = share + "\\";
  if (rt.trim.alphaShare) path += user.splitLetter + "\\";
  path += user.login;
  if (!folder.empty()) path += "\\" + folder;
  return path;
}

}  // namespace

int ValidBWUser(Runtime& rt, DirObject& object) {
  const Settings& s = rt.settings;
  std::string attr = s.ZEBMarkering;
  auto marking = readMarking(object, attr);
  if (!marking.ok()) {
    attr = "description";
    marking = readMarking(object, attr);
  }
  if (s.CheckZEBMarkering) {
    if (!marking.ok()) {
      if (s.LogLevel <= 0 && marking.hr == kEAdsPropertyNotFound) return 0;
      rt.log.message(
          1, "\n** Info: Kan ikke læse markering i %s eller i description (ValidBWUser())\n",
          s.ZEBMarkering.c_str());
      return 0;
    }
    if (!contains(marking.value, kMarker)) {
      if (s.LogLevel >= 1) {
        rt.log.message(1, "\n** Info: %s: %s. Skulle indeholde %s.\n", attr.c_str(),
                       marking.value.c_str(), "Autooprettet af ZEB");
      }
      return 0;
    }
  }
  const std::string path = object.adsPath();
  const std::string* missing = nullptr;
  if (!contains(path, s.LdapPath)) {
    missing = &s.LdapPath;
  } else if (!contains(path, rt.trim.label)) {
    missing = &rt.trim.label;
  }
  if (missing == nullptr) return 1;
  if (s.LogLevel >= 1) {
    rt.log.message(1, "\n** Info: AdsPath: %s. Skulle indeholde %s.\n", path.c_str(),
                   missing->c_str());
  }
  return 0;
}

int Move2StandardOU(Runtime& rt, std::string_view login, std::unique_ptr<DirObject>& object) {
  const std::string l(login);
  const std::string path = object->adsPath();
  const std::string expected = "LDAP://" + userContainer(rt, login);
  if (object->parent() == expected) return 0;
  const auto report = [&](const ChangeResult& result) {
    rt.recordChange(ChangeAction::kUpdate, l, "placering", dnFromPath(object->parent()),
                    dnFromPath(expected), result);
  };
  if (!rt.settings.IDrift) {
    rt.log.message(1, "IDrift = 0: Test af Move2StandardOU %s\n", l.c_str());
    report(ChangeResult::test());
    return 0;
  }
  if (!pathFits(rt, expected, "Move2StandardOU")) return 0;
  Directory& dir = *rt.ports.directory;
  auto container = dir.bind(expected);
  if (!container.ok()) {
    (void)ensureOrganizationalUnit(rt, expected);
    container = dir.bind(expected);
    if (!container.ok()) return 0;
  }
  rt.log.message(1, "     %s flyttes til OU: %s\n", l.c_str(), expected.c_str());
  auto moved = moveInto(rt, *container.value, path, "");
  report(ChangeResult::of(moved.hr));
  if (moved.ok()) {
    object = std::move(moved.value);
  } else {
    rt.log.reportHresult(moved.hr, "** Fejl: MoveHere(%s) Move2StandardOU\n", path.c_str());
  }
  return 0;
}

int TjekBrugerAttrib(Runtime& rt, DirObject& object, const FileUser& user) {
  const Trim& t = rt.trim;
  int changes = 0;
  // attribute, old value, new value of each path written; reported with the commit's result.
  std::vector<std::array<std::string, 3>> written;
  if (!t.homeDrive.empty() && t.shareMode != 0 && t.refreshHomeDir) {
    auto current = object.get("homeDirectory");
    std::string expected;
    if (t.shareMode == 1) {
      expected = "\\\\" + shareServer(t.shareRoot) + "\\" + user.login + (t.hideShare ? "$" : "");
    } else if (t.alphaShare) {
      expected = t.shareRoot + "\\" + user.splitLetter + "\\" + user.login;
    } else {
      expected = t.shareRoot + "\\" + user.login;
    }
    if (!(current.ok() && current.value == expected) &&
        pathFits(rt, expected, "homedirectory", kMaxUserPathChars)) {
      (void)object.put("homeDirectory", expected);
      (void)object.put("homeDrive", t.homeDrive);
      written.push_back({"homeDirectory", current.ok() ? current.value : "", expected});
      if (current.ok()) {
        rt.log.message(1, "      homedirectory '%s' rettes til '%s'\n", current.value.c_str(),
                       expected.c_str());
      } else {
        rt.log.message(1, "      homedirectory sættes til '%s'\n", expected.c_str());
      }
      ++changes;
    }
  }
  if (!t.userProfileShare.empty() && t.refreshUserProfile) {
    auto current = object.get("profilePath");
    std::string expected =
        profilePathFor(rt, user, t.userProfileShare, t.userProfileIsFile, t.userProfileFolder);
    if (!(current.ok() && current.value == expected) &&
        pathFits(rt, expected, "UserProfilePath", kMaxUserPathChars)) {
      (void)object.put("profilePath", expected);
      written.push_back({"profilePath", current.ok() ? current.value : "", expected});
      if (current.ok()) {
        rt.log.message(1, "      UserProfilePath '%s' rettes til '%s'\n", current.value.c_str(),
                       expected.c_str());
      } else {
        rt.log.message(1, "      UserProfilePath sættes til '%s'\n", expected.c_str());
      }
      ++changes;
    }
  }
  // The terminal-services profile lives inside userParameters; a directory
  // without that attribute has no terminal-services extension.
  if (!t.terminalProfileShare.empty() && t.refreshTerminalProfile &&
      object.typeOf("userParameters") != AdsType::kInvalid) {
    std::string expected = profilePathFor(rt, user, t.terminalProfileShare, t.terminalProfileIsFile,
                                          t.terminalProfileFolder);
    auto blob = object.get("userParameters");
    const std::string bytes = blob.ok() ? blob.value : std::string();
    auto current = terminalProfilePathOf(bytes);
    auto updated = withTerminalProfilePath(bytes, expected);
    if (!updated) {
      rt.log.message(1,
                     "      ** Info: userParameters for %s er ikke terminal-services data; "
                     "TerminalProfilePath rettes ikke.\n",
                     user.login.c_str());
    } else if (!(current && *current == expected) &&
               pathFits(rt, expected, "TerminalProfilePath", kMaxUserPathChars)) {
      (void)object.put("userParameters", *updated);
      written.push_back({"TerminalProfilePath", current ? *current : "", expected});
      if (current && !current->empty()) {
        rt.log.message(1, "      TerminalProfilePath '%s' rettes til '%s'\n", current->c_str(),
                       expected.c_str());
      } else {
        rt.log.message(1, "      TerminalProfilePath sættes til '%s'\n", expected.c_str());
      }
      ++changes;
    }
  }
  if (changes > 0) {
    Hresult hr = object.setInfo();
    if (hr < 0) rt.log.reportHresult(hr, "** Fejl: TjekBrugerAttrib() - SetInfo()\n");
    for (const auto& [attr, before, after] : written) {
      rt.recordChange(ChangeAction::kUpdate, user.login, attr, before, after, ChangeResult::of(hr));
    }
  }
  return changes;
}

void OpdaterBruger(Runtime& rt, DirUser& dirUser, FileUser& fileUser) {
  const Settings& s = rt.settings;
  const bool staff = rt.trim.staff;
  const std::string& dirLogin = dirUser.accountName;
  if (!dirUser.protection.empty()) {
    refuseProtected(rt, "OpdaterBruger", dirLogin, dirUser.path, dirUser.protection);
    return;
  }
  Directory& dir = *rt.ports.directory;
  // The list search's row seeds the object, so an account whose attributes
  // are all in the row costs no further read.
  auto bound = dirUser.row ? dir.bindRow(*dirUser.row) : dir.bind(dirUser.path);
  if (!bound.ok()) {
    rt.log.message(1, "   Kunne ikke finde %s i den rette sti.\n", dirLogin.c_str());
    return;
  }
  std::unique_ptr<DirObject> object = std::move(bound.value);
  if (auto disabled = object->accountDisabled(); disabled.ok() && disabled.value) {
    const std::string before = object->adsPath();
    (void)EnableUser(rt, fileUser, object, dirUser.loginChecked);
    if (!object) {
      // Enabled but not moved: the rest of the update still applies to the
      // account where it is, and the next pass moves it.
      auto again = dir.bind(before);
      if (!again.ok()) {
        rt.log.message(1, "   Kunne ikke finde %s i den rette sti.\n", dirLogin.c_str());
        return;
      }
      object = std::move(again.value);
    }
  }
  if (ValidBWUser(rt, *object) == 0) {
    if (s.LogLevel >= 1) {
      rt.log.message(1, "   Kunne ikke rette %s da brugeren ikke er vedligeholdt af ZEB.\n",
                     dirLogin.c_str());
    }
    ArkiverBruger(rt, *object);
    return;
  }
  if (s.LogLevel >= 1) rt.log.message(1, "   Opdaterer bruger ('%s')\n", dirLogin.c_str());
  const std::string expected = "LDAP://" + userRdn(dirLogin) + "," + userContainer(rt, dirLogin);
  (void)Move2StandardOU(rt, dirLogin, object);
  if (fileUser.login == dirLogin && dirUser.path == expected) {
    (void)CheckFileShares(rt, fileUser, *object);
  } else {
    rt.log.message(1, "      path: %s, %s \n", dirUser.path.c_str(), expected.c_str());
    std::string movedTo;
    RetBrugerLogin(rt, fileUser, dirLogin, movedTo);
    // The rename moved the account away from this object's path; the writes
    // that follow must reach the account, not a name that is gone.
    if (!movedTo.empty() && movedTo != object->adsPath()) {
      auto moved = dir.bind(movedTo);
      if (moved.ok()) object = std::move(moved.value);
    }
  }
  if (s.CheckMailBoxExists) checkMailbox(rt, fileUser.login, *object);
  (void)TjekBrugerAttrib(rt, *object, fileUser);
  OpdaterFelter(rt, *object, fileUser);
  const std::string& always = staff ? s.RunScriptAlwaysMeda : s.RunScriptAlwaysElev;
  if (!always.empty()) runScript(rt, always, dirLogin, "RunScriptAlways:");
  const std::string& alwaysList = staff ? s.RunScriptAlwaysMedaList : s.RunScriptAlwaysElevList;
  if (!alwaysList.empty()) {
    (staff ? rt.job.medaListChanged : rt.job.elevListChanged) = true;
    (void)appendListLine(rt, staff ? "RunScriptAlwaysMedaListe" : "RunScriptAlwaysElevListe",
                         dirLogin);
  }
}

}  // namespace tv
