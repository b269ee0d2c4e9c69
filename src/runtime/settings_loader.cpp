#include "runtime/settings_loader.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/attribute_fields.h"
#include "config/ini_file.h"
#include "config/setting_values.h"
#include "config/version.h"
#include "ports/clock.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "text/text.h"

namespace tv {
namespace {

// Every value is first read as the Windows reader would into a 500-byte
// buffer; the typed value is then cut to its own capacity.
constexpr std::size_t kReadChars = 499;
constexpr std::size_t kLongListChars = 15999;  // the 16000-byte lists
// A capacity of N holds N - 1 characters: the sizes count the terminator of
// the buffers the settings were first read into.
constexpr std::size_t kCap50 = 49;
constexpr std::size_t kCap100 = 99;
constexpr std::size_t kCap260 = 259;
constexpr std::size_t kFieldChars = 64;
constexpr std::size_t kDriveChars = 2;
// One log message holds at most this many bytes.
constexpr std::size_t kMessageBytes = 15999;

constexpr const char* kMain = "Tavlevagt";
constexpr const char* kAd = "ADsettings";
constexpr const char* kRunScript = "RunScript";
constexpr const char* kFileShare = "FileShare";
constexpr const char* kGruppeShare = "GruppeShare";
constexpr const char* kProfile = "Profile";
constexpr const char* kMail = "Mail";
constexpr const char* kUndtagelser = "Undtagelser";
constexpr const char* kBrovalt = "Brovalt";
constexpr const char* kLdap = "LDAP";

class Loader {
 public:
  Loader(Runtime& rt, const IniFile& ini) : rt_(rt), s_(rt.settings), ini_(ini) {}

  int run(const std::string& iniPath, bool unreadable);

 private:
  // The value as read, cut to the reader's 500-byte buffer.
  std::string read(const char* section, std::string_view key, const char* fallback,
                   std::size_t maxChars = kReadChars) const {
    return ini_.get(section, key, fallback, maxChars);
  }
  void line(const char* section, std::string_view key, const std::string& value) {
    report_ += section;
    report_ += '-';
    report_ += key;
    report_ += ": ";
    report_ += value;
    report_ += '\n';
  }
  bool yesNo(const char* section, const char* key, const char* fallback) {
    std::string v = read(section, key, fallback);
    line(section, key, v);
    return parseYesNo(v);
  }
  int integer(const char* section, const char* key, const char* fallback) {
    std::string v = read(section, key, fallback);
    line(section, key, v);
    return parseInteger(v);
  }
  // A number of days for the housekeeping: 0 (the default) switches its step
  // off; a negative age would put the limit in the future and take every
  // file, so it is refused and the step stays off.
  int age(const char* section, const char* key) {
    const int days = integer(section, key, "0");
    if (days >= 0) return days;
    report_ += format("** Fejl: %s-%s må ikke være negativ; 0 (slået fra) bruges\n", section, key);
    return 0;
  }
  std::uint32_t hexMask(const char* section, const char* key) {
    std::string v = read(section, key, "0");
    line(section, key, v);
    return parseHexMask(v);
  }
  int shareMode(const char* section, const char* key) {
    std::string v = read(section, key, "Nej");
    line(section, key, v);
    return parseShareMode(v);
  }
  std::string text(const char* section, std::string_view key, const char* fallback,
                   std::size_t maxChars) {
    std::string v = read(section, key, fallback);
    if (!v.empty()) line(section, key, v);
    return cutChars(v, maxChars);
  }
  // Narrow lists that the report leaves out (group lists, attribute lists).
  std::string quiet(const char* section, const char* key, std::size_t maxChars) const {
    return read(section, key, "", maxChars);
  }

  void flush();
  void readMain();
  std::vector<AttributeMapEntry> readMap(const char* section,
                                         std::span<const std::string_view> attributes,
                                         std::span<const std::string_view> fields);
  void readAdSettings();
  void readRunScripts();
  void readFileShare();
  void readGruppeShare();
  void readProfile();
  void readMail();
  void readUndtagelser();
  void readBrovalt();
  void readAddedKeys();
  void readLdap();
  std::string drive(const char* key);

