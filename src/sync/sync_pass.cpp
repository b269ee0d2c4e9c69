#include "sync/sync_pass.h"

#include <algorithm>
#include <cstdlib>

#include "directory/escape.h"
#include "sync/deactivation_brake.h"
#include "sync/operation_support.h"
#include "sync/user_operations.h"
#include "users/user_queries.h"

namespace tv {
namespace {

const std::string& idOf(const DirUser& u) {
  return u.identification;
}
const std::string& fileIdOf(const FileUser& u) {
  return u.identification;
}
const std::string& loginOf(const FileUser& u) {
  return u.login;
}

int compareIds(const std::string& a, const std::string& b) {
  return indexKey(a, kIdentificationKeyChars).compare(indexKey(b, kIdentificationKeyChars));
}

// Test mode's plan of a deactivation: an account already disabled in the
// inactive container is one a live run leaves as it is.
void planDeactivation(Runtime& rt, const DirUser& d) {
  if (listedDisabled(d) && contains(d.path, rt.trim.inactivePath)) return;
  rt.recordChange(ChangeAction::kDeactivate, d.accountName, {}, {}, {}, ChangeResult::test());
}

// Test mode's plan of an update: the re-enabling and the login rename that a
// live update starts with, then the update itself.
void planUpdate(Runtime& rt, const DirUser& d, const FileUser& f) {
  if (listedDisabled(d)) {
    rt.recordChange(ChangeAction::kEnable, d.accountName, {}, {}, {}, ChangeResult::test());
  }
  if (f.login != d.accountName) {
    rt.recordChange(ChangeAction::kRename, d.accountName, "sAMAccountName", d.accountName, f.login,
                    ChangeResult::test());
  }
  rt.recordChange(ChangeAction::kUpdate, d.accountName, {}, {}, {}, ChangeResult::test());
}

struct Pass {
  Runtime& rt;
  std::vector<DirUser>& dir;
  std::vector<FileUser>& file;
  Index fileByLogin;
  // Directory users that adopted an identification in memory, to be written
  // once the adopted identifications have passed the duplicate check.
  std::vector<std::uint32_t> adopted;

  // A directory user with no file user of its identification: pair it with a
  // file user by login and adopt that user's identification, in memory only.
  void fixUp(std::uint32_t position) {
    DirUser& d = dir[position];
    Log& log = rt.log;
    const Settings& s = rt.settings;
    const bool staff = rt.trim.staff;
    std::string login = d.accountName;
    if (!staff) {
      auto pos = login.find("_inaktiv");
      if (pos != std::string::npos) login.resize(pos);
    }
    auto hit = findInIndex(file, fileByLogin, loginOf, kLoginKeyChars, login);
    if (!staff) {
      int personNumber = std::atoi(d.personNumber.c_str());
      if (hit) {
        log.message(1, "FilBruger ikke fundet fra pers_id: %d. Fandt AccountName '%s'\n",
                    personNumber, d.accountName.c_str());
      } else if (s.LogLevel >= 1) {
        log.message(1, "FilBruger ikke fundet fra pers_id: %d, eller AccountName '%s'\n",
                    personNumber, d.accountName.c_str());
      }
    }
    if (!hit) return;
    FileUser& f = file[*hit];
    if (!d.identification.empty() || f.identification.empty()) {
      log.message(1, "Ikke godkendt: \nAd - '%s' - '%s', \nFil - '%s' - '%s'.\n",
                  d.identification.c_str(), d.name.c_str(), f.identification.c_str(),
                  f.login.c_str());
      return;
    }
    d.identification = f.identification;
    if (!s.BrugUuidDrift) {
      log.message(1,
                  "Brug_uuid mangler! Tilstand forhindrer at sætte brug_uuid for: %s, %s %s, "
                  "BrugerID: %s\n",
                  f.login.c_str(), f.firstName.c_str(), f.lastName.c_str(),
                  f.identification.c_str());
      return;
    }
    adopted.push_back(position);
  }

  // Writes the adopted identifications. This is what BrugUuidDrift is for:
  // it stamps identifications onto existing accounts in a test run too, so a
  // school can go live with every account already paired; nothing else of
  // the account changes.
  void writeAdopted() {
    const Settings& s = rt.settings;
    for (std::uint32_t position : adopted) {
      const DirUser& d = dir[position];
      // The account the list found, not another one the login names elsewhere.
      auto object = d.row ? rt.ports.directory->bindRow(*d.row) : rt.ports.directory->bind(d.path);
      if (!object.ok()) continue;
      if (rt.trim.staff) rt.log.message(1, "   Retter BrugUuid for %s \n", d.accountName.c_str());
      if (!d.protection.empty()) {
        refuseProtected(rt, "SaetAttribut", d.accountName, d.path, d.protection);
        continue;
      }
      SaetAttribut(rt, d.accountName, *object.value, s.BrugerIdentifikation, d.identification);
    }
  }

