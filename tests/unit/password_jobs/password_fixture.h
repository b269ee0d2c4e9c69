// A school for the password jobs: a runtime over the memory directory (whose
// clock is the fake one, so pwdLastSet has a known value), a temp data folder
// that is also the log's folder, and a recording process runner standing in
// for the UNI-login program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/memory/memory_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "support/fakes.h"
#include "text/cipher.h"

namespace tv::test {

// The job folder's time stamp as the "Flytter" lines show it.
inline constexpr const char* kStamp = "Fri Jun 17 10:42:52 2022\n";
// pwdLastSet after a password set at the fake clock's time.
inline constexpr const char* kPwdLastSetNow = "132999361720000000";

// One enciphered record line of a password job.
inline std::string enc(const std::string& clear) {
  return cipher::encipher(clear);
}

struct PasswordSchool {
  LogFixture logs;
  MemoryDirectory directory{MemoryDirectoryOptions{"DC=skole,DC=test", false, "", &logs.clock}};
  RecordingProcessRunner processes;
  Runtime rt;

  PasswordSchool() : rt(logs.log, Ports{}, logs.folder.path()) {
    rt.ports.directory = &directory;
    rt.ports.clock = &logs.clock;
    rt.ports.processes = &processes;
    rt.settings.IDrift = true;
    rt.settings.LogLevel = 1;
    rt.log.setDirectoryErrorSource([this] { return directory.lastError(); });
    EXPECT_EQ(directory.loadLdif("dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
                                 "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
                                 "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\n"
                                 "objectClass: organizationalUnit\n\n"),
              "");
    computeLocations(rt);
    clearLog();
  }

  // A user below OU=Elev; locked: lockoutTime set as after too many bad logins.
  void addUser(const std::string& login, bool disabled = false, bool locked = false) {
    std::string dn = "CN=" + login + ",OU=Elev,OU=ZEB,DC=skole,DC=test";
    ldif_ += "dn: " + dn +
             "\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
             "objectClass: user\ncn: " +
             login + "\nname: " + login +
             "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
             "sAMAccountName: " +
             login + "\nuserAccountControl: " + (disabled ? "514" : "512") + "\n" +
             (locked ? "lockoutTime: 132999000000000000\n" : "") + "\n";
    EXPECT_EQ(directory.loadLdif(base_ + ldif_), "");
  }

  // An account whose name (cn) and login (sAMAccountName) differ, below ou
  // ("OU=Elev" or "OU=Andre", below OU=ZEB).
  void addNamed(const std::string& cn, const std::string& login, const std::string& ou) {
    ldif_ +=
        "dn: CN=" + cn + "," + ou + ",OU=ZEB,DC=skole,DC=test\nobjectClass: top\n" +
        "objectClass: person\nobjectClass: organizationalPerson\nobjectClass: user\ncn: " + cn +
        "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n" +
        "sAMAccountName: " + login + "\nuserAccountControl: 512\n\n";
    EXPECT_EQ(directory.loadLdif(base_ + ldif_), "");
  }

  // An attribute of the account at dn (below OU=ZEB), "" when it has none.
  std::string attrAt(const std::string& dn, const std::string& name) {
    auto user = directory.bind("LDAP://" + dn + ",OU=ZEB,DC=skole,DC=test");
    if (!user.ok()) return "<no user>";
    auto v = user.value->get(name);
    return v.ok() ? v.value : "";
  }

  // An attribute of a user, "" when it has none.
  std::string attr(const std::string& login, const std::string& name) {
    auto user = directory.bind("LDAP://CN=" + login + ",OU=Elev,OU=ZEB,DC=skole,DC=test");
    if (!user.ok()) return "<no user>";
    auto v = user.value->get(name);
    return v.ok() ? v.value : "";
  }

  // Writes a password job of these lines (CR LF, as the registers write).
  void job(const std::string& name, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& l : lines) bytes += l + "\r\n";
    logs.folder.write(name, bytes);
  }

  [[nodiscard]] bool exists(const std::string& name) const {
    std::error_code ec;
    return std::filesystem::exists(logs.folder.file(name), ec);
  }

  // The log file's text since the last clearLog().
  [[nodiscard]] std::string log() const { return logs.text(); }

  void clearLog() {
    rt.log.release();
    logs.folder.write("Tavlevagt.log", "");
    (void)rt.log.open();
  }

 private:
  std::string base_ =
      "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
      "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
      "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
      "dn: OU=Andre,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";
  std::string ldif_;
};

}  // namespace tv::test
