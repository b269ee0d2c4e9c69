#include "users/user_queries.h"

#include "directory/escape.h"
#include "directory/sid.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr int kPageSize = 20;

bool isText(const DirAttribute& a) {
  return a.type == AdsType::kCaseIgnoreString;
}

std::string firstValue(const DirAttribute& a) {
  return a.values.empty() ? "" : a.values[0];
}

// The person number a pupil's WritePersId attribute carries: the text after
// "PERS_ID=" or "MEDA_ID=", or the whole value.
std::string personNumberOf(const std::string& value) {
  for (const char* tag : {"PERS_ID=", "MEDA_ID="}) {
    auto pos = value.find(tag);
    if (pos != std::string::npos && value.size() > 8) return value.substr(8);
  }
  return value;
}

// What the update reads of every matched account, besides the list's own
// columns: the flags, the marking, the paths, the mail attributes and the
// attributes of the population's field map.
void addUpdateColumns(const Runtime& rt, std::vector<std::string>& attrs) {
  const Settings& s = rt.settings;
  std::vector<std::string> more = {"userAccountControl", s.ZEBMarkering, "description",
                                   "homeDirectory",      "homeDrive",    "profilePath",
                                   "userParameters",     "mail",         "homeMDB"};
  for (const AttributeMapEntry& e : rt.trim.staff ? s.MedarbejderFelter : s.ElevFelter) {
    more.emplace_back(storedAttributeName(e.attribute));
  }
  for (std::string& a : more) {
    bool known = std::any_of(attrs.begin(), attrs.end(),
                             [&](const std::string& have) { return equalsIgnoreCase(have, a); });
    if (!known && !a.empty()) attrs.push_back(std::move(a));
  }
}

// The relative identifier a domain SID ends in ("S-1-5-21-a-b-c-500" gives
// 500), or nothing for bytes that are no domain account's SID.
std::optional<std::uint32_t> domainRid(std::string_view sidBytes) {
  auto text = sidToString(sidBytes);
  if (!text || !text->starts_with("S-1-5-21-")) return std::nullopt;
  const std::string rid = text->substr(text->rfind('-') + 1);
  return static_cast<std::uint32_t>(std::stoul(rid));
}

std::string protectionOf(const std::vector<std::string>* critical,
                         const std::vector<std::string>* adminCount,
                         const std::vector<std::string>* sid,
                         const std::vector<std::string>* accountName) {
  constexpr std::uint32_t kAdministratorRid = 500;
  constexpr std::uint32_t kKrbtgtRid = 502;
  const auto first = [](const std::vector<std::string>* v) {
    return v != nullptr && !v->empty() ? v->front() : std::string();
  };
  const std::optional<std::uint32_t> rid = domainRid(first(sid));
  if (rid == kAdministratorRid) return "domænets indbyggede administrator";
  if (rid == kKrbtgtRid || equalsIgnoreCase(first(accountName), "krbtgt")) return "krbtgt";
  if (equalsIgnoreCase(first(critical), "TRUE")) return "isCriticalSystemObject";
  const std::string count = first(adminCount);
  if (!count.empty() && count != "0") return "adminCount=" + count;
  return "";
}

}  // namespace

const std::vector<std::string>& protectionColumns() {
  static const std::vector<std::string> kColumns = {"isCriticalSystemObject", "adminCount",
                                                    "objectSid"};
  return kColumns;
}

std::string accountProtection(const SearchRow& row) {
  const auto values = [&row](std::string_view name) -> const std::vector<std::string>* {
    const DirAttribute* a = row.find(name);
    return a != nullptr ? &a->values : nullptr;
  };
  return protectionOf(values("isCriticalSystemObject"), values("adminCount"), values("objectSid"),
                      values("sAMAccountName"));
}

std::string accountProtection(DirObject& object) {
  std::vector<std::vector<std::string>> read;
  for (const char* name : {"isCriticalSystemObject", "adminCount", "objectSid", "sAMAccountName"}) {
    auto v = object.getAll(name);
    read.push_back(v.ok() ? std::move(v.value) : std::vector<std::string>{});
  }
  return protectionOf(&read[0], &read[1], &read[2], &read[3]);
}

void refuseProtected(Runtime& rt, const char* operation, std::string_view login,
                     std::string_view accountPath, std::string_view reason) {
  rt.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                 "** Fejl: %s(%s): %s er beskyttet i domænet (%s) og ændres ikke.\n", operation,
                 std::string(login).c_str(), dnFromPath(accountPath).c_str(),
                 std::string(reason).c_str());
}

