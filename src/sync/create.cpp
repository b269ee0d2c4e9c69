// Creation and re-activation: TjekEksisterendeBruger finds an account that
// already belongs to the person, OpretBruger creates one, EnableUser brings
// a disabled account back from the inactive container.
#include <algorithm>
#include <functional>
#include <optional>

#include "directory/draft_directory.h"
#include "directory/escape.h"
#include "mail/mail_enabling.h"
#include "runtime/trim.h"
#include "scripts/script_hook.h"
#include "shares/shares.h"
#include "sync/operation_support.h"
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr std::int64_t kAccountDisabled = 0x2;
constexpr std::int64_t kPasswordNotRequired = 0x20;
constexpr std::int64_t kPasswordNeverExpires = 0x10000;
constexpr std::size_t kInactiveLoginChars = 24;

DirUser recordFor(const FileUser& user, const DirObject& object) {
  DirUser d;
  d.name = user.login;
  d.accountName = user.login;
  d.path = object.adsPath();
  return d;
}

}  // namespace

int TjekEksisterendeBruger(Runtime& rt, FileUser& user) {
  const Settings& s = rt.settings;
  auto found = findUserByIdentification(rt, rt.trim.defaultNamingContext, user.identification);
  if (found.ok()) {
    std::unique_ptr<DirObject>& object = found.value.object;
    if (!found.value.protection.empty()) {
      // Handled: the person's account exists, and it is not the register's to change.
      refuseProtected(rt, "TjekEksisterendeBruger", user.login, object->adsPath(),
                      found.value.protection);
    } else if (ValidBWUser(rt, *object) == 0) {
      if (s.LogLevel >= 1) {
        rt.log.message(1,
                       "   %s (%s %s) kunne ikke rettes da brugeren ikke er vedligeholdt af ZEB.\n",
                       user.login.c_str(), user.firstName.c_str(), user.lastName.c_str());
      }
      ArkiverBruger(rt, *object);
    } else if (found.value.disabled) {
      rt.log.message(1, "   Aktiverer bruger %s \n", user.login.c_str());
      (void)EnableUser(rt, user, object);
    } else {
      DirUser d = recordFor(user, *object);
      object.reset();
      OpdaterBruger(rt, d, user);
    }
    return 1;
  }
  auto byLogin = findUserByLogin(rt, rt.trim.defaultNamingContext, user.login);
  if (byLogin.ok()) {
    rt.log.message(1, "  Brugeren %s findes uden for %s i domænet %s\n", user.login.c_str(),
                   s.LdapPath.c_str(), byLogin.value.object->adsPath().c_str());
    return 1;
  }
  return 0;
}