  // Each pair of directory users that share an identification (adopted ones
  // included), ties in DN order so the same directory always gives the same
  // lines. True when there was any.
  bool duplicates() {
    std::vector<std::uint32_t> order;
    std::vector<std::string> dns(dir.size());
    for (std::uint32_t i = 0; i < dir.size(); ++i) {
      if (dir[i].identification.empty()) continue;
      order.push_back(i);
      dns[i] = normalizeDn(dnFromPath(dir[i].path));
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      const int c = compareIds(dir[a].identification, dir[b].identification);
      return c != 0 ? c < 0 : dns[a] < dns[b];
    });
    bool found = false;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      const DirUser& a = dir[order[i]];
      const DirUser& b = dir[order[i + 1]];
      if (compareIds(a.identification, b.identification) != 0) continue;
      rt.log.message(1, "FEJL - Samme Bruguuid er registreret to steder. (%s og (%s)\n",
                     a.accountName.c_str(), b.accountName.c_str());
      found = true;
    }
    return found;
  }
};

}  // namespace

SectionEnd synchronisationPass(Runtime& rt, JobReader& reader, JobLine& line) {
  PassCounts counts;
  return synchronisationPass(rt, reader, line, counts);
}

SectionEnd synchronisationPass(Runtime& rt, JobReader& reader, JobLine& line, PassCounts& counts) {
  Log& log = rt.log;
  const Settings& s = rt.settings;
  log.message(1, " Synkroniserer '%s':\n", rt.trim.label.c_str());
  const ExceptionList exceptions = exceptionListFor(s, rt.trim.staff);

  UserListResult listed = GetADBrugerListe(rt, rt.trim.ldapPath, true, exceptions);
  if (listed.fatal) return SectionEnd::kFatal;
  std::vector<DirUser>& dir = listed.users;
  Index dirById = buildIndex(dir, idOf, kIdentificationKeyChars);

  std::vector<FileUser> file;
  SectionEnd end = buildFileUserList(rt, reader, line, file, exceptions);
  if (end == SectionEnd::kFatal) return end;
  if (end == SectionEnd::kNoMemory) {
    // An incomplete list would deactivate everyone it lost.
    log.message(1, "** Fejl: Synkronisering af '%s' afbrudt: brugerlisten er ufuldstændig.\n",
                rt.trim.label.c_str());
    return end;
  }
  Pass pass{rt, dir, file, buildIndex(file, loginOf, kLoginKeyChars), {}};
  Index fileById = buildIndex(file, fileIdOf, kIdentificationKeyChars);

  // Fix-up walk: directory users whose identification the file lacks are
  // paired by login in memory.
  {
    std::size_t i = 0, j = 0;
    while (i < dirById.size()) {
      if (j >= fileById.size()) {
        pass.fixUp(dirById[i++]);
        continue;
      }
      int c = compareIds(file[fileById[j]].identification, dir[dirById[i]].identification);
      if (c > 0) {
        pass.fixUp(dirById[i++]);
      } else if (c == 0) {
        ++i;
        ++j;
      } else {
        ++j;
      }
    }
  }

  // Two accounts of one person end the job before anything is written: an
  // identification stamped on both would make every later job end the same
  // way.
  if (s.BrugUuidDrift) {
    if (pass.duplicates()) {
      rt.fatalExit(20);
      return SectionEnd::kFatal;
    }
    pass.writeAdopted();
  }

  dirById = buildIndex(dir, idOf, kIdentificationKeyChars);
  std::vector<std::uint32_t> toDeactivate, toCreate;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> toUpdate;
  {
    std::size_t i = 0, j = 0;
    while (i < dirById.size() || j < fileById.size()) {
      int c;
      if (i >= dirById.size()) {
        c = 1;
      } else if (j >= fileById.size()) {
        c = -1;
      } else {
        c = compareIds(dir[dirById[i]].identification, file[fileById[j]].identification);
      }
      if (c < 0) {
        toDeactivate.push_back(dirById[i++]);
      } else if (c == 0) {
        toUpdate.emplace_back(dirById[i++], fileById[j++]);
      } else {
        toCreate.push_back(fileById[j++]);
      }
    }
  }

  log.message(1, "   Start NedlægBrugere\n");
  if (brakeDeactivations(rt, dir, toDeactivate)) toDeactivate.clear();
  for (auto d : toDeactivate) {
    if (s.IDrift) {
      NedlaegBruger(rt, dir[d]);
    } else {
      log.message(1, "   IDrift = 0: Test af Nedlæg bruger %s \n", dir[d].accountName.c_str());
      planDeactivation(rt, dir[d]);
    }
  }
  log.message(1, "   Start OpretBrugere\n");
  for (auto f : toCreate) {
    if (s.IDrift) {
      if (TjekEksisterendeBruger(rt, file[f]) == 0) OpretBruger(rt, file[f]);
    } else {
      log.message(1, "   IDrift = 0: Test af Opret/Ret bruger %s \n", file[f].login.c_str());
      rt.recordChange(ChangeAction::kCreate, file[f].login, {}, {}, {}, ChangeResult::test());
    }
  }
  log.message(1, "   Start OpdaterBrugere\n");
  for (auto [d, f] : toUpdate) {
    if (s.IDrift) {
      OpdaterBruger(rt, dir[d], file[f]);
    } else {
      log.message(1, "   IDrift = 0: Test af Opdater bruger %s \n", dir[d].accountName.c_str());
      planUpdate(rt, dir[d], file[f]);
    }
  }
  counts = {toDeactivate.size(), toCreate.size(), toUpdate.size()};
  if (s.LogLevel >= 1) {
    log.message(1, "- %d brugere gjort inaktiv.\n- %d brugere oprettet.\n- %d brugere opdateret.\n",
                static_cast<int>(counts.deactivated), static_cast<int>(counts.created),
                static_cast<int>(counts.updated));
  }
  return end;
}

