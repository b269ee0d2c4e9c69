#include "runtime/locations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/memory/memory_directory.h"
#include "unit/config/config_test_support.h"

namespace tv::test {
namespace {

using ::testing::ElementsAre;

class Locations : public ConfigFixture, public ::testing::Test {};

TEST_F(Locations, AreBuiltBelowLdapPathInTheDomain) {
  computeLocations(rt);
  const Trim& t = rt.trim;
  EXPECT_THAT(directory.binds, ElementsAre("LDAP://RootDSE"));
  EXPECT_EQ(t.defaultNamingContext, "DC=skole,DC=test");
  EXPECT_EQ(t.rootDomainNamingContext, "DC=skole,DC=test");
  EXPECT_EQ(t.dnsDomain, "skole.test");
  EXPECT_EQ(t.ZEBPath, "OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.MedarbejderPath, "OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.MedarbejderLdapPath, "LDAP://OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  // Nothing is shown at LogLevel 0 while the names are read.
  EXPECT_EQ(logText(), "");

  logLocations(rt);
  EXPECT_EQ(logText(),
            "Trim.ZEBPath: OU=ZEB,DC=skole,DC=test\n"
            "Trim.ZEBLdapPath: LDAP://OU=ZEB,DC=skole,DC=test\n"
            "Trim.GruppePath: OU=Grupper,OU=ZEB,DC=skole,DC=test\n"
            "Trim.GruppeArkivPath: OU=Arkiv,OU=Grupper,OU=ZEB,DC=skole,DC=test\n"
            "Trim.GruppeLdapPath: LDAP://OU=Grupper,OU=ZEB,DC=skole,DC=test\n"
            "Trim.GruppeArkivLdapPath: LDAP://OU=Arkiv,OU=Grupper,OU=ZEB,DC=skole,DC=test\n"
            "Trim.MedarbejderPath: OU=Medarbejder,OU=ZEB,DC=skole,DC=test\n"
            "Trim.MedarbejderLdapPath: LDAP://OU=Medarbejder,OU=ZEB,DC=skole,DC=test\n"
            "Trim.MedarbejderArkivPath: OU=Arkiv,OU=Medarbejder,OU=ZEB,DC=skole,DC=test\n"
            "Trim.MedarbejderArkivLdapPath: LDAP://OU=Arkiv,OU=Medarbejder,OU=ZEB,DC=skole,"
            "DC=test\n"
            "Trim.MedarbejderInaktivePath: OU=Inaktive,OU=Medarbejder,OU=ZEB,DC=skole,DC=test\n"
            "Trim.MedarbejderInaktiveLdapPath, LDAP://OU=Inaktive,OU=Medarbejder,OU=ZEB,"
            "DC=skole,DC=test\n"
            "Trim.ElevPath: OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "Trim.ElevLdapPath, LDAP://OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "Trim.ElevArkivPath: OU=Arkiv,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "Trim.ElevArkivLdapPath: LDAP://OU=Arkiv,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "Trim.ElevInaktivePath: OU=Inaktive,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "Trim.ElevInaktiveLdapPath, LDAP://OU=Inaktive,OU=Elev,OU=ZEB,DC=skole,DC=test\n");
}

TEST_F(Locations, DomainNamesAreShownFromLogLevelOne) {
  rt.settings.LogLevel = 1;
  directory.rootDse["rootDomainNamingContext"] = "DC=kommune,DC=test";
  computeLocations(rt);
  EXPECT_EQ(logText(),
            " - defaultNamingContext: DC=skole,DC=test\n"
            " - rootDomainNamingContext: DC=kommune,DC=test\n"
            " - dnsHostName: dc1.skole.test\n");
  EXPECT_EQ(rt.trim.rootDomainNamingContext, "DC=kommune,DC=test");
}

TEST_F(Locations, WithoutTheRootEntryTheyAreBuiltFromLdapPathAlone) {
  directory.rootBinds = false;
  computeLocations(rt);
  EXPECT_EQ(logText(),
            "** Fejl: defaultNamingContext: \n"
            "** Fejl: rootDomainNamingContext: \n"
            "** Fejl: dnsHostName: \n");
  const Trim& t = rt.trim;
  EXPECT_EQ(t.defaultNamingContext, "");
  EXPECT_EQ(t.rootDomainNamingContext, "");
  EXPECT_EQ(t.dnsDomain, "");
  EXPECT_EQ(t.ZEBPath, "OU=ZEB");
  EXPECT_EQ(t.GruppeArkivLdapPath, "LDAP://OU=Arkiv,OU=Grupper,OU=ZEB");
  EXPECT_EQ(t.ElevInaktivePath, "OU=Inaktive,OU=Elev,OU=ZEB");

  // No directory port at all reads the same.
  rt.ports.directory = nullptr;
  rt.trim = Trim{};
  computeLocations(rt);
  EXPECT_EQ(logText(),
            "** Fejl: defaultNamingContext: \n"
            "** Fejl: rootDomainNamingContext: \n"
            "** Fejl: dnsHostName: \n"
            "** Fejl: defaultNamingContext: \n"
            "** Fejl: rootDomainNamingContext: \n"
            "** Fejl: dnsHostName: \n");
  EXPECT_EQ(rt.trim.MedarbejderPath, "OU=Medarbejder,OU=ZEB");
}

TEST_F(Locations, OneMissingNameIsReportedAlone) {
  rt.settings.LogLevel = 1;
  directory.rootDse.erase("dnsHostName");
  directory.canonical.clear();
  computeLocations(rt);
  EXPECT_EQ(logText(),
            " - defaultNamingContext: DC=skole,DC=test\n"
            " - rootDomainNamingContext: DC=skole,DC=test\n"
            "** Fejl: dnsHostName: \n");
  EXPECT_EQ(rt.trim.ZEBPath, "OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(rt.trim.dnsDomain, "");  // the name translation failed
}

TEST_F(Locations, DnsDomainIsTheCanonicalNameUpToTheFirstSlash) {
  directory.rootDse["defaultNamingContext"] = "DC=elev,DC=skole,DC=test";
  directory.canonical = {{"DC=elev,DC=skole,DC=test", "elev.skole.test/x/y"}};
  computeLocations(rt);
  EXPECT_EQ(rt.trim.dnsDomain, "elev.skole.test");
}

TEST_F(Locations, EmptyLdapPathLeavesNoStrayComma) {
  rt.settings.LdapPath = "";
  computeLocations(rt);
  EXPECT_EQ(rt.trim.ZEBPath, "DC=skole,DC=test");
  EXPECT_EQ(rt.trim.GruppePath, "OU=Grupper,DC=skole,DC=test");
  EXPECT_EQ(rt.trim.ElevLdapPath, "LDAP://OU=Elev,DC=skole,DC=test");
}

TEST_F(Locations, LongNamesAreCutAtTheirCapacity) {
  std::string longDn = "DC=" + std::string(150, 'd');
  directory.rootDse["defaultNamingContext"] = longDn;
  rt.settings.LdapPath = "OU=" + std::string(256, 'z');
  computeLocations(rt);
  EXPECT_EQ(rt.trim.defaultNamingContext, longDn.substr(0, 99));
  EXPECT_EQ(rt.trim.ZEBPath.size(), 259u);
  EXPECT_EQ(rt.trim.ZEBLdapPath, "LDAP://" + rt.trim.ZEBPath.substr(0, 252));
  EXPECT_EQ(rt.trim.GruppeArkivPath.size(), 259u);
}

// The same names from the in-process directory, which answers the root entry
// and the name translation as a domain controller does.
TEST_F(Locations, ReadFromTheMemoryDirectory) {
  MemoryDirectoryOptions options;
  options.baseDn = "DC=skovbakke,DC=skole,DC=test";
  options.clock = &clock;
  MemoryDirectory memory(options);
  rt.ports.directory = &memory;
  rt.settings.LogLevel = 1;
  rt.settings.LdapPath = "OU=ZEB";
  computeLocations(rt);
  EXPECT_EQ(logText(),
            " - defaultNamingContext: DC=skovbakke,DC=skole,DC=test\n"
            " - rootDomainNamingContext: DC=skovbakke,DC=skole,DC=test\n"
            " - dnsHostName: dc1.skovbakke.skole.test\n");
  EXPECT_EQ(rt.trim.dnsDomain, "skovbakke.skole.test");
  EXPECT_EQ(rt.trim.ElevArkivLdapPath,
            "LDAP://OU=Arkiv,OU=Elev,OU=ZEB,DC=skovbakke,DC=skole,DC=test");
}

}  // namespace
}  // namespace tv::test