namespace {

// The account's creation from the add to the commit that enables it. make
// gives the new, unsaved account object (it may be asked twice); where is the
// container's DN, then the account's.
Hresult createAccount(Runtime& rt, FileUser& user, std::string& where,
                      const std::function<DirResult<std::unique_ptr<DirObject>>()>& make) {
  const Settings& s = rt.settings;
  const char* login = user.login.c_str();
  const auto report = [&](const ChangeResult& result) {
    rt.recordChange(ChangeAction::kCreate, user.login, {}, {}, where, result);
  };
  // The identification, the login and the marking go into the directory
  // with the add itself. An add is all or nothing, so when the directory
  // refuses it nothing was written, and the account is made again one
  // commit at a time: each step then fails or succeeds on its own and leaves
  // the account and the log as that step does.
  const auto made = [&]() -> DirResult<std::unique_ptr<DirObject>> {
    auto object = make();
    if (!object.ok()) {
      rt.log.reportHresult(object.hr, "** Fejl: OpretBruger() - IADsContainer->Create(%s)\n",
                           login);
      report(ChangeResult::of(object.hr));
    }
    return object;
  };
  auto created = made();
  if (!created.ok()) return created.hr;
  rt.log.message(1, "   Oprettede brugeren %s \n", login);
  std::unique_ptr<DirObject> object = std::move(created.value);
  where = object->dn();

  (void)object->put(s.BrugerIdentifikation, user.identification);
  (void)object->put("sAMAccountName", user.login);
  (void)object->put(s.ZEBMarkering, user.description);
  if (object->setInfo() < 0) {
    created = made();
    if (!created.ok()) return created.hr;
    object = std::move(created.value);
    const std::pair<std::string, const std::string*> steps[] = {
        {s.BrugerIdentifikation, &user.identification},
        {"sAMAccountName", &user.login},
        {s.ZEBMarkering, &user.description}};
    const char* names[] = {"BrugerIdentifikation", "sAMAccountName", "ZEBMarkering"};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      (void)object->put(steps[i].first, *steps[i].second);
      const Hresult hr = object->setInfo();
      if (hr < 0) {
        rt.log.reportHresult(hr, "** Fejl: OpretBruger(%s) - SetInfo('%s')\n", login, names[i]);
        report(ChangeResult::of(hr));
        return hr;
      }
    }
  }
  // The account exists and is the person's; a later refusal gets a row of its own.
  report(ChangeResult::done());
  Hresult passwordHr = object->setPassword(user.password);
  if (passwordHr < 0) {
    // An account without a password must never be enabled: clearing
    // "password not required" now makes the directory refuse every enable.
    rt.log.reportHresult(passwordHr,
                         "** Fejl: OpretBruger(%s) - SetPassword: kontoen forbliver deaktiveret\n",
                         login);
    if (auto uac = object->getInt("userAccountControl"); uac.ok()) {
      (void)object->put("userAccountControl",
                        std::to_string((uac.value | kAccountDisabled) & ~kPasswordNotRequired));
      (void)object->setInfo();
    }
  }
  DirUser record = recordFor(user, *object);
  record.loginChecked = true;
  if (auto uac = object->getInt("userAccountControl"); uac.ok()) {
    // The read loaded the account as the directory holds it. Unless the share
    // step writes to it first, the update below starts from that state: it
    // gets what it reads before its own first commit (the flags and the
    // login) from here instead of reading the account once more.
    if (rt.trim.shareMode == 0) {
      if (auto sam = object->getAll("sAMAccountName"); sam.ok()) {
        SearchRow row;
        row.dn = object->dn();
        row.attributes.push_back({"sAMAccountName", AdsType::kCaseIgnoreString, sam.value});
        row.attributes.push_back(
            {"userAccountControl", AdsType::kInteger, {std::to_string(uac.value)}});
        record.row = std::make_shared<const SearchRow>(std::move(row));
      }
    }
    std::int64_t v = uac.value & ~(kAccountDisabled | kPasswordNotRequired | kPasswordNeverExpires);
    if (rt.trim.passwordNeverExpires) v |= kPasswordNeverExpires;
    (void)object->put("userAccountControl", std::to_string(static_cast<std::int32_t>(v)));
  }

  if (rt.trim.shareMode != 0) OpretFileshare(rt, user, *object);
  if (!s.CheckMailBoxExists) handToMailScripts(rt, user.login);

  OpdaterBruger(rt, record, user);

  (void)object->setAccountDisabled(false);
  const Hresult hr = object->setInfo();
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: OpretBruger(%s) - SetInfo('AccountDisabled')\n", login);
    report(ChangeResult::of(hr));
  }
  return hr;
}

// Whether a creation may be drafted and sent as one add: nothing between the
// add and the enabling may reach outside the directory (folders, shares,
// hooks, list files), for a draft that is given up is made again. An account
// whose path does not read as the update expects it (a login with a
// character the path escapes) goes to the login rename, with its hooks.
bool draftable(const Runtime& rt, const FileUser& user, const std::string& where) {
  const Settings& s = rt.settings;
  const Trim& t = rt.trim;
  const bool staff = t.staff;
  if (t.shareMode != 0) return false;
  const std::string rdn = userRdn(user.login);
  if (pathFromDn(rdn + "," + where) != "LDAP://" + rdn + "," + userContainer(rt, user.login)) {
    return false;
  }
  if (!t.terminalProfileShare.empty() && !t.terminalProfileIsFile && t.terminalProfileShareCreate) {
    return false;
  }
  if (!t.userProfileShare.empty() && !t.userProfileIsFile && t.userProfileShareCreate) {
    return false;
  }
  const std::string* hooks[] = {staff ? &s.OpretMailMedaScript : &s.OpretMailElevScript,
                                staff ? &s.OpretMailMedaListScript : &s.OpretMailElevListScript,
                                staff ? &s.RunScriptPostEnableMeda : &s.RunScriptPostEnableElev,
                                staff ? &s.RunScriptAlwaysMeda : &s.RunScriptAlwaysElev,
                                staff ? &s.RunScriptAlwaysMedaList : &s.RunScriptAlwaysElevList};
  return std::all_of(std::begin(hooks), std::end(hooks),
                     [](const std::string* h) { return h->empty(); });
}