SectionEnd BrugerOprettelse(Runtime& rt, JobReader& reader, JobLine& line) {
  std::vector<FileUser> file;
  SectionEnd end = buildFileUserList(rt, reader, line, file, {}, 100);
  if (end == SectionEnd::kFatal) return end;
  if (end == SectionEnd::kNoMemory) {
    rt.log.message(1, "** Fejl: BrugerOprettelse() memory allokeringsfejl: '%s'\n",
                   rt.log.systemText(systemError(std::errc::not_enough_memory)).c_str());
  }
  rt.log.message(1, "   Start BrugerOprettelse\n");
  const ExceptionList exceptions = exceptionListFor(rt.settings, rt.trim.staff);
  for (FileUser& f : file) {
    if (std::find(exceptions.begin(), exceptions.end(), f.login) != exceptions.end()) {
      rt.log.message(1, "   Bruger undtaget - %s \n", f.login.c_str());
    } else if (!rt.settings.IDrift) {
      rt.log.message(1, "   IDrift = 0: Test af BrugerOprettelse %s \n", f.login.c_str());
      rt.recordChange(ChangeAction::kCreate, f.login, {}, {}, {}, ChangeResult::test());
    } else if (TjekEksisterendeBruger(rt, f) == 0) {
      OpretBruger(rt, f);
    }
  }
  return end;
}

SectionEnd BrugerNedleggelse(Runtime& rt, JobReader& reader, JobLine& line) {
  std::vector<FileUser> file;
  SectionEnd end = buildFileUserList(rt, reader, line, file, {}, 100);
  if (end == SectionEnd::kFatal) return end;
  if (end == SectionEnd::kNoMemory) {
    rt.log.message(1, "** Fejl: BrugerNedleggelse() memory allokeringsfejl: '%s'\n",
                   rt.log.systemText(systemError(std::errc::not_enough_memory)).c_str());
  }
  rt.log.message(1, "   Start BrugerNedleggelse\n");
  const ExceptionList exceptions = exceptionListFor(rt.settings, rt.trim.staff);
  for (FileUser& f : file) {
    if (std::find(exceptions.begin(), exceptions.end(), f.login) != exceptions.end()) {
      rt.log.message(1, "   Bruger undtaget - %s \n", f.login.c_str());
    } else if (!rt.settings.IDrift) {
      rt.log.message(1, "   IDrift = 0: Test af BrugerNedleggelse %s \n", f.login.c_str());
      rt.recordChange(ChangeAction::kDeactivate, f.login, {}, {}, {}, ChangeResult::test());
    } else {
      auto found = findUserByIdentification(rt, rt.trim.defaultNamingContext, f.identification);
      if (found.ok()) {
        DirUser d;
        d.accountName = f.login;
        d.name = f.login;
        d.path = found.value.object->adsPath();
        NedlaegBruger(rt, d);
      } else {
        rt.log.message(1, "   Kunne ikke finde brugeren %s på AD \n", f.login.c_str());
        rt.recordChange(ChangeAction::kDeactivate, f.login, {}, {}, {},
                        ChangeResult::refused("brugeren findes ikke"));
      }
    }
  }
  return end;
}

}  // namespace tv
