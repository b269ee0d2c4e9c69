// The settings block: every value the school chooses in Tavlevagt.ini, read
// once per start and read-only afterwards. Members carry their settings key.
// Text values are UTF-8 and already cut to their capacity in characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

// share mode: 0 no, 1 share, 2 folder only ("mappe")
// mail mode: 0 no, 3 yes, 4 "mailbox"
struct AttributeMapEntry {
  std::string attribute;  // directory attribute name
  std::string field;      // job field name or expression ("*…", "…@…")
};

struct Settings {
  // [Tavlevagt]
  std::string BrugerIdentifikation = "-";
  bool BrugUuidDrift = false;
  bool GrupperIDrift = true;
  bool IDrift = false;
  std::string WritePersId = "-";
  int LogLevel = 0;
  std::string ZEBMarkering = "description";
  std::string ZEBGruppeMarkering = "description";
  bool CheckZEBMarkering = true;
  bool MedaSlet = false;
  int MedaArkivEkstraDage = 500;
  bool PersSlet = false;
  int PersArkivEkstraDage = 500;
  bool RenameInaktiv = true;
  // The mass-deactivation brake: the share in percent of a population's
  // enabled accounts that one full-list pass may deactivate (0: no brake),
  // and the number of accounts it may deactivate whatever the share gives.
  int NedlaegGraense = 0;
  int NedlaegGraenseMin = 10;
  // An interrupted job ("<base>.behandler" left by a crash) is taken up again
  // once by itself instead of only being reported.
  bool GenoptagAfbrudteJob = false;

  // [MedarbejderFelter], [ElevFelter]
  std::vector<AttributeMapEntry> MedarbejderFelter;
  std::vector<AttributeMapEntry> ElevFelter;

  // [ADsettings]
  std::string LdapPath = "OU=ZEB";
  bool SkipMeda = false;
  bool SkipElev = false;
  std::string GroupListMeda;
  std::string GroupListElev;
  bool PasswdNeverExpiresMeda = false;
  bool PasswdNeverExpiresElev = false;
  int BackupDage = 0;
  int BackupDeleteDage = 0;
  std::uint32_t AccessPermissionsShareElev = 0;
  bool InheritPermissionsShareElev = false;
  std::uint32_t AccessPermissionsShareMeda = 0;
  bool InheritPermissionsShareMeda = false;
  std::uint32_t AccessPermissionsShareGruppe = 0;
  bool InheritPermissionsShareGruppe = false;
  bool ForceSlet = false;
  int DageForSlet = 0;
  int DageForSletMeda = 0;
  bool AlphaopdelADMeda = false;
  bool AlphaopdelADElev = false;
  std::string NedlaegAttributFjernListMeda;
  std::string NedlaegAttributFjernListElev;

  // [RunScript]
  std::string RunScriptElev, RunScriptMeda;
  std::string RunScriptOpretShareElev, RunScriptOpretShareMeda;
  std::string RunScriptAlwaysElevList, RunScriptAlwaysMedaList;
  std::string RunScriptAlwaysElev, RunScriptAlwaysMeda;
  std::string RunScriptPreSletElev, RunScriptPreSletMeda;
  std::string RunScriptPreDisableElev, RunScriptPreDisableMeda;
  std::string RunScriptPostEnableElev, RunScriptPostEnableMeda;
  std::string RunScriptPostNatjobElev, RunScriptPostNatjobMeda;
  std::string RunScriptPreRenameElev, RunScriptPreRenameMeda;

  // [FileShare]
  int OpretShareMeda = 0;
  bool HideShareMeda = true;
  bool AlphaopdelShareMeda = false;
  std::string FileServerShareMeda;
  std::string FileServerPathMeda;
  int OpretShareElev = 0;
  bool HideShareElev = true;
  bool AlphaopdelShareElev = false;
  std::string FileServerShareElev;
  std::string FileServerPathElev;
  std::string HomeDirDriveMeda;
  std::string HomeDirDriveElev;
  bool RefreshHomeDirMeda = true;
  bool RefreshHomeDirElev = true;
  // Credentials file for the file server (empty: the machine's Kerberos identity).
  std::string FileServerCredentials;

  // [GruppeShare]
  int OpretShareGruppe = 0;
  std::string ServerShareGruppe;
  std::string ServerPathGruppe;
  std::string MailenableGruppeScript;
  bool UniversalGroups = false;

  // [Profile]
  std::string TerminalProfileShareMeda, TerminalProfileShareElev;
  bool TerminalProfileShareMedaCreate = false, TerminalProfileShareElevCreate = false;
  std::string TerminalProfileFolderMeda, TerminalProfileFolderElev;
  bool RefreshTerminalProfileMeda = true, RefreshTerminalProfileElev = true;
  std::string UserProfileShareMeda, UserProfileShareElev;
  bool UserProfileShareMedaCreate = true, UserProfileShareElevCreate = true;
  std::string UserProfileFolderMeda, UserProfileFolderElev;
  bool RefreshUserProfileMeda = true, RefreshUserProfileElev = true;

  // [Mail]
  std::string GruppeMail;
  bool CheckMailBoxExists = false;
  std::string OpretMailMedaScript;
  std::string OpretMailElevScript;
  std::string OpretMailGroupListScript;
  std::string OpretMailMedaListScript;
  std::string OpretMailElevListScript;
  int OpretMailElev = 0;
  std::string MailServerElev;
  std::string MailStoreElev1;

  // [Undtagelser]
  std::string MedaUndtaget;
  std::string PersUndtaget;

  // [Brovalt]
  std::string BrovaltServer;
  std::string BrovaltPath;
  std::string BrovaltInstnr;
  std::string BrovaltVersion;
  std::string BrovaltAuth;
  std::string BrovaltTokenServer;  // host of the token endpoint
  std::string BrovaltCaFile;       // CA bundle for a private certificate authority
  int BrovaltTimeout = 60;         // seconds per request

  // [LDAP] the directory connection; no server means the LDIF snapshot in the data folder
  std::string LdapServer;           // "ldaps://dc1.skole.test ldap://dc2…"
  std::string LdapBind = "gssapi";  // "gssapi" or "simple"
  std::string LdapBindName;         // simple bind: the bind DN or user@REALM
  std::string LdapPasswordFile;     // simple bind: file holding the password
  std::string LdapCaFile;
  bool LdapStartTls = false;
};

}  // namespace tv