std::string_view storedAttributeName(std::string_view attr) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"FirstName", "givenName"},    {"LastName", "sn"},
      {"TelephoneMobile", "mobile"}, {"TelephoneHome", "homePhone"},
      {"TelephonePager", "pager"},   {"EmailAddress", "mail"},
      {"FullName", "displayName"},   {"OfficeLocations", "physicalDeliveryOfficeName"},
      {"Profile", "profilePath"},    {"LoginScript", "scriptPath"},
  };
  // Every property name in the table is ASCII, so folding A-Z alone decides,
  // and a name of another length is passed over before any byte is looked at.
  for (const auto& [from, to] : kNames) {
    if (asciiEqualsIgnoreCase(attr, from)) return to;
  }
  return attr;
}

UserListResult GetADBrugerListe(Runtime& rt, std::string_view containerPath, bool includeDisabled,
                                const ExceptionList& exceptions) {
  UserListResult result;
  Directory* dir = rt.ports.directory;
  std::string path(containerPath);
  if (dir == nullptr) {
    rt.log.message(1, "** Fejl: GetADBrugerListe() - ADsGetObject(%s)\n", path.c_str());
    return result;
  }
  const std::string filter = includeDisabled ? "(&(objectCategory=person)(objectClass=user)(cn=*))"
                                             : "(&(objectCategory=person)(objectClass=user)(cn=*)"
                                               "(!(userAccountControl:1.2.840.113556.1.4.803:=2)))";
  const Settings& s = rt.settings;
  std::vector<std::string> attrs = {"name",        "sAMAccountName",       "ADsPath",
                                    "whenChanged", s.BrugerIdentifikation, s.WritePersId};
  addUpdateColumns(rt, attrs);
  for (const std::string& c : protectionColumns()) attrs.push_back(c);
  const bool pupils = !rt.trim.staff;

  Hresult hr =
      dir->search(path, filter, attrs, SearchScope::kSubtree, kPageSize, [&](const SearchRow& row) {
        // The columns in the order they are asked for, so an excepted
        // account is dropped before its identification is looked at.
        DirUser u;
        if (const DirAttribute* col = row.find("name")) {
          u.name = cutChars(firstValue(*col), 24);
          if (std::find(exceptions.begin(), exceptions.end(), u.name) != exceptions.end()) {
            return true;  // excepted: the row is dropped
          }
        }
        if (const DirAttribute* col = row.find("sAMAccountName")) {
          u.accountName = cutChars(firstValue(*col), 25);
        }
        if (const DirAttribute* col = row.find("ADsPath"); col != nullptr && isText(*col)) {
          u.path = cutChars(firstValue(*col), 259);
        }
        const DirAttribute* persId = pupils ? row.find(s.WritePersId) : nullptr;
        if (persId != nullptr) u.personNumber = cutChars(personNumberOf(firstValue(*persId)), 29);
        const DirAttribute* idColumn = row.find(s.BrugerIdentifikation);
        if (idColumn != nullptr && idColumn != persId && isText(*idColumn)) {
          std::string id = firstValue(*idColumn);
          std::size_t len = charCount(id);
          if (!id.empty() && len != 32) {
            rt.log.message(1, " FEJL I BRUGERIDENTIFIKATIONSFELTET PÅ AD '%s', '%s', %d :\n",
                           u.accountName.c_str(), id.c_str(), static_cast<int>(len));
            rt.log.message(
                1, " Skift 'BrugerIdentifikation' i ini-filen til et tomt/brug_uuid felt.\n");
            result.fatal = true;
            return false;
          }
          u.identification = id;
        }
        u.protection = accountProtection(row);
        u.row = std::make_shared<const SearchRow>(row);
        result.users.push_back(std::move(u));
        return true;
      });
  if (result.fatal) {
    rt.fatalExit(25);
    result.users.clear();
    return result;
  }
  if (hr < 0) {
    if (hr == kNoSuchObject || hr == kEAdsBadPathname) {
      rt.log.reportHresult(hr, "** Fejl: GetADBrugerListe() - ADsGetObject(%s)\n", path.c_str());
    } else {
      rt.log.reportHresult(hr, "** Fejl:");
    }
    result.users.clear();
  }
  return result;
}