  Runtime& rt_;
  Settings& s_;
  const IniFile& ini_;
  std::string report_;
  int result_ = 0;
};

// The report goes out verbatim, so a "%" in a value is printed as it is. A
// report longer than one log message is sent in several, split at line ends,
// so no value is lost however long the lists are.
void Loader::flush() {
  std::string_view rest = report_;
  while (!rest.empty()) {
    std::size_t take = rest.size();
    if (take > kMessageBytes) {
      std::size_t nl = rest.rfind('\n', kMessageBytes - 1);
      if (nl != std::string_view::npos) {
        take = nl + 1;
      } else {
        // One line longer than a message: cut it on a character boundary.
        take = kMessageBytes;
        while (take > 0 && (static_cast<unsigned char>(rest[take]) & 0xC0) == 0x80) --take;
        if (take == 0) take = kMessageBytes;
      }
    }
    rt_.log.message(11, "%s", std::string(rest.substr(0, take)).c_str());
    rest.remove_prefix(take);
  }
  report_.clear();
}

void Loader::readMain() {
  s_.BrugerIdentifikation = text(kMain, "BrugerIdentifikation", "-", kCap50);
  s_.BrugUuidDrift = yesNo(kMain, "BrugUuidDrift", "Nej");
  s_.GrupperIDrift = yesNo(kMain, "GrupperIDrift", "Ja");
  s_.IDrift = yesNo(kMain, "IDrift", "Nej");
  if (s_.IDrift) s_.BrugUuidDrift = true;
  s_.WritePersId = text(kMain, "WritePersId", "-", kCap50);
  s_.LogLevel = integer(kMain, "LogLevel", "0");
  rt_.log.setFlushEachWrite(s_.LogLevel > 0);
  s_.ZEBMarkering = text(kMain, "ZEBMarkering", "description", kCap260);
  s_.ZEBGruppeMarkering = text(kMain, "ZEBGruppeMarkering", "description", kCap260);
  s_.CheckZEBMarkering = yesNo(kMain, "CheckZEBMarkering", "Ja");
  s_.MedaSlet = yesNo(kMain, "MedaSlet", "Nej");
  s_.MedaArkivEkstraDage = integer(kMain, "MedaArkivEkstraDage", "500");
  s_.PersSlet = yesNo(kMain, "PersSlet", "Nej");
  s_.PersArkivEkstraDage = integer(kMain, "PersArkivEkstraDage", "500");
  s_.RenameInaktiv = yesNo(kMain, "RenameInaktiv", "Ja");
}

std::vector<AttributeMapEntry> Loader::readMap(const char* section,
                                               std::span<const std::string_view> attributes,
                                               std::span<const std::string_view> fields) {
  std::vector<AttributeMapEntry> map;
  for (std::string_view attribute : attributes) {
    std::string value = text(section, attribute, "", kFieldChars);
    if (attribute == s_.BrugerIdentifikation) {
      if (!value.empty()) {
        report_ += "**Bemærk: ";
        report_ += attribute;
        report_ += " er ikke tilgængelig da den er brugt til BrugerIdentifikation\n";
      }
      continue;
    }
    if (value.empty()) continue;
    const bool expression = value.find('@') != std::string::npos || value.front() == '*';
    if (expression || std::find(fields.begin(), fields.end(), value) != fields.end()) {
      map.push_back({cutChars(attribute, kCap260), value});
      continue;
    }
    report_ += "**Fejl: ";
    report_ += value;
    report_ += " er ikke et gyldig indhold\n";
  }
  return map;
}

void Loader::readAdSettings() {
  s_.SkipMeda = yesNo(kAd, "SkipMeda", "Nej");
  s_.SkipElev = yesNo(kAd, "SkipElev", "Nej");
  s_.GroupListMeda = quiet(kAd, "GroupListMeda", kLongListChars);
  s_.GroupListElev = quiet(kAd, "GroupListElev", kLongListChars);
  s_.PasswdNeverExpiresMeda = yesNo(kAd, "PasswdNeverExpiresMeda", "Nej");
  s_.PasswdNeverExpiresElev = yesNo(kAd, "PasswdNeverExpiresElev", "Nej");
  s_.BackupDage = age(kAd, "BackupDage");
  s_.BackupDeleteDage = age(kAd, "BackupDeleteDage");
  s_.AccessPermissionsShareElev = hexMask(kAd, "AccessPermissionsShareElev");
  s_.InheritPermissionsShareElev = yesNo(kAd, "InheritPermissionsShareElev", "Nej");
  s_.AccessPermissionsShareMeda = hexMask(kAd, "AccessPermissionsShareMeda");
  s_.InheritPermissionsShareMeda = yesNo(kAd, "InheritPermissionsShareMeda", "Nej");
  s_.AccessPermissionsShareGruppe = hexMask(kAd, "AccessPermissionsShareGruppe");
  s_.InheritPermissionsShareGruppe = yesNo(kAd, "InheritPermissionsShareGruppe", "Nej");
  flush();

  s_.ForceSlet = yesNo(kAd, "ForceSlet", "Nej");
  s_.DageForSlet = deletionDays(integer(kAd, "DageForSlet", "0"), s_.ForceSlet);
  s_.DageForSletMeda = deletionDays(integer(kAd, "DageForSletMeda", "0"), s_.ForceSlet);
  s_.AlphaopdelADMeda = yesNo(kAd, "AlphaopdelADMeda", "Nej");
  s_.AlphaopdelADElev = yesNo(kAd, "AlphaopdelADElev", "Nej");
  flush();

  s_.NedlaegAttributFjernListMeda = quiet(kAd, "NedlaegAttributFjernListMeda", kCap260);
  s_.NedlaegAttributFjernListElev = quiet(kAd, "NedlaegAttributFjernListElev", kCap260);
  rt_.log.message(1, "ADsettings-NedlaegAttributFjernListMeda: %s\n",
                  s_.NedlaegAttributFjernListMeda.c_str());
  rt_.log.message(1, "ADsettings-NedlaegAttributFjernListElev: %s\n",
                  s_.NedlaegAttributFjernListElev.c_str());
}

void Loader::readRunScripts() {
  struct Key {
    const char* name;
    std::string Settings::*member;
  };
  static constexpr Key kKeys[] = {
      {"RunScriptElev", &Settings::RunScriptElev},
      {"RunScriptMeda", &Settings::RunScriptMeda},
      {"RunScriptOpretShareElev", &Settings::RunScriptOpretShareElev},
      {"RunScriptOpretShareMeda", &Settings::RunScriptOpretShareMeda},
      {"RunScriptAlwaysElevList", &Settings::RunScriptAlwaysElevList},
      {"RunScriptAlwaysMedaList", &Settings::RunScriptAlwaysMedaList},
      {"RunScriptAlwaysElev", &Settings::RunScriptAlwaysElev},
      {"RunScriptAlwaysMeda", &Settings::RunScriptAlwaysMeda},
      {"RunScriptPreSletElev", &Settings::RunScriptPreSletElev},
      {"RunScriptPreSletMeda", &Settings::RunScriptPreSletMeda},
      {"RunScriptPreDisableElev", &Settings::RunScriptPreDisableElev},
      {"RunScriptPreDisableMeda", &Settings::RunScriptPreDisableMeda},
      {"RunScriptPostEnableElev", &Settings::RunScriptPostEnableElev},
      {"RunScriptPostEnableMeda", &Settings::RunScriptPostEnableMeda},
      {"RunScriptPostNatjobElev", &Settings::RunScriptPostNatjobElev},
      {"RunScriptPostNatjobMeda", &Settings::RunScriptPostNatjobMeda},
      {"RunScriptPreRenameElev", &Settings::RunScriptPreRenameElev},
      {"RunScriptPreRenameMeda", &Settings::RunScriptPreRenameMeda},
  };
  for (const Key& k : kKeys) s_.*k.member = text(kRunScript, k.name, "", kCap260);
}

// A home drive is a letter and a colon; anything else is refused and left
// empty, so no user gets a drive mapping that Windows cannot make.
std::string Loader::drive(const char* key) {
  std::string v = read(kFileShare, key, "");
  std::u32string cps = toCodePoints(v);
  if (!cps.empty() && (cps.size() != 2 || cps[1] != U':')) {
    report_ += kFileShare;
    report_ += '-';
    report_ += key;
    report_ += ": UGYLDIGT format! Nulstiller!\n";
    return {};
  }
  if (!v.empty()) line(kFileShare, key, v);
  return cutChars(v, kDriveChars);
}

void Loader::readFileShare() {
  s_.OpretShareMeda = shareMode(kFileShare, "OpretShareMeda");
  s_.HideShareMeda = yesNo(kFileShare, "HideShareMeda", "Ja");
  s_.AlphaopdelShareMeda = yesNo(kFileShare, "AlphaopdelShareMeda", "Nej");
  {
    std::string v = read(kFileShare, "FileServerShareMeda", "");
    report_ += "FileServerShareMeda: " + v + "\n";
    std::u32string cps = toCodePoints(v);
    auto slash = [](char32_t c) { return c == U'\\' || c == U'/'; };
    if (cps.size() > 2 && !(slash(cps[0]) && slash(cps[1]))) {
      report_ += "** Fejl: Ugyldig sharenavn\n";
      result_ = 1;
    }
    s_.FileServerShareMeda = cutChars(v, kCap260);
  }
  s_.FileServerPathMeda = text(kFileShare, "FileServerPathMeda", "", kCap260);
  s_.OpretShareElev = shareMode(kFileShare, "OpretShareElev");
  s_.HideShareElev = yesNo(kFileShare, "HideShareElev", "Ja");
  s_.AlphaopdelShareElev = yesNo(kFileShare, "AlphaopdelShareElev", "Nej");
  s_.FileServerShareElev = text(kFileShare, "FileServerShareElev", "", kCap260);
  s_.FileServerPathElev = text(kFileShare, "FileServerPathElev", "", kCap260);
  s_.HomeDirDriveMeda = drive("HomeDirDriveMeda");
  s_.HomeDirDriveElev = drive("HomeDirDriveElev");
  s_.RefreshHomeDirMeda = yesNo(kFileShare, "RefreshHomeDirMeda", "Ja");
  s_.RefreshHomeDirElev = yesNo(kFileShare, "RefreshHomeDirElev", "Ja");
}

void Loader::readGruppeShare() {
  s_.OpretShareGruppe = shareMode(kGruppeShare, "OpretShareGruppe");
  s_.ServerShareGruppe = text(kGruppeShare, "ServerShareGruppe", "", kCap260);
  s_.ServerPathGruppe = text(kGruppeShare, "ServerPathGruppe", "", kCap260);
  s_.MailenableGruppeScript = text(kGruppeShare, "MailenableGruppeScript", "", kCap260);
  s_.UniversalGroups = yesNo(kGruppeShare, "UniversalGroups", "Nej");
}

void Loader::readProfile() {
  s_.TerminalProfileShareMeda = text(kProfile, "TerminalProfileShareMeda", "", kCap260);
  s_.TerminalProfileShareElev = text(kProfile, "TerminalProfileShareElev", "", kCap260);
  s_.TerminalProfileShareMedaCreate = yesNo(kProfile, "TerminalProfileShareMedaCreate", "N");
  s_.TerminalProfileShareElevCreate = yesNo(kProfile, "TerminalProfileShareElevCreate", "N");
  s_.TerminalProfileFolderMeda = text(kProfile, "TerminalProfileFolderMeda", "", kCap260);
  s_.TerminalProfileFolderElev = text(kProfile, "TerminalProfileFolderElev", "", kCap260);
  s_.RefreshTerminalProfileMeda = yesNo(kProfile, "RefreshTerminalProfileMeda", "Ja");
  s_.RefreshTerminalProfileElev = yesNo(kProfile, "RefreshTerminalProfileElev", "Ja");
  s_.UserProfileShareMeda = text(kProfile, "UserProfileShareMeda", "", kCap260);
  s_.UserProfileShareElev = text(kProfile, "UserProfileShareElev", "", kCap260);
  s_.UserProfileShareMedaCreate = yesNo(kProfile, "UserProfileShareMedaCreate", "J");
  s_.UserProfileShareElevCreate = yesNo(kProfile, "UserProfileShareElevCreate", "J");
  s_.UserProfileFolderMeda = text(kProfile, "UserProfileFolderMeda", "", kCap260);
  s_.UserProfileFolderElev = text(kProfile, "UserProfileFolderElev", "", kCap260);
  s_.RefreshUserProfileMeda = yesNo(kProfile, "RefreshUserProfileMeda", "Ja");
  s_.RefreshUserProfileElev = yesNo(kProfile, "RefreshUserProfileElev", "Ja");
}

void Loader::readMail() {
  s_.GruppeMail = text(kMail, "GruppeMail", "", kCap50);
  s_.CheckMailBoxExists = yesNo(kMail, "CheckMailBoxExists", "Nej");
  s_.OpretMailMedaScript = text(kMail, "OpretMailMedaScript", "", kCap260);
  s_.OpretMailElevScript = text(kMail, "OpretMailElevScript", "", kCap260);
  s_.OpretMailGroupListScript = text(kMail, "OpretMailGroupListScript", "", kCap260);
  s_.OpretMailMedaListScript = text(kMail, "OpretMailMedaListScript", "", kCap260);
  s_.OpretMailElevListScript = text(kMail, "OpretMailElevListScript", "", kCap260);
  {
    std::string v = read(kMail, "OpretMailElev", "Nej");
    line(kMail, "OpretMailElev", v);
    s_.OpretMailElev = parseMailMode(v);
  }
  s_.MailServerElev = text(kMail, "MailServerElev", "", kCap100);
  if (s_.OpretMailElev == 4) s_.MailStoreElev1 = text(kMail, "MailStoreElev1", "", kCap260);
}

void Loader::readUndtagelser() {
  s_.MedaUndtaget = quiet(kUndtagelser, "MedaUndtaget", kLongListChars);
  report_ += "UndtagelserMeda: " + s_.MedaUndtaget + "\n";
  s_.PersUndtaget = quiet(kUndtagelser, "PersUndtaget", kLongListChars);
  report_ += "UndtagelserPers: " + s_.PersUndtaget + "\n";
}

void Loader::readBrovalt() {
  s_.BrovaltServer = text(kBrovalt, "BrovaltServer", "", kCap260);
  s_.BrovaltPath = text(kBrovalt, "BrovaltPath", "", kCap260);
  s_.BrovaltInstnr = text(kBrovalt, "BrovaltInstnr", "", kCap260);
  s_.BrovaltVersion = text(kBrovalt, "BrovaltVersion", "", kCap260);
  // The client credential is a secret (Base64 of id and secret): the log and
  // the event log only learn that it is set.
  s_.BrovaltAuth = cutChars(read(kBrovalt, "BrovaltAuth", ""), kCap260);
  if (!s_.BrovaltAuth.empty()) line(kBrovalt, "BrovaltAuth", "(skjult)");
}

// The newer settings (file-server credentials, token server, timeout, the
// deactivation brake, the directory connection) come after all the
// long-standing ones, so the report keeps its familiar order line for line.
void Loader::readAddedKeys() {
  // A file name only; the credentials themselves never reach the log.
  s_.FileServerCredentials = text(kFileShare, "FileServerCredentials", "", kCap260);
  s_.BrovaltTokenServer = text(kBrovalt, "BrovaltTokenServer", "", kCap260);
  // The token endpoint has no default: no host is right for every school.
  if (!s_.BrovaltServer.empty() && s_.BrovaltTokenServer.empty()) {
    report_ +=
        "** Fejl: BrovaltServer er sat, men BrovaltTokenServer er ikke; job-serveren kan ikke "
        "bruges uden token\n";
  }
  s_.BrovaltCaFile = text(kBrovalt, "BrovaltCaFile", "", kCap260);
  s_.BrovaltTimeout = integer(kBrovalt, "BrovaltTimeout", "60");
  // No timeout at all would let one silent job server hang every cycle.
  if (s_.BrovaltTimeout < 1) s_.BrovaltTimeout = 60;
  s_.NedlaegGraense = std::max(0, integer(kMain, "NedlaegGraense", "0"));
  s_.NedlaegGraenseMin = std::max(0, integer(kMain, "NedlaegGraenseMin", "10"));
  // Reported only when set, so the report of every school that leaves it
  // alone reads as before.
  const std::string resume = read(kMain, "GenoptagAfbrudteJob", "");
  if (!resume.empty()) {
    line(kMain, "GenoptagAfbrudteJob", resume);
    s_.GenoptagAfbrudteJob = parseYesNo(resume);
  }
}

void Loader::readLdap() {
  s_.LdapServer = text(kLdap, "LdapServer", "", kReadChars);
  s_.LdapBind = toLower(text(kLdap, "LdapBind", "gssapi", kCap50));
  if (s_.LdapBind.empty()) {
    s_.LdapBind = "gssapi";
  } else if (s_.LdapBind != "gssapi" && s_.LdapBind != "simple") {
    report_ += "** Fejl: Ugyldig LdapBind, gssapi bruges\n";
    s_.LdapBind = "gssapi";
  }
  s_.LdapBindName = text(kLdap, "LdapBindName", "", kCap260);
  s_.LdapPasswordFile = text(kLdap, "LdapPasswordFile", "", kCap260);
  s_.LdapCaFile = text(kLdap, "LdapCaFile", "", kCap260);
  s_.LdapStartTls = yesNo(kLdap, "LdapStartTls", "Nej");
}

int Loader::run(const std::string& iniPath, bool unreadable) {
  const std::string now =
      rt_.ports.clock != nullptr ? ctimeText(*rt_.ports.clock, rt_.ports.clock->now()) : "";
  report_ = format("\n-%s-Starter Tavlevagt ver. %s (%s) - (%s %s %s)\n\n", now.c_str(), kVersion,
                   kReleaseDate, kPlatform, buildDate(), buildTime());
  rt_.settings = Settings{};
  rt_.trim = Trim{};
  report_ += "Inifil: " + iniPath + "\n";
  if (unreadable) report_ += "** Fejl: Inifil kan ikke læses, standardværdier bruges\n";

  readMain();
  flush();

  s_.MedarbejderFelter = readMap("MedarbejderFelter", kStaffMapAttributes, kStaffJobFields);
  flush();
  s_.ElevFelter = readMap("ElevFelter", kPupilMapAttributes, kPupilJobFields);
  flush();

  s_.LdapPath = text(kAd, "LdapPath", "OU=ZEB", kCap260);
  computeLocations(rt_);
  flush();
  logLocations(rt_);

  readAdSettings();
  readRunScripts();
  readFileShare();
  readGruppeShare();
  readProfile();
  readMail();
  readUndtagelser();
  readBrovalt();
  readAddedKeys();
  readLdap();
  flush();

  if (s_.LogLevel > 0 && s_.OpretMailElev == 4) {
    rt_.log.message(1, "Mailstores for elever:\n");
    rt_.log.message(1, "%s\n", s_.MailStoreElev1.c_str());
  }
  return result_;
}

}  // namespace

int loadSettingsFrom(Runtime& rt, const IniFile& ini, const std::string& iniPath) {
  return Loader(rt, ini).run(iniPath, false);
}

int loadSettings(Runtime& rt) {
  const std::string path = rt.dataPath("Tavlevagt.ini");
  IniFile::Status status = IniFile::Status::kMissing;
  IniFile ini = IniFile::fromFile(path, &status);
  return Loader(rt, ini).run(path, status == IniFile::Status::kUnreadable);
}

}  // namespace tv
