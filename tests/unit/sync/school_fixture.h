// A school in memory: a runtime over the memory directory with the system's
// container tree, a temp data folder and a log, for driving the user
// sections and queries directly.
#pragma once

#include <memory>
#include <string>

#include "platform/memory/memory_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "support/fakes.h"

namespace tv::test {

inline constexpr const char* kTreeLdif =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Medarbejder,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

// An identification of 32 characters made from a short tag.
inline std::string idOf(const std::string& tag) {
  std::string id = tag;
  id.resize(32, '0');
  return id;
}

struct School {
  LogFixture logs;
  MemoryDirectory directory;
  RecordingProcessRunner processes;
  Runtime rt;
  int exitCode = -1;
  std::string ldif = kTreeLdif;  // the snapshot the directory is loaded from

  School() : rt(logs.log, Ports{}, logs.folder.path()) {
    rt.ports.directory = &directory;
    rt.ports.clock = &logs.clock;
    rt.ports.processes = &processes;
    rt.fatalExit = [this](int code) { exitCode = code; };
    rt.settings.BrugerIdentifikation = "employeeNumber";
    rt.settings.LogLevel = 1;
    EXPECT_EQ(directory.loadLdif(ldif), "");
    computeLocations(rt);
    logs.folder.write("Tavlevagt.log", "");
    rt.log.release();
    rt.log.open();
    clearLog();
  }

  // Adds a user below container (a DN below OU=ZEB) with an identification;
  // extra: further LDIF lines, each ending in "\n".
  void addUser(const std::string& cn, const std::string& container, const std::string& id,
               bool disabled = false, const std::string& extra = "") {
    std::string entry = "dn: CN=" + cn + "," + container + ",OU=ZEB,DC=skole,DC=test\n" +
                        "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
                        "objectClass: user\ncn: " +
                        cn + "\nname: " + cn + "\n" +
                        "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n" +
                        "sAMAccountName: " + cn + "\n" +
                        "userAccountControl: " + (disabled ? "514" : "512") + "\n";
    if (!id.empty()) entry += "employeeNumber: " + id + "\n";
    ldif += entry + extra + "\n";
    EXPECT_EQ(directory.loadLdif(ldif), "");
  }

  // Adds an organizational unit (a DN below OU=ZEB, "OU=Inaktive,OU=Elev").
  void addOu(const std::string& dn) {
    ldif += "dn: " + dn + ",OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";
    EXPECT_EQ(directory.loadLdif(ldif), "");
  }

  // Empties the log file so a test sees only its own lines.
  void clearLog() {
    rt.log.release();
    logs.folder.write("Tavlevagt.log", "");
    (void)rt.log.open();
  }
};

// One pupil record line: login;id;password;first;last;pers_id;birth;groups;…
inline std::string pupilLine(const std::string& login, const std::string& id) {
  return login + ";" + id +
         ";Kode1234;Fornavn;Efternavn;12345;010110;7A;Vej 1;By;Distrikt;8000;;;;7;7A";
}

}  // namespace tv::test