namespace {

// The columns every single-user search asks for.
std::vector<std::string> findColumns() {
  std::vector<std::string> attrs = {"ADsPath", "sAMAccountName"};
  for (const std::string& c : protectionColumns()) attrs.push_back(c);
  return attrs;
}

// The row of the user the filter finds below containerDn (the last row when
// several match); E_FAIL when there is none.
DirResult<SearchRow> findLastRow(Runtime& rt, std::string_view containerDn,
                                 const std::string& filter) {
  DirResult<SearchRow> out;
  Directory* dir = rt.ports.directory;
  std::string path = "LDAP://" + std::string(containerDn);
  if (dir == nullptr) {
    rt.log.message(1, "** Fejl: Sogning() - ADsGetObject(%s)\n", path.c_str());
    out.hr = kEFail;
    return out;
  }
  std::optional<SearchRow> last;
  Hresult hr = dir->search(path, filter, findColumns(), SearchScope::kSubtree, kPageSize,
                           [&](const SearchRow& row) {
                             const DirAttribute* sam = row.find("sAMAccountName");
                             const DirAttribute* ads = row.find("ADsPath");
                             if (sam != nullptr && ads != nullptr && isText(*sam) && isText(*ads)) {
                               last = row;
                             }
                             return true;
                           });
  if (hr == kNoSuchObject || hr == kEAdsBadPathname) {
    rt.log.reportHresult(hr, "** Fejl: Sogning() - ADsGetObject(%s)\n", path.c_str());
    out.hr = hr;
    return out;
  }
  if (!last) {
    out.hr = kEFail;
    return out;
  }
  out.hr = kSOk;
  out.value = std::move(*last);
  return out;
}

DirResult<FoundUser> findOne(Runtime& rt, std::string_view containerDn, const std::string& filter) {
  DirResult<FoundUser> out;
  DirResult<SearchRow> found = findLastRow(rt, containerDn, filter);
  if (!found.ok()) {
    out.hr = found.hr;
    return out;
  }
  auto bound = rt.ports.directory->bind(found.value.first("ADsPath"));
  if (!bound.ok()) {
    out.hr = kEFail;
    return out;
  }
  FoundUser user;
  user.object = std::move(bound.value);
  if (auto g = user.object->get("givenName"); g.ok()) user.firstName = g.value;
  if (auto sn = user.object->get("sn"); sn.ok()) user.lastName = sn.value;
  if (auto d = user.object->accountDisabled(); d.ok()) user.disabled = d.value;
  user.protection = accountProtection(found.value);
  out.hr = kSOk;
  out.value = std::move(user);
  return out;
}

std::string loginFilter(std::string_view login) {
  std::string v = escapeFilterValue(login);
  return "(&(objectCategory=person)(objectClass=user)(|(cn=" + v + ")(sAMAccountName=" + v + ")))";
}

}  // namespace

DirResult<FoundUser> findUserByIdentification(Runtime& rt, std::string_view containerDn,
                                              std::string_view identification) {
  std::string filter = "(&(objectCategory=person)(objectClass=user)(" +
                       escapeFilterValue(rt.settings.BrugerIdentifikation) + "=" +
                       escapeFilterValue(identification) + "))";
  return findOne(rt, containerDn, filter);
}

DirResult<FoundUser> findUserByLogin(Runtime& rt, std::string_view containerDn,
                                     std::string_view login) {
  return findOne(rt, containerDn, loginFilter(login));
}

DirResult<std::string> findUserPathByLogin(Runtime& rt, std::string_view containerDn,
                                           std::string_view login, std::string* protection) {
  DirResult<SearchRow> found = findLastRow(rt, containerDn, loginFilter(login));
  DirResult<std::string> out{found.hr, {}};
  if (!found.ok()) return out;
  out.value = found.value.first("ADsPath");
  if (protection != nullptr) *protection = accountProtection(found.value);
  return out;
}

Hresult createOrganizationalUnit(Runtime& rt, std::string_view rdn, std::string_view parentPath) {
  std::string r(rdn), parent(parentPath);
  rt.log.message(1, "   OU %s oprettes i %s.\n", r.c_str(), parent.c_str());
  Directory* dir = rt.ports.directory;
  if (dir == nullptr) {
    rt.log.reportHresult(kEFail, "** Fejl: OpretOU() - ADsGetObject(%s)\n", parent.c_str());
    return kEFail;
  }
  auto container = dir->bind(parent);
  if (!container.ok()) {
    rt.log.reportHresult(container.hr, "** Fejl: OpretOU() - ADsGetObject(%s)\n", parent.c_str());
    return container.hr;
  }
  auto child = container.value->create("organizationalUnit", r);
  Hresult hr = child.hr;
  if (child.ok()) hr = child.value->setInfo();
  if (hr < 0) rt.log.reportHresult(hr, "** Fejl: OpretOU() - OU ikke oprettet.\n");
  return hr;
}

Hresult ensureOrganizationalUnit(Runtime& rt, std::string_view ldapPath) {
  constexpr std::string_view kPrefix = "LDAP://";
  std::string_view rest =
      ldapPath.starts_with(kPrefix) ? ldapPath.substr(kPrefix.size()) : ldapPath;
  // The first unescaped comma separates the new unit's name from its parent.
  std::size_t comma = std::string_view::npos;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\\') {
      ++i;
    } else if (rest[i] == ',') {
      comma = i;
      break;
    }
  }
  if (comma == std::string_view::npos) return kSFalse;
  return createOrganizationalUnit(rt, rest.substr(0, comma),
                                  "LDAP://" + std::string(rest.substr(comma + 1)));
}

}  // namespace tv