// Holds the log and the change report back while a creation is drafted, and
// forgets what they held unless told to let it go.
class HeldOutput {
 public:
  explicit HeldOutput(Runtime& rt) : rt_(rt) {
    rt_.log.hold();
    rt_.changes.hold();
  }
  ~HeldOutput() {
    if (held_) {
      rt_.log.dropHeld();
      rt_.changes.dropHeld();
    }
  }
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;
  void release() {
    held_ = false;
    rt_.log.releaseHeld();
    rt_.changes.releaseHeld();
  }

 private:
  Runtime& rt_;
  bool held_ = true;
};

// The creation drafted, then sent as one add carrying everything the steps
// would write: identification, login, marking, password, fields and the final
// flags. Nothing of it is told until that add succeeds; nullopt when it is
// not made so, and the caller makes the account step by step, which gives
// every refusal the line and the result of its own step.
std::optional<Hresult> createInOneAdd(Runtime& rt, DraftingDirectory& drafts, FileUser& user,
                                      DirObject& container, std::string& where) {
  const std::string rdn = userRdn(user.login);
  std::unique_ptr<DirObject> first = drafts.beginDraft(rdn + "," + container.dn(), container);
  if (!first) return std::nullopt;
  std::optional<AccountDraft> draft;
  std::string drafted = where;
  Hresult hr = kEFail;
  {
    HeldOutput held(rt);
    try {
      hr = createAccount(rt, user, drafted, [&]() -> DirResult<std::unique_ptr<DirObject>> {
        if (!first) return {kEFail, nullptr};
        return {kSOk, std::move(first)};
      });
    } catch (...) {
      (void)drafts.endDraft();
      throw;
    }
    draft = drafts.endDraft();
    if (!draft || hr < 0) return std::nullopt;
    auto made = container.create("user", rdn);
    if (!made.ok()) return std::nullopt;
    for (DirAttribute& a : draft->attributes) (void)made.value->putAll(a.name, a.values);
    if (draft->password && made.value->setPassword(*draft->password) < 0) return std::nullopt;
    if (made.value->setInfo() < 0) return std::nullopt;
    held.release();
  }
  where = drafted;
  return hr;
}

}  // namespace

Hresult OpretBruger(Runtime& rt, FileUser& user) {
  const Settings& s = rt.settings;
  const bool staff = rt.trim.staff;
  // The new account's place, and what became of the creation.
  std::string where = userContainerOf(rt, user);
  const auto report = [&](const ChangeResult& result) {
    rt.recordChange(ChangeAction::kCreate, user.login, {}, {}, where, result);
  };
  if (!loginFits(rt, user.login, "OpretBruger")) {
    report(ChangeResult::refused("login for langt"));
    return kEInvalidArg;
  }
  const std::string containerPath = "LDAP://" + where;
  if (!pathFits(rt, containerPath, "OpretBruger")) {
    report(ChangeResult::refused("sti for lang"));
    return kEInvalidArg;
  }
  Directory& dir = *rt.ports.directory;
  auto container = dir.bind(containerPath);
  if (!container.ok()) {
    (void)ensureOrganizationalUnit(rt, containerPath);
    container = dir.bind(containerPath);
    if (!container.ok()) {
      rt.log.reportHresult(container.hr, "** Fejl: OpretBruger() - ADsGetObject(%s)\n",
                           containerPath.c_str());
      report(ChangeResult::of(container.hr));
      return container.hr;
    }
  }
  std::optional<Hresult> hr;
  if (auto* drafts = dynamic_cast<DraftingDirectory*>(&dir);
      drafts != nullptr && draftable(rt, user, where)) {
    hr = createInOneAdd(rt, *drafts, user, *container.value, where);
  }
  if (!hr) {
    const std::string rdn = userRdn(user.login);
    hr = createAccount(rt, user, where, [&] { return container.value->create("user", rdn); });
  }
  container.value.reset();
  const std::string& script = staff ? s.RunScriptMeda : s.RunScriptElev;
  if (!script.empty()) runScript(rt, script, user.login, "RunScript:");
  return *hr;
}

