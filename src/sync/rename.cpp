// The login rename: the account moves to its new relative name and gets the
// new sAMAccountName, userPrincipalName and primary mail address; its home
// directory and folders follow the new login.
#include "directory/escape.h"
#include "runtime/trim.h"
#include "scripts/script_hook.h"
#include "shares/shares.h"
#include "sync/operation_support.h"
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {

void RetBrugerLogin(Runtime& rt, FileUser& user, const std::string& oldLogin) {
  std::string newPath;
  RetBrugerLogin(rt, user, oldLogin, newPath);
}

void RetBrugerLogin(Runtime& rt, FileUser& user, const std::string& oldLogin,
                    std::string& newPath) {
  const Settings& s = rt.settings;
  const Trim& t = rt.trim;
  const bool staff = t.staff;
  const std::string& newLogin = user.login;
  const char* nl = newLogin.c_str();
  auto found = findUserByLogin(rt, t.defaultNamingContext, oldLogin);
  if (!found.ok()) {
    rt.log.message(1, "  Brugeren %s findes ikke i AD\n", oldLogin.c_str());
    return;
  }
  if (!found.value.protection.empty()) {
    refuseProtected(rt, "RetBrugerLogin", oldLogin, found.value.object->adsPath(),
                    found.value.protection);
    return;
  }
  if (ValidBWUser(rt, *found.value.object) == 0) {
    if (s.LogLevel >= 1) {
      rt.log.message(1, " Login kan ikke rettes for %s da brugeren ikke er vedligeholdt af ZEB)\n",
                     oldLogin.c_str());
    }
    ArkiverBruger(rt, *found.value.object);
    return;
  }
  // A login that stays is a move into the login's container, not a rename.
  const std::string from = dnFromPath(found.value.object->adsPath());
  std::string to;
  const auto report = [&](const ChangeResult& result) {
    if (newLogin == oldLogin) {
      rt.recordChange(ChangeAction::kUpdate, oldLogin, "placering", from, to, result);
    } else {
      rt.recordChange(ChangeAction::kRename, oldLogin, "sAMAccountName", oldLogin, newLogin,
                      result);
    }
  };
  if (!loginFits(rt, newLogin, "RetBrugerLogin")) {
    report(ChangeResult::refused("login for langt"));
    return;
  }
  rt.log.message(1, "   Retter login fra %s til %s.\n", oldLogin.c_str(), nl);
  const std::string& preRename = staff ? s.RunScriptPreRenameMeda : s.RunScriptPreRenameElev;
  if (!preRename.empty()) {
    (void)runScript(rt, preRename, oldLogin, newLogin, "RunScriptPreRename:");
  }
  const std::string target =
      found.value.disabled ? t.inactiveLdapPath : "LDAP://" + userContainer(rt, oldLogin);
  to = dnFromPath(target);
  Directory& dir = *rt.ports.directory;
  auto container = dir.bind(target);
  if (!container.ok()) {
    rt.log.reportHresult(container.hr, "** Fejl: RetBrugerLogin - ADsGetObject('%s')\n",
                         target.c_str());
    report(ChangeResult::of(container.hr));
    return;
  }
  const std::string rdn = userRdn(newLogin);
  const std::string path = found.value.object->adsPath();
  user.previousLogin = oldLogin;
  found.value.object.reset();
  auto moved = moveInto(rt, *container.value, path, rdn);
  if (!moved.ok()) {
    rt.log.reportHresult(moved.hr, "** Fejl: RetBrugerLogin(%s) - MoveHere\n", nl);
    report(ChangeResult::of(moved.hr));
    return;
  }
  std::unique_ptr<DirObject> object = std::move(moved.value);
  newPath = object->adsPath();
  (void)object->put("sAMAccountName", newLogin);
  Hresult hr = object->setInfo();
  report(ChangeResult::of(hr));
  if (hr < 0) {
    rt.log.reportHresult(
        hr,
        "** Fejl: RetBrugerLogin(%s) - SetInfo('sAMAccountName') giver fejl. Omdøbning fejlet!\n",
        nl);
    return;
  }
  const std::string upn = newLogin + "@" + t.dnsDomain;
  hr = object->put("userPrincipalName", upn);
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: RetBrugerLogin(%s) - SetInfo('userPrincipalName') = %s\n",
                         nl, upn.c_str());
  }
  hr = object->setInfo();
  if (hr < 0) rt.log.reportHresult(hr, "** Fejl: RetBrugerLogin(%s) - SetInfo('Alle prop.')\n", nl);
  const bool proxies = staff ? !s.OpretMailMedaScript.empty()
                             : (s.OpretMailElev != 0 || !s.OpretMailElevScript.empty());
  if (proxies) RetProxyAdresser(rt, newLogin, object.get());
  // The file server grants the folders to the account's identifier under its
  // new login; a rename that has not reached the name lookup yet is waited for.
  if (!GetSidForAccount(rt, "", newLogin)) {
    rt.log.message(65, "** Fejl: Kan ikke læse SID for omdøbt bruger (%s)\n", nl);
    return;
  }
  if (t.shareMode == 0) return;
  if (!t.homeDrive.empty()) {
    std::string home;
    if (t.shareMode == 1) {
      home = "\\\\" + shareServer(t.shareRoot) + "\\" + newLogin + "$";
    } else if (t.alphaShare) {
      home = t.shareRoot + "\\" + user.splitLetter + "\\" + newLogin;
    } else {
      home = t.shareRoot + "\\" + newLogin;
    }
    if (pathFits(rt, home, "RetBrugerLogin")) {
      (void)object->put("homeDirectory", home);
      (void)object->put("homeDrive", t.homeDrive);
      hr = object->setInfo();
      if (hr < 0) {
        rt.log.reportHresult(hr, "** Fejl: RetBrugerLogin(%s) - SetInfo('HomeDirectory')\n", nl);
      }
    }
  }
  if (newLogin == oldLogin) {
    rt.log.message(1, "Checking fileshares temp cancelled\n");
  } else {
    rt.log.message(1, "   Renaming fileshares\n");
    RenameFileShares(rt, user);
  }
}

void RetProxyAdresser(Runtime& rt, std::string_view newLogin, DirObject* object) {
  if (object == nullptr) return;
  auto current = object->getAll("proxyAddresses");
  if (!current.ok()) {
    (void)object->setInfo();
    return;
  }
  std::vector<std::string> values = current.value;
  std::string primary;
  for (std::string& v : values) {
    if (!v.starts_with("SMTP:")) continue;
    v.replace(0, 4, "smtp");
    auto at = v.find('@');
    primary = "SMTP:" + std::string(newLogin) + (at == std::string::npos ? "" : v.substr(at));
    rt.log.message(1, "   ny smtp: %s\n", primary.c_str());
  }
  if (!primary.empty()) values.push_back(primary);
  (void)object->putAll("proxyAddresses", std::move(values));
  (void)object->setInfo();
}

}  // namespace tv
