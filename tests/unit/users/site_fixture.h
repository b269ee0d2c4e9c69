// A school in memory for the live user operations: the memory directory with
// the system's container tree, a runtime in live mode, a temp data folder, a
// recording process runner for the hooks and helpers to add accounts and
// build file records.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "directory/sid.h"
#include "jobdata/file_user.h"
#include "platform/memory/memory_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "support/fakes.h"
#include "text/cipher.h"
#include "users/user_queries.h"

namespace tv::test {

inline constexpr const char* kSiteLdif =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Medarbejder,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

inline constexpr const char* kElev = "OU=Elev,OU=ZEB,DC=skole,DC=test";
inline constexpr const char* kMeda = "OU=Medarbejder,OU=ZEB,DC=skole,DC=test";

// An identification of 32 characters made from a short tag.
inline std::string idFor(const std::string& tag) {
  std::string id = tag;
  id.resize(32, '0');
  return id;
}

inline MemoryDirectoryOptions siteOptions(bool mail) {
  MemoryDirectoryOptions o;
  o.mailAttributes = mail;
  return o;
}

struct AccountShape {
  bool disabled = false;
  std::string marking = "Autooprettet af ZEB (12345)";  // "" : none
  std::string extra;                                    // further LDIF lines, each ending in "\n"
  bool withSid = true;

  static AccountShape disabledOne() {
    AccountShape a;
    a.disabled = true;
    return a;
  }
  static AccountShape marked(std::string marking, bool disabled = false, std::string extra = "") {
    AccountShape a;
    a.marking = std::move(marking);
    a.disabled = disabled;
    a.extra = std::move(extra);
    return a;
  }
};

struct Site {
  LogFixture logs;
  MemoryDirectory directory;
  RecordingProcessRunner processes;
  Runtime rt;
  int exitCode = -1;
  std::string ldif = kSiteLdif;
  int rid_ = 0;

  explicit Site(bool mailSchema = false, bool staff = false)
      : directory(siteOptions(mailSchema)), rt(logs.log, Ports{}, logs.folder.path()) {
    rt.ports.directory = &directory;
    rt.ports.clock = &logs.clock;
    rt.ports.processes = &processes;
    rt.fatalExit = [this](int code) { exitCode = code; };
    rt.settings.BrugerIdentifikation = "employeeNumber";
    rt.settings.LogLevel = 1;
    rt.settings.IDrift = true;
    rt.settings.BrugUuidDrift = true;
    rt.job.sequence = "77";
    rt.job.schoolName = "Byskolen";
    EXPECT_EQ(directory.loadLdif(ldif), "");
    computeLocations(rt);
    select(staff);
  }

  // Makes staff or pupils current (after settings changes) and empties the log.
  void select(bool staff) {
    if (staff) {
      selectStaff(rt);
    } else {
      selectPupils(rt);
    }
    clearLog();
  }

  // Adds an account cn below container (a DN).
  std::string addUser(const std::string& cn, const std::string& container, const std::string& id,
                      const AccountShape& shape = {}) {
    const std::string dn = "CN=" + cn + "," + container;
    std::string entry =
        "dn: " + dn +
        "\nobjectClass: top\nobjectClass: person\nobjectClass: "
        "organizationalPerson\nobjectClass: user\ncn: " +
        cn + "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n" +
        "sAMAccountName: " + cn + "\nuserAccountControl: " + (shape.disabled ? "514" : "512") +
        "\npwdLastSet: 1\n";
    if (!id.empty()) entry += "employeeNumber: " + id + "\n";
    // Accounts from a snapshot carry the SID the domain gave them.
    if (shape.withSid)
      entry +=
          "objectSid:: " +
          cipher::base64Encode(*sidFromString("S-1-5-21-1-2-3-" + std::to_string(1100 + ++rid_))) +
          "\n";
    if (!shape.marking.empty()) entry += "description: " + shape.marking + "\n";
    entry += shape.extra;
    ldif = directory.saveLdif() + "\n" + entry + "\n";
    EXPECT_EQ(directory.loadLdif(ldif), "");
    return dn;
  }

  void addOu(const std::string& dn) {
    ldif = directory.saveLdif() + "\ndn: " + dn + "\nobjectClass: organizationalUnit\n\n";
    EXPECT_EQ(directory.loadLdif(ldif), "");
  }

  // The object at dn, or null.
  std::unique_ptr<DirObject> at(const std::string& dn) {
    auto b = directory.bind("LDAP://" + dn);
    return b.ok() ? std::move(b.value) : nullptr;
  }

  // The value of attr at dn, "<none>" when absent, "<no object>" without one.
  std::string value(const std::string& dn, const std::string& attr) {
    auto o = at(dn);
    if (!o) return "<no object>";
    auto v = o->get(attr);
    return v.ok() ? v.value : "<none>";
  }

  // userAccountControl at dn, or -1.
  long long uac(const std::string& dn) {
    auto o = at(dn);
    if (!o) return -1;
    auto v = o->getInt("userAccountControl");
    return v.ok() ? v.value : -1;
  }

  void clearLog() {
    rt.log.release();
    logs.folder.write("Tavlevagt.log", "");
    (void)rt.log.open();
  }

  std::string log() const { return logs.text(); }

  bool logHas(const std::string& line) const { return log().find(line) != std::string::npos; }

  // The command lines the hooks started, one per call, blank-joined.
  std::vector<std::string> commands() const {
    std::vector<std::string> out;
    for (const auto& c : processes.calls) {
      std::string line;
      for (const auto& a : c.argv) line += (line.empty() ? "" : " ") + a;
      out.push_back(line);
    }
    return out;
  }
};

// A file record for the current population.
inline FileUser record(const std::string& login, const std::string& id) {
  FileUser u;
  u.login = login;
  u.identification = id;
  u.password = "Sommer2024!x";
  u.firstName = "Anna";
  u.lastName = "Berg";
  u.personNumber = "12345";
  u.birthDate = "070310";
  u.splitLetter = login.empty() ? "" : std::string(1, static_cast<char>(std::toupper(login[0])));
  u.description = "Autooprettet af ZEB (12345)";
  u.email = login + "@skole.test";
  u.educationShortName = "7A";
  u.street = "Vejen 1";
  u.fieldCount = 20;
  return u;
}

// The directory record the pass would hand over for the account at dn.
inline DirUser dirRecord(const std::string& login, const std::string& dn,
                         const std::string& id = "") {
  DirUser d;
  d.name = login;
  d.accountName = login;
  d.identification = id;
  d.path = "LDAP://" + dn;
  return d;
}

}  // namespace tv::test
