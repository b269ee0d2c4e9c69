#include "groups/group_operations.h"

#include "ports/file_server.h"

#include "directory/escape.h"
#include "jobdata/job_text.h"
#include "runtime/data_folder.h"
#include "scripts/script_hook.h"
#include "shares/shares.h"
#include "text/text.h"
#include "users/user_queries.h"

namespace tv {
namespace {

constexpr Hresult kENoInterface = hresultOf(0x80004002);

// The names of a standard group list, as written.
bool isStandardGroup(const std::string& list, const std::string& name) {
  if (list.empty()) return false;
  for (const std::string& n : split(list, ':')) {
    if (n == name) return true;
  }
  return false;
}

// The group folder on the group share root. A root written as a local path
// ("/srv/grupper") takes "/", a UNC root keeps "\".
std::string groupFolderPath(const std::string& root, const std::string& name) {
  const bool local = !root.empty() && root.front() == '/';
  return root + (local ? "/" : "\\") + name;
}

}  // namespace

bool hasSpecialChar(std::string_view name) {
  for (char32_t ch : toCodePoints(name)) {
    if (isSpecialChar(ch)) return true;
  }
  return false;
}

std::string groupMailName(std::string_view name) {
  return foldName(name);
}

std::string groupPathIn(std::string_view name, std::string_view containerDn) {
  return pathFromDn("CN=" + escapeDnValue(name) + "," + std::string(containerDn));
}

DirResult<std::unique_ptr<DirObject>> bindGroup(Runtime& rt, std::string_view path) {
  DirResult<std::unique_ptr<DirObject>> out;
  if (rt.ports.directory == nullptr) return out;
  out = rt.ports.directory->bind(path);
  if (out.ok() && out.value->className() != "group") {
    out.value.reset();
    out.hr = kENoInterface;
  }
  return out;
}

int OpretGruppe(Runtime& rt, const std::string& name, const std::string* description, bool staff) {
  const Settings& s = rt.settings;
  if (s.LogLevel > 0)
    rt.log.message(11, "** Info: Tjekker/opretter gruppen %s:", ("CN=" + name).c_str());
  if (hasSpecialChar(name)) {
    rt.log.message(1, "\n** Fejl: Gruppe navnet må ikke indeholde specialtegn. (%s)\n",
                   name.c_str());
    return 1;
  }
  // A name of blanks only would become an empty relative name.
  if (trim(name).empty()) {
    rt.log.message(1, "\n** Fejl: Gruppe navnet er tomt. (%s)\n", name.c_str());
    return 1;
  }
  // A longer name cannot be a relative name in the directory; refusing it
  // here keeps the log clear of a bare directory error.
  if (charCount(name) > kGroupNameMaxChars) {
    rt.log.message(1, "\n** Fejl: Gruppe navnet må højst have %d tegn. (%s)\n",
                   static_cast<int>(kGroupNameMaxChars), name.c_str());
    return 1;
  }
  if (bindGroup(rt, groupPathIn(name, rt.trim.GruppeArkivPath)).ok()) {
    rt.log.message(1, "\n** Fejl: Gruppen (%s) findes allerede i containeren 'Arkiv'.\n",
                   name.c_str());
    return 1;
  }
  if (auto existing = bindGroup(rt, groupPathIn(name, rt.trim.GruppePath)); existing.ok()) {
    rt.log.message(11, " Gruppen %s findes allerede.\n", name.c_str());
    if (description != nullptr) {
      auto current = existing.value->get("description");
      if (!current.ok() || current.value != *description) {
        (void)existing.value->put("description", *description);
        (void)existing.value->setInfo();
      }
    }
    return 0;
  }

  rt.log.message(11, " Gruppen %s oprettes.\n", name.c_str());
  const std::string& containerPath = rt.trim.GruppeLdapPath;
  if (rt.ports.directory == nullptr) {
    rt.log.reportHresult(kEFail, "** Fejl: OpretGruppe() - ADsGetObject(%s)\n",
                         containerPath.c_str());
    return 1;
  }
  auto container = rt.ports.directory->bind(containerPath);
  if (!container.ok()) {
    rt.log.reportHresult(container.hr, "** Fejl: OpretGruppe() - ADsGetObject(%s)\n",
                         containerPath.c_str());
    return 1;
  }
  const std::string rdn = "CN=" + escapeDnValue(name);
  auto group = container.value->create("group", rdn);
  if (!group.ok()) {
    rt.log.reportHresult(group.hr, "\n** Fejl: OpretGruppe() - IADsContainer->Create(%s)\n",
                         ("CN=" + name).c_str());
    return 1;
  }
  DirObject& g = *group.value;
  (void)g.put("sAMAccountName", name);
  (void)g.put(s.ZEBGruppeMarkering, kGroupMarkingText);
  if (description != nullptr && !description->empty()) {
    (void)g.put("description", *description + " (" + (staff ? "M" : "E") + ")");
  }
  Hresult hr = g.setInfo();
  if (hr < 0) {
    rt.log.reportHresult(hr, "\n** Fejl: OpretGruppe() - SetInfo()\n");
    return 1;
  }
  if (s.UniversalGroups) (void)g.put("groupType", kUniversalGroupType);
  hr = g.setInfo();
  if (hr < 0) {
    // The follow-ups come only after a commit that went through, this one as
    // much as the first: the group is left as the directory holds it.
    rt.log.reportHresult(hr, "\n** Fejl: OpretGruppe(UniversalGroups) - SetInfo()\n");
    return 1;
  }

  if (s.OpretShareGruppe != 0) {
    CreateSecureGroupFolder(rt, name);
    if (s.OpretShareGruppe == 1) GroupShare(rt, name, false);
  }
  if (!s.MailenableGruppeScript.empty()) {
    runScript(rt, s.MailenableGruppeScript, name, "MailenableGruppeScript:");
  }
  if (!s.GruppeMail.empty()) SetGruppeEmail(rt, name);
  return 0;
}

void archiveGroup(Runtime& rt, DirObject* group, const std::string& name) {
  const Trim& t = rt.trim;
  std::unique_ptr<DirObject> bound;
  if (group == nullptr) {
    if (bindGroup(rt, groupPathIn(name, t.GruppeArkivPath)).ok()) {
      rt.log.message(1, "   %s ligger i Arkiv: %s\n", name.c_str(), t.GruppeArkivLdapPath.c_str());
      return;
    }
    auto found = bindGroup(rt, groupPathIn(name, t.GruppePath));
    if (!found.ok()) {
      rt.log.message(1, "** Fejl: Kunne ikke finde gruppen %s. Ligger den i den rette sti?\n",
                     name.c_str());
      return;
    }
    bound = std::move(found.value);
    group = bound.get();
  }
  const std::string shown = group->name();
  auto archive = rt.ports.directory->bind(t.GruppeArkivLdapPath);
  if (!archive.ok()) {
    (void)createOrganizationalUnit(rt, "OU=Arkiv", t.GruppeLdapPath);
    archive = rt.ports.directory->bind(t.GruppeArkivLdapPath);
    if (!archive.ok()) {
      rt.log.message(1, "** Fejl: Kunne ikke oprette gruppearkiveringslokation\n");
      return;
    }
  }
  auto moved = archive.value->moveHere(group->adsPath(), "");
  if (moved.ok()) {
    rt.log.message(1, "   Arkiverer gruppen %s i Arkiv: %s\n", shown.c_str(),
                   t.GruppeArkivLdapPath.c_str());
  } else {
    rt.log.message(1, "** Fejl: Kunne ikke arkivere gruppen\n");
  }
}

Hresult restoreGroup(Runtime& rt, const std::string& name, const std::string& groupPath,
                     const std::string& destinationPath) {
  if (rt.ports.directory == nullptr) return kEFail;
  auto destination = rt.ports.directory->bind(destinationPath);
  if (!destination.ok()) return destination.hr;
  auto moved = destination.value->moveHere(groupPath, "");
  if (moved.ok()) {
    rt.log.message(1, "   Flytter gruppen %s fra %s til %s\n", name.c_str(), groupPath.c_str(),
                   destinationPath.c_str());
  } else {
    rt.log.reportHresult(moved.hr, "** Fejl: Kunne ikke flytte gruppe til %s \n",
                         destinationPath.c_str());
  }
  return moved.hr;
}

void repairGroupKind(Runtime& rt, const std::string& name, const std::string& groupPath,
                     std::string& kind) {
  auto group = bindGroup(rt, groupPath);
  if (!group.ok()) return;
  auto members = group.value->members();
  if (!members.ok() || members.value.empty()) return;
  const std::string& first = members.value.front();
  if (first.find("Medarbejder") != std::string::npos) {
    kind = "M";
  } else if (first.find("Elev") != std::string::npos) {
    kind = "E";
  }
  const std::string marking = std::string(kGroupMarkingText) + " (" + kind + ")";
  if (rt.settings.IDrift) {
    (void)group.value->put(rt.settings.ZEBGruppeMarkering, cutChars(marking, 199));
    rt.log.message(1, "   Ændring af gruppebeskrivelse til 'Autooprettet af ZEB (%s)' '%s'\n",
                   kind.c_str(), name.c_str());
  } else {
    rt.log.message(1,
                   "  IDrift = 0: Ændring af gruppebeskrivelse til 'Autooprettet af ZEB (%s)' "
                   "'%s'\n",
                   kind.c_str(), name.c_str());
  }
  (void)group.value->setInfo();
}

void SletGruppe(Runtime& rt, const std::string& name) {
  const Settings& s = rt.settings;
  const Trim& t = rt.trim;
  if (rt.ports.directory == nullptr) return;
  auto container = rt.ports.directory->bind(t.GruppeLdapPath);
  if (!container.ok()) return;
  const std::string path = groupPathIn(name, t.GruppePath);
  auto group = bindGroup(rt, path);
  if (!group.ok()) {
    if (s.LogLevel > 0) {
      rt.log.message(1, "** Fejl: %s kan ikke åbnes! (SletGruppe, GroupPath)\n", path.c_str());
    }
    return;
  }
  // The relative name as the directory spells it, escapes resolved.
  std::string plain = name;
  if (auto rdns = parseDn(group.value->dn()); rdns && !rdns->empty()) plain = rdns->front().value;

  if (s.OpretShareGruppe != 0) {
    if (s.OpretShareGruppe == 1) (void)UnShareFolder(rt, s.ServerShareGruppe, plain, false);
    // "." or ".." would name the share root or its parent, never a group's
    // own folder.
    if (!s.ServerShareGruppe.empty() && !plain.empty() && plain != "." && plain != "..") {
      const std::string folder = groupFolderPath(s.ServerShareGruppe, plain);
      // A UNC path lives on the file server; only a local path is ours to delete.
      const bool unc = folder.starts_with("\\\\") || folder.starts_with("//");
      if (unc && rt.ports.files != nullptr) {
        (void)rt.ports.files->removeTree(folder);
      } else if (unc) {
        rt.log.message(1, "** Fejl: SletGruppe(%s) - der er ingen filserver at slette mappen på.\n",
                       plain.c_str());
      } else {
        (void)deleteFolderTree(rt, folder);
      }
    }
  }
  if (isStandardGroup(s.GroupListElev, plain) || isStandardGroup(s.GroupListMeda, plain)) {
    rt.log.message(1, "   Kan ikke slette Standardgruppen %s\n", plain.c_str());
    return;
  }
  group.value.reset();
  const std::string rdn = "CN=" + escapeDnValue(name);
  Hresult hr = container.value->deleteChild("group", rdn);
  if (hr >= 0) {
    rt.log.message(1, "   Sletter gruppen %s\n", name.c_str());
  } else {
    rt.log.reportHresult(hr, "\n** Fejl: SletGruppe() - Delete(%s)\n", ("CN=" + name).c_str());
  }
}

void SetGruppeEmail(Runtime& rt, const std::string& name) {
  const Trim& t = rt.trim;
  if (rt.ports.directory == nullptr) return;
  auto container = rt.ports.directory->bind(t.GruppeLdapPath);
  if (!container.ok()) {
    rt.log.message(1, "** Fejl: %s kan ikke åbnes! (SetGruppeEmail, Trim.GruppeLdapPath)\n",
                   t.GruppeLdapPath.c_str());
    return;
  }
  auto group = bindGroup(rt, groupPathIn(name, t.GruppePath));
  if (!group.ok()) {
    // A group in the archive gets no address either way.
    const std::string archived = groupPathIn(name, t.GruppeArkivPath);
    if (!bindGroup(rt, archived).ok()) {
      rt.log.message(1, "** Fejl: %s kan ikke åbnes! (SetGruppeEmail, GroupPath)\n",
                     archived.c_str());
    }
    return;
  }
  DirObject& g = *group.value;
  const std::string address = groupMailName(name) + rt.settings.GruppeMail;
  auto old = g.get("mail");
  const std::string before = old.ok() ? old.value : "";
  if (old.ok() && before == address) return;
  if (g.put("mail", address) < 0) {
    rt.log.message(1, "** Fejl: Kunne ikke sætte mail for %s", name.c_str());
  }
  if (g.setInfo() < 0) {
    rt.log.message(1, "** Fejl: SetInfo() i SetGruppeEmail");
  } else if (!before.empty()) {
    rt.log.message(1, "   Gruppe '%s' email rettet fra %s til %s\n", name.c_str(), before.c_str(),
                   address.c_str());
  } else {
    rt.log.message(1, "   Gruppe '%s' email sat til %s\n", name.c_str(), address.c_str());
  }
}

}  // namespace tv
