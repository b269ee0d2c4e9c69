#include "runtime/locations.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "directory/directory.h"
#include "runtime/runtime.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr std::size_t kDomainChars = 99;
constexpr std::size_t kPathChars = 259;

// One RootDSE value: kept on success (and shown from LogLevel 1), reported
// with an empty value on failure.
std::string readRootValue(Runtime& rt, DirObject* root, const char* name) {
  if (root != nullptr) {
    DirResult<std::string> v = root->get(name);
    if (v.ok()) {
      if (rt.settings.LogLevel >= 1) rt.log.message(1, " - %s: %s\n", name, v.value.c_str());
      return v.value;
    }
  }
  rt.log.message(1, "** Fejl: %s: %s\n", name, "");
  return {};
}

// "OU=x,<LdapPath>,<domain>" with the empty parts left out, so an empty
// `LdapPath` or an unknown domain never leaves a stray comma in a DN.
std::string joinDn(std::initializer_list<std::string_view> parts) {
  std::string dn;
  for (std::string_view p : parts) {
    if (p.empty()) continue;
    if (!dn.empty()) dn += ',';
    dn += p;
  }
  return cutChars(dn, kPathChars);
}

std::string ldapPathOf(const std::string& dn) {
  return cutChars("LDAP://" + dn, kPathChars);
}

}  // namespace

void computeLocations(Runtime& rt) {
  Trim& t = rt.trim;
  std::unique_ptr<DirObject> root;
  if (rt.ports.directory != nullptr) {
    auto bound = rt.ports.directory->bind("LDAP://RootDSE");
    if (bound.ok()) root = std::move(bound.value);
  }
  t.defaultNamingContext =
      cutChars(readRootValue(rt, root.get(), "defaultNamingContext"), kDomainChars);
  t.rootDomainNamingContext =
      cutChars(readRootValue(rt, root.get(), "rootDomainNamingContext"), kDomainChars);
  (void)readRootValue(rt, root.get(), "dnsHostName");
  root.reset();

  t.dnsDomain.clear();
  if (rt.ports.directory != nullptr && !t.defaultNamingContext.empty()) {
    auto canonical = rt.ports.directory->canonicalName(t.defaultNamingContext);
    if (canonical.ok()) {
      const std::string& c = canonical.value;
      t.dnsDomain = cutChars(c.substr(0, c.find('/')), kDomainChars);
    }
  }

  const std::string& base = rt.settings.LdapPath;
  const std::string& domain = t.defaultNamingContext;
  t.ZEBPath = joinDn({base, domain});
  t.ZEBLdapPath = ldapPathOf(t.ZEBPath);
  t.GruppePath = joinDn({"OU=Grupper", base, domain});
  t.GruppeArkivPath = joinDn({"OU=Arkiv", t.GruppePath});
  t.GruppeLdapPath = ldapPathOf(t.GruppePath);
  t.GruppeArkivLdapPath = ldapPathOf(t.GruppeArkivPath);
  t.MedarbejderPath = joinDn({"OU=Medarbejder", base, domain});
  t.MedarbejderLdapPath = ldapPathOf(t.MedarbejderPath);
  t.MedarbejderArkivPath = joinDn({"OU=Arkiv", t.MedarbejderPath});
  t.MedarbejderArkivLdapPath = ldapPathOf(t.MedarbejderArkivPath);
  t.MedarbejderInaktivePath = joinDn({"OU=Inaktive", t.MedarbejderPath});
  t.MedarbejderInaktiveLdapPath = ldapPathOf(t.MedarbejderInaktivePath);
  t.ElevPath = joinDn({"OU=Elev", base, domain});
  t.ElevLdapPath = ldapPathOf(t.ElevPath);
  t.ElevArkivPath = joinDn({"OU=Arkiv", t.ElevPath});
  t.ElevArkivLdapPath = ldapPathOf(t.ElevArkivPath);
  t.ElevInaktivePath = joinDn({"OU=Inaktive", t.ElevPath});
  t.ElevInaktiveLdapPath = ldapPathOf(t.ElevInaktivePath);
}

void logLocations(Runtime& rt) {
  const Trim& t = rt.trim;
  // Three of the lines carry a comma after the name; schools' log readers
  // have long matched them as they are.
  rt.log.message(1, "Trim.ZEBPath: %s\n", t.ZEBPath.c_str());
  rt.log.message(1, "Trim.ZEBLdapPath: %s\n", t.ZEBLdapPath.c_str());
  rt.log.message(1, "Trim.GruppePath: %s\n", t.GruppePath.c_str());
  rt.log.message(1, "Trim.GruppeArkivPath: %s\n", t.GruppeArkivPath.c_str());
  rt.log.message(1, "Trim.GruppeLdapPath: %s\n", t.GruppeLdapPath.c_str());
  rt.log.message(1, "Trim.GruppeArkivLdapPath: %s\n", t.GruppeArkivLdapPath.c_str());
  rt.log.message(1, "Trim.MedarbejderPath: %s\n", t.MedarbejderPath.c_str());
  rt.log.message(1, "Trim.MedarbejderLdapPath: %s\n", t.MedarbejderLdapPath.c_str());
  rt.log.message(1, "Trim.MedarbejderArkivPath: %s\n", t.MedarbejderArkivPath.c_str());
  rt.log.message(1, "Trim.MedarbejderArkivLdapPath: %s\n", t.MedarbejderArkivLdapPath.c_str());
  rt.log.message(1, "Trim.MedarbejderInaktivePath: %s\n", t.MedarbejderInaktivePath.c_str());
  rt.log.message(1, "Trim.MedarbejderInaktiveLdapPath, %s\n",
                 t.MedarbejderInaktiveLdapPath.c_str());
  rt.log.message(1, "Trim.ElevPath: %s\n", t.ElevPath.c_str());
  rt.log.message(1, "Trim.ElevLdapPath, %s\n", t.ElevLdapPath.c_str());
  rt.log.message(1, "Trim.ElevArkivPath: %s\n", t.ElevArkivPath.c_str());
  rt.log.message(1, "Trim.ElevArkivLdapPath: %s\n", t.ElevArkivLdapPath.c_str());
  rt.log.message(1, "Trim.ElevInaktivePath: %s\n", t.ElevInaktivePath.c_str());
  rt.log.message(1, "Trim.ElevInaktiveLdapPath, %s\n", t.ElevInaktiveLdapPath.c_str());
}

}  // namespace tv
