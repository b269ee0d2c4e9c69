// Leavers and foreign accounts: NedlaegBruger disables, hides and moves an
// account into the inactive container, FjernAttributter clears the
// configured attributes, ArkiverBruger moves an account this system does
// not maintain into the archive container.
#include "directory/escape.h"
#include "scripts/script_hook.h"
#include "sync/operation_support.h"
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr std::size_t kMaxRemovedNames = 100;
constexpr std::size_t kRemovedNameChars = 63;
constexpr std::size_t kRemoveListChars = 259;

}  // namespace

Hresult NedlaegBruger(Runtime& rt, const DirUser& dirUser) {
  const Settings& s = rt.settings;
  const Trim& t = rt.trim;
  const std::string& login = dirUser.accountName;
  if (!dirUser.protection.empty()) {
    refuseProtected(rt, "NedlaegBruger", login, dirUser.path, dirUser.protection);
    return kSOk;
  }
  auto found = findUserByLogin(rt, t.defaultNamingContext, login);
  if (!found.ok()) return kSOk;
  if (!found.value.protection.empty()) {
    refuseProtected(rt, "NedlaegBruger", login, found.value.object->adsPath(),
                    found.value.protection);
    return kSOk;
  }
  std::unique_ptr<DirObject>& object = found.value.object;
  if (ValidBWUser(rt, *object) == 0) {
    if (s.LogLevel >= 1) {
      rt.log.message(1, "    %s kan ikke nedlægges da brugeren ikke er vedligeholdt af ZEB.\n",
                     login.c_str());
    }
    ArkiverBruger(rt, *object);
    return kSOk;
  }
  Hresult hr = kSOk;
  if (!found.value.disabled) {
    rt.log.message(1, "   Nedlægger brugeren %s \n", login.c_str());
    const std::string& script = t.staff ? s.RunScriptPreDisableMeda : s.RunScriptPreDisableElev;
    if (!script.empty()) runScript(rt, script, login, "RunScriptPreDisable:");
    (void)object->setAccountDisabled(true);
    rt.log.message(1, "     %s skjules for adresselister\n", dirUser.name.c_str());
    Hresult put = object->put("msExchHideFromAddressLists", "TRUE");
    if (put < 0) rt.log.reportHresult(put, "** Fejl: msExchHideFromAddressLists error\n");
    hr = object->setInfo();
    // A directory without the mail server's schema refuses the attribute
    // and still commits the rest of the change, the disabling included.
    if (hr == kNoAttributeOrValue) {
      rt.log.reportHresult(hr, "** Fejl: msExchHideFromAddressLists error\n");
    } else if (hr < 0) {
      rt.log.reportHresult(hr, "** Fejl: NedlaegBruger(%s) - SetInfo()\n", login.c_str());
    }
    rt.recordChange(ChangeAction::kDeactivate, login, {}, {}, {},
                    ChangeResult::of(hr == kNoAttributeOrValue ? kSOk : hr));
    const std::string& list =
        t.staff ? s.NedlaegAttributFjernListMeda : s.NedlaegAttributFjernListElev;
    if (!list.empty()) FjernAttributter(rt, login, *object, list);
  }
  std::string newLogin = login;
  if (s.RenameInaktiv && !contains(login, "_inaktiv")) newLogin = login + "_inaktiv";
  const std::string path = object->adsPath();
  Directory& dir = *rt.ports.directory;
  auto container = dir.bind(t.inactiveLdapPath);
  if (!container.ok()) {
    (void)createOrganizationalUnit(rt, "OU=Inaktive", t.ldapPath);
    container = dir.bind(t.inactiveLdapPath);
  }
  bool renameFailed = false;
  if (newLogin != login) {
    if (!loginFits(rt, newLogin, "NedlaegBruger")) {
      renameFailed = true;
      rt.recordChange(ChangeAction::kDeactivate, login, "sAMAccountName", login, newLogin,
                      ChangeResult::refused("login for langt"));
    } else {
      (void)object->put("sAMAccountName", newLogin);
      hr = object->setInfo();
      if (hr < 0) {
        rt.log.reportHresult(hr, "** Fejl: Kan ikke nedlægge bruger, %s eksisterer allerede\n",
                             newLogin.c_str());
        renameFailed = true;
      }
      rt.recordChange(ChangeAction::kDeactivate, login, "sAMAccountName", login, newLogin,
                      ChangeResult::of(hr));
    }
  }
  if (dirUser.name == newLogin && contains(path, t.inactivePath)) return hr;
  if (renameFailed) return hr;
  const auto reportMove = [&](Hresult result) {
    rt.recordChange(ChangeAction::kDeactivate, login, "placering", dnFromPath(dirUser.path),
                    t.inactivePath, ChangeResult::of(result));
  };
  if (!container.ok()) {
    rt.log.message(1, "** Fejl: %s kan ikke flyttes: %s kan hverken åbnes eller oprettes.\n",
                   login.c_str(), t.inactiveLdapPath.c_str());
    reportMove(container.hr);
    return container.hr;
  }
  auto moved = moveInto(rt, *container.value, dirUser.path, userRdn(newLogin));
  reportMove(moved.hr);
  if (!moved.ok()) {
    rt.log.reportHresult(moved.hr, "** Fejl: Kunne ikke ændre %s til %s\n", dirUser.name.c_str(),
                         newLogin.c_str());
    return moved.hr;
  }
  rt.log.message(1, "     %s ændret navn til %s, og sat i Inaktiv sti (%s)\n", dirUser.name.c_str(),
                 newLogin.c_str(), t.inactiveLdapPath.c_str());
  return kSOk;
}

