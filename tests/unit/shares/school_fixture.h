// A school for the folder and share operations: the memory directory with a
// few accounts that carry the identifiers the domain gave them, a file
// server in memory with the home share root, and a runtime in live mode with
// staff shares on \\fs\home (D:\home on the server) and home drive H:.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "directory/sid.h"
#include "fake_file_server.h"
#include "jobdata/file_user.h"
#include "platform/memory/memory_directory.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "support/fakes.h"
#include "support/faulty_directory.h"
#include "text/cipher.h"

namespace tv::test {

inline constexpr const char* kRoot = "\\\\fs\\home";
inline constexpr const char* kAbcSid = "S-1-5-21-1-2-3-1101";
inline constexpr const char* kGroupSid = "S-1-5-21-1-2-3-1201";
inline constexpr const char* kDomainUsersSid = "S-1-5-21-1-2-3-513";
inline const AccessEntry kRootEntry{kDomainUsersSid, 0x1200A9, 3, AccessEntry::kAllow};

inline std::string accountLdif(const std::string& cn, const std::string& cls,
                               const std::string& sid) {
  std::string e = "dn: CN=" + cn +
                  ",OU=ZEB,DC=skole,DC=test\nobjectClass: top\nobjectClass: " + cls +
                  "\ncn: " + cn + "\nsAMAccountName: " + cn + "\n";
  if (!sid.empty()) e += "objectSid:: " + cipher::base64Encode(*sidFromString(sid)) + "\n";
  return e + "\n";
}

struct School {
  LogFixture logs;
  MemoryDirectory directory;
  // The account nosid is one whose identifier the directory cannot give.
  FaultyDirectory faulty{directory};
  FakeFileServer files;
  RecordingProcessRunner processes;
  Runtime rt;

  School() : rt(logs.log, Ports{}, logs.folder.path()) {
    faulty.hideAttribute("CN=nosid,", "objectSid");
    rt.ports.directory = &faulty;
    rt.ports.files = &files;
    rt.ports.clock = &logs.clock;
    rt.ports.processes = &processes;
    rt.settings.IDrift = true;
    rt.settings.LogLevel = 1;
    rt.trim.defaultNamingContext = "DC=skole,DC=test";
    rt.trim.dnsDomain = "skole.test";
    std::string ldif =
        "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
        "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n" +
        accountLdif("abc", "user", kAbcSid) + accountLdif("abd", "user", "S-1-5-21-1-2-3-1102") +
        accountLdif("nosid", "user", "") + accountLdif("7a", "group", kGroupSid);
    EXPECT_EQ(directory.loadLdif(ldif), "");
    Settings& s = rt.settings;
    s.OpretShareMeda = 1;
    s.HideShareMeda = true;
    s.FileServerShareMeda = kRoot;
    s.FileServerPathMeda = "D:\\home";
    s.HomeDirDriveMeda = "H:";
    s.UserProfileShareMedaCreate = false;
    s.OpretShareElev = 1;
    s.FileServerShareElev = "\\\\fs\\elever";
    s.FileServerPathElev = "D:\\elever";
    s.UserProfileShareElevCreate = false;
    files.addRoot(kRoot, {kRootEntry});
    files.addRoot("\\\\fs\\elever", {kRootEntry});
    select(true);
  }

  // Makes staff or pupils current after settings changes.
  void select(bool staff) {
    if (staff) {
      selectStaff(rt);
    } else {
      selectPupils(rt);
    }
  }

  [[nodiscard]] std::string log() const { return logs.text(); }
  [[nodiscard]] bool logHas(const std::string& text) const {
    return log().find(text) != std::string::npos;
  }

  // The user object of an account below OU=ZEB.
  std::unique_ptr<DirObject> object(const std::string& cn) {
    auto b = directory.bind("LDAP://CN=" + cn + ",OU=ZEB,DC=skole,DC=test");
    EXPECT_TRUE(b.ok());
    return std::move(b.value);
  }
  std::string value(const std::string& cn, const std::string& attr) {
    auto v = object(cn)->get(attr);
    return v.ok() ? v.value : "<none>";
  }
};

inline FileUser userRecord(const std::string& login, const std::string& previous = "") {
  FileUser u;
  u.login = login;
  u.splitLetter = std::string(1, static_cast<char>(std::toupper(login[0])));
  u.previousLogin = previous;
  return u;
}

// The three entries every folder made for an account gets.
inline std::vector<AccessEntry> threeEntries(const std::string& sid, std::uint32_t mask) {
  return {{sid, mask, 3, AccessEntry::kAllow},
          {"S-1-5-32-544", 0x1FFFFF, 3, AccessEntry::kAllow},
          {"S-1-5-18", 0x1FFFFF, 3, AccessEntry::kAllow}};
}

}  // namespace tv::test
