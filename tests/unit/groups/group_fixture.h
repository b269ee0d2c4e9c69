// A school in memory for the group tests: a runtime over the memory
// directory with the system's container tree (users, groups, group archive),
// a temp data folder, a log and a recording process runner, plus helpers
// that put users and groups into the directory and read the outcome back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "directory/escape.h"
#include "jobdata/job_reader.h"
#include "platform/memory/memory_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {

inline constexpr const char* kDomainDn = "DC=skole,DC=test";
inline constexpr const char* kGroupsDn = "OU=Grupper,OU=ZEB,DC=skole,DC=test";
inline constexpr const char* kGroupArchiveDn = "OU=Arkiv,OU=Grupper,OU=ZEB,DC=skole,DC=test";
inline constexpr const char* kStaffDn = "OU=Medarbejder,OU=ZEB,DC=skole,DC=test";
inline constexpr const char* kPupilDn = "OU=Elev,OU=ZEB,DC=skole,DC=test";

struct GroupSchool {
  LogFixture logs;
  MemoryDirectory directory;
  RecordingProcessRunner processes;
  Runtime rt;

  explicit GroupSchool(bool withArchive = true) : rt(logs.log, Ports{}, logs.folder.path()) {
    rt.ports.directory = &directory;
    rt.ports.clock = &logs.clock;
    rt.ports.processes = &processes;
    rt.fatalExit = [](int code) { ADD_FAILURE() << "fatal exit " << code; };
    rt.settings.LogLevel = 1;
    rt.settings.IDrift = true;
    std::string tree = "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n";
    for (const char* ou :
         {"OU=ZEB", "OU=Elev,OU=ZEB", "OU=Medarbejder,OU=ZEB", "OU=Grupper,OU=ZEB",
          "OU=Inaktive,OU=Elev,OU=ZEB", "OU=Arkiv,OU=Elev,OU=ZEB",
          "OU=Inaktive,OU=Medarbejder,OU=ZEB", "OU=Arkiv,OU=Medarbejder,OU=ZEB", "CN=Users"}) {
      std::string dn = std::string(ou) + "," + kDomainDn;
      tree += "dn: " + dn +
              "\nobjectClass: " + (startsWith(ou, "CN=") ? "container" : "organizationalUnit") +
              "\n\n";
    }
    if (withArchive)
      tree += "dn: " + std::string(kGroupArchiveDn) + "\nobjectClass: organizationalUnit\n\n";
    EXPECT_EQ(directory.loadLdif(tree), "");
    computeLocations(rt);
    clearLog();
  }

  // A user below containerDn (a full DN); its LDAP path.
  std::string addUser(const std::string& cn, const std::string& containerDn) {
    auto container = directory.bind(pathFromDn(containerDn));
    EXPECT_TRUE(container.ok()) << containerDn;
    auto user = container.value->create("user", "CN=" + escapeDnValue(cn));
    EXPECT_TRUE(user.ok());
    EXPECT_EQ(user.value->put("sAMAccountName", cutChars(cn, 20)), kSOk);
    EXPECT_EQ(user.value->setInfo(), kSOk) << cn;
    return pathFromDn("CN=" + escapeDnValue(cn) + "," + containerDn);
  }

  // A group below containerDn with a description (the default marking
  // attribute; empty: none) and members (LDAP paths); its LDAP path.
  std::string addGroup(const std::string& name, const std::string& containerDn,
                       const std::string& description, const std::vector<std::string>& members = {},
                       const std::string& mail = "") {
    auto container = directory.bind(pathFromDn(containerDn));
    EXPECT_TRUE(container.ok()) << containerDn;
    auto group = container.value->create("group", "CN=" + escapeDnValue(name));
    EXPECT_TRUE(group.ok());
    EXPECT_EQ(group.value->put("sAMAccountName", name), kSOk);
    if (!description.empty()) {
      EXPECT_EQ(group.value->put("description", description), kSOk);
    }
    if (!mail.empty()) {
      EXPECT_EQ(group.value->put("mail", mail), kSOk);
    }
    EXPECT_EQ(group.value->setInfo(), kSOk) << name;
    std::string path = pathFromDn("CN=" + escapeDnValue(name) + "," + containerDn);
    auto bound = directory.bind(path);
    for (const std::string& m : members) EXPECT_EQ(bound.value->addMember(m), kSOk) << m;
    return path;
  }

  [[nodiscard]] bool exists(const std::string& dn) { return directory.bind(pathFromDn(dn)).ok(); }

  // The attribute's first value, "" when the object or the value is missing.
  std::string attr(const std::string& dn, const std::string& name) {
    auto o = directory.bind(pathFromDn(dn));
    if (!o.ok()) return "";
    auto v = o.value->get(name);
    return v.ok() ? v.value : "";
  }

  // The cn of every member of a group, sorted.
  std::vector<std::string> members(const std::string& groupDn) {
    std::vector<std::string> out;
    auto g = directory.bind(pathFromDn(groupDn));
    if (!g.ok()) return out;
    auto all = g.value->members();
    for (const std::string& p : all.value) {
      auto rdns = parseDn(dnFromPath(p));
      out.push_back(rdns && !rdns->empty() ? rdns->front().value : p);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // A job text as the registers write it (Windows-1252 on disk).
  JobReader reader(const std::string& utf8Text) {
    return JobReader(rt.log, utf8ToCp1252(utf8Text), "brovalt-1.dat");
  }

  void clearLog() {
    rt.log.release();
    logs.folder.write("Tavlevagt.log", "");
    (void)rt.log.open();
  }

  [[nodiscard]] std::string log() const { return logs.text(); }

  // The log's lines that contain needle, in order.
  [[nodiscard]] std::vector<std::string> linesWith(const std::string& needle) const {
    std::vector<std::string> out;
    for (const std::string& l : split(logs.text(), '\n')) {
      if (l.find(needle) != std::string::npos) out.push_back(l);
    }
    return out;
  }
};

inline std::string groupDn(const std::string& name) {
  return "CN=" + escapeDnValue(name) + "," + kGroupsDn;
}
inline std::string archivedDn(const std::string& name) {
  return "CN=" + escapeDnValue(name) + "," + kGroupArchiveDn;
}

// A staff line with 20 fields; groups is field 7.
inline std::string staffLine(const std::string& login, const std::string& groups) {
  return login + ";" + std::string(32, 'a') + ";Kode1;For;Efter;1;010170;" + groups +
         ";;;;;;;;;;;;";
}

// A pupil line with 17 fields; groups is field 7.
inline std::string pupilLine(const std::string& login, const std::string& groups) {
  return login + ";" + std::string(32, 'b') + ";Kode1;For;Efter;2;010110;" + groups + ";;;;;;;;;";
}

}  // namespace tv::test
