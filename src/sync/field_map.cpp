// The per-population field map: which record field or expression each
// mapped directory attribute gets, and the write of every entry.
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {
namespace {

// Formatted values have room for 99 characters.
constexpr std::size_t kValueChars = 99;

std::optional<std::string> exactField(const Runtime& rt, const FileUser& u, std::string_view n) {
  const bool staff = rt.trim.staff;
  if (staff) {
    if (n == "Stillingsbetegnelse" || n == "ekstern_stillingsbetegnelse") return u.jobTitle;
    if (n == "meda_id") return u.personNumber;
    if (n == "ansvarsomrade") return u.responsibilityArea;
    if (n == "afdelingskode") return u.departmentCode;
    if (n == "afdelingsnavn") return u.departmentName;
    if (n == "afdelingsgade") return u.street;
    if (n == "afdelingsstednavn") return u.placeName;
    if (n == "afdelingspostdistrikt") return u.postalDistrict;
    if (n == "afdelingspostnr") return u.postalNumber;
    if (n == "anfo_beskrivelse") return u.staffDescription;
    // Pupil fields a staff record never has: always empty, so they clear.
    if (n == "ElevAfdKortBet" || n == "UddaKortBet") return std::string();
  } else {
    if (n == "pers_id") return u.personNumber;
    if (n == "elevgade") return u.street;
    if (n == "elevstednavn") return u.placeName;
    if (n == "elevpostdistrikt") return u.postalDistrict;
    if (n == "elevpostnr") return u.postalNumber;
    if (n == "UDDA_BETEGNELSE") return "Elev på " + u.educationShortName;
  }
  if (n == "Skolenavn") return rt.job.schoolName;
  if (n == "fornavn") return u.firstName;
  if (n == "efternavn") return u.lastName;
  if (n == "tlf_ZEB") return u.telephone;
  if (n == "ATStr_KLOV") return u.klovAt;
  if (n == "MAStr_KLOV") return u.klovMa;
  if (n == "MTStr_KLOV") return staff ? u.klovMt : std::string();
  if (n == "EMAIL") return u.email;
  if (n == "FODSELSDAG") return u.birthdayText;
  if (n == "Fodselsdato") return u.birthDate;
  if (n == "NAVN") return u.firstName + " " + u.lastName;
  if (n == "NAVN_INIT") return u.firstName + " " + u.lastName + " (" + u.login + ")";
  if (n == "ID_NAVN") return u.personNumber + " " + u.firstName + " " + u.lastName;
  if (n == "CLEAR") return std::string();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> fieldMapValue(Runtime& rt, const FileUser& user,
                                         std::string_view fieldName, std::string* note) {
  const bool staff = rt.trim.staff;
  const auto say = [&](const std::string& line) {
    if (note != nullptr) {
      *note = line;
    } else {
      rt.log.message(1, "%s", line.c_str());
    }
  };
  if (fieldName == "initialer") {
    if (charCount(user.login) <= 8) return user.login;
    say(staff ? "**    Kan ikke sætte initialer, Login > 9\n"
              : "**    Kan ikke sætte initialer, Login > 8\n");
    return std::nullopt;
  }
  if (auto v = exactField(rt, user, fieldName)) return cutChars(*v, kValueChars);
  if (fieldName.starts_with('*')) return cutChars(fieldName, kValueChars);
  if (fieldName.find('@') != std::string_view::npos) {
    return cutChars(user.login + std::string(fieldName), kValueChars);
  }
  if (staff && fieldName.find("SMTPmail") != std::string_view::npos) {
    // No value is defined for this name; writing whatever came before would
    // put another attribute's value into it.
    say(format("      ** Info: Feltet '%s' giver ingen værdi og springes over.\n",
               std::string(fieldName).c_str()));
    return std::nullopt;
  }
  if (staff && fieldName.find("U_MEDA") != std::string_view::npos) {
    return cutChars("U" + user.personNumber, kValueChars);
  }
  if (!staff && fieldName.find("E_PERS") != std::string_view::npos) {
    return cutChars("E" + user.personNumber, kValueChars);
  }
  return std::nullopt;
}

void OpdaterFelter(Runtime& rt, DirObject& object, const FileUser& user) {
  // The changed fields go to the directory in one commit; see AttributeWriter.
  AttributeWriter writer(rt, user.login, object);
  writer.set(rt.settings.ZEBMarkering, user.description);
  const auto& map = rt.trim.staff ? rt.settings.MedarbejderFelter : rt.settings.ElevFelter;
  for (const AttributeMapEntry& entry : map) {
    std::string note;
    auto value = fieldMapValue(rt, user, entry.field, &note);
    if (!note.empty()) {
      // The entry's own line keeps its place after the lines of the fields before it.
      writer.flush();
      rt.log.message(1, "%s", note.c_str());
    }
    if (value) writer.set(entry.attribute, *value);
  }
  writer.flush();
}

}  // namespace tv
