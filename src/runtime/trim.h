// Trim: the directory locations built at settings load, the domain's names,
// and the current population that select staff / select pupils fill so that
// the user operations read one set of fields whichever population they serve.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

struct Runtime;

struct Trim {
  // Domain names.
  std::string defaultNamingContext;
  std::string rootDomainNamingContext;
  std::string dnsDomain;

  // Locations: distinguished names and their "LDAP://" paths.
  std::string ZEBPath, ZEBLdapPath;
  std::string GruppePath, GruppeArkivPath, GruppeLdapPath, GruppeArkivLdapPath;
  std::string MedarbejderPath, MedarbejderLdapPath, MedarbejderArkivPath, MedarbejderArkivLdapPath,
      MedarbejderInaktivePath, MedarbejderInaktiveLdapPath;
  std::string ElevPath, ElevLdapPath, ElevArkivPath, ElevArkivLdapPath, ElevInaktivePath,
      ElevInaktiveLdapPath;

  // Current population.
  std::string label;  // "Medarbejder" / "Elev"; cleared for a skipped section
  bool staff = false;
  int shareMode = 0;
  bool hideShare = false;
  bool alphaShare = false;
  std::string shareRoot;
  std::string shareRootPath;
  std::string homeDrive;
  std::string terminalProfileShare;
  bool terminalProfileShareCreate = false;
  bool terminalProfileIsFile = false;
  std::string terminalProfileFolder;
  std::string userProfileShare;
  bool userProfileShareCreate = false;
  bool userProfileIsFile = false;
  std::string userProfileFolder;
  int mailMode = 0;
  bool passwordNeverExpires = false;
  std::uint32_t shareAccessMask = 0;
  bool shareInherit = false;
  bool refreshHomeDir = false;
  bool refreshTerminalProfile = false;
  bool refreshUserProfile = false;
  std::string path, ldapPath, archivePath, archiveLdapPath, inactivePath, inactiveLdapPath;
};

// Make staff ("SetTrimMeda()") or pupils ("SetTrimPers()") the current
// population: every current field is replaced, so nothing of the previous
// population survives a switch.
void selectStaff(Runtime& rt);
void selectPupils(Runtime& rt);

// The container of a user of the current population: the population's
// location, or with its alphabetic split on, "OU=<first letter in upper
// case>," in front of it. At most 259 characters.
[[nodiscard]] std::string userContainer(const Runtime& rt, std::string_view name);

// A share value that names one fixed profile (".pro" or ".man", any case,
// after at least one character) rather than a folder of profiles.
[[nodiscard]] bool isProfileFile(std::string_view path);

// The server of a UNC share root: "\\srv\share" gives "srv"; the text after
// the first two characters up to the next "/" or "\".
[[nodiscard]] std::string shareServer(std::string_view sharePath);

}  // namespace tv