Hresult EnableUser(Runtime& rt, FileUser& user, std::unique_ptr<DirObject>& object,
                   bool loginChecked) {
  const Settings& s = rt.settings;
  const char* login = user.login.c_str();
  std::string base;
  if (auto sam = object->get("sAMAccountName"); sam.ok()) {
    base = cutChars(sam.value, kInactiveLoginChars);
    if (auto cut = base.find('_'); cut != std::string::npos) base.resize(cut);
  }
  // Only an account other than this one is read: mostly the login's holder
  // is the account itself, and its path tells that without a bind. A new
  // account's creation searched for its login moments before it was made
  // (the pass checks for an existing account first) and nobody held it.
  std::unique_ptr<DirObject> other;
  if (!(loginChecked && base == user.login)) {
    if (auto holder = findUserPathByLogin(rt, rt.trim.defaultNamingContext, base);
        holder.ok() && !dnEquals(dnFromPath(holder.value), object->dn())) {
      // One that cannot be bound counts as not found, as in the other searches.
      if (auto bound = rt.ports.directory->bind(holder.value); bound.ok()) {
        other = std::move(bound.value);
      }
    }
  }
  if (other) {
    // An identification that cannot be read proves nothing: the login stays
    // with the account that holds it.
    auto id = other->get(s.BrugerIdentifikation);
    if (!id.ok() || id.value != user.identification) {
      rt.log.message(1, "** Fejl: Konflikt mellem inaktiv bruger og aktiv bruger login '%s'\n",
                     base.c_str());
      rt.recordChange(ChangeAction::kEnable, user.login, {}, {}, {},
                      ChangeResult::refused("konflikt med aktiv bruger " + base));
      return 0;
    }
  }
  std::string path = object->adsPath();
  (void)object->setAccountDisabled(false);
  rt.log.message(1, "   %s enabler konto.\n", login);
  Hresult hr = object->setInfo();
  if (hr < 0) rt.log.reportHresult(hr, "** Fejl: EnableUser(%s) - SetInfo()\n", login);
  rt.recordChange(ChangeAction::kEnable, user.login, {}, {}, {}, ChangeResult::of(hr));
  rt.log.message(1, "     %s vises for adresselister\n", login);
  // Without the mail server's schema the write cannot succeed, and its
  // failure is not told.
  if (object->typeOf("msExchHideFromAddressLists") != AdsType::kInvalid) {
    (void)object->put("msExchHideFromAddressLists", "FALSE");
    (void)object->setInfo();
  }
  path = object->adsPath();
  const std::string rdn = userRdn(user.login);
  object.reset();

  Hresult result = 1;
  const std::string containerPath = "LDAP://" + userContainerOf(rt, user);
  const auto moved = [&](DirResult<std::unique_ptr<DirObject>> outcome) {
    if (!outcome.ok()) {
      rt.log.reportHresult(outcome.hr, "** Fejl: MoveHere(%s) EnableUser\n", path.c_str());
      rt.recordChange(ChangeAction::kEnable, user.login, "placering", dnFromPath(path),
                      dnFromPath(containerPath), ChangeResult::of(outcome.hr));
    } else {
      rt.log.message(1, "   %s flyttes til %s\n", login, containerPath.c_str());
      object = std::move(outcome.value);
    }
  };
  if (alreadyThere(path, dnFromPath(containerPath), rdn)) {
    // Where it belongs already (a new account always is): the container
    // exists, and the account is only bound again.
    moved(rt.ports.directory->bind(path));
  } else if (auto container = rt.ports.directory->bind(containerPath); !container.ok()) {
    rt.log.reportHresult(container.hr, "** Fejl: Kunne ikke finde %s\n", containerPath.c_str());
    rt.recordChange(ChangeAction::kEnable, user.login, "placering", dnFromPath(path),
                    dnFromPath(containerPath), ChangeResult::of(container.hr));
    result = container.hr;
  } else {
    moved(moveInto(rt, *container.value, path, rdn));
  }
  const std::string& script = rt.trim.staff ? s.RunScriptPostEnableMeda : s.RunScriptPostEnableElev;
  if (!script.empty()) runScript(rt, script, user.login, "RunScriptPostEnable:");
  return result;
}

}  // namespace tv