void FjernAttributter(Runtime& rt, std::string_view login, DirObject& object,
                      std::string_view attributeList) {
  std::size_t count = 0;
  for (const std::string& name : split(cutChars(attributeList, kRemoveListChars), ':')) {
    if (name.empty()) continue;
    if (++count > kMaxRemovedNames) break;
    SaetAttribut(rt, login, object, cutChars(name, kRemovedNameChars), "");
  }
}

void ArkiverBruger(Runtime& rt, DirObject& object) {
  const Trim& t = rt.trim;
  auto account = object.get("sAMAccountName");
  const std::string login = account.ok() ? account.value : object.name();
  const std::string from = object.dn();
  const auto report = [&](const ChangeResult& result) {
    rt.recordChange(ChangeAction::kArchive, login, "placering", from, t.archivePath, result);
  };
  Directory& dir = *rt.ports.directory;
  auto archive = dir.bind(t.archiveLdapPath);
  if (!archive.ok()) {
    (void)createOrganizationalUnit(rt, "OU=Arkiv", t.ldapPath);
    archive = dir.bind(t.archiveLdapPath);
    if (!archive.ok()) {
      rt.log.reportHresult(archive.hr, "** Fejl: Kunne ikke oprette arkiv lokation.\n");
      report(ChangeResult::of(archive.hr));
      return;
    }
  }
  const std::string path = object.adsPath();
  if (!contains(path, t.ZEBPath)) {
    rt.log.message(
        1, "** Fejl: Bruger der skal vedligeholdes findes udenfor forventet ZEB OU: %s, %s\n",
        object.name().c_str(), path.c_str());
    report(ChangeResult::refused("uden for systemets OU"));
    return;
  }
  if (contains(path, t.archivePath)) return;
  auto moved = moveInto(rt, *archive.value, path, "");
  report(ChangeResult::of(moved.hr));
  if (!moved.ok()) {
    rt.log.reportHresult(moved.hr, "** Fejl: Kunne ikke arkivere bruger\n");
    return;
  }
  rt.log.message(1, "   Arkivere brugeren %s\n", moved.value->name().c_str());
}

void OprydInaktiveBrugere(Runtime&, int) {}

}  // namespace tv
