// What a test needs to reach the throw-away Samba AD domain controller: its
// address, base DN, admin credentials and CA file, read from the env file the
// harness writes (named by TAVLEVAGT_SAMBA_ENV), plus a few admin chores done
// straight over LDAP (clearing a test container, changing domain policy) that
// no product code should offer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ldap/ldap_directory.h"

namespace tv::test {

struct SambaDc {
  std::string variant;   // "plain" or "mail"
  std::string host;      // 127.0.0.1
  std::string uri;       // ldaps://127.0.0.1
  std::string plainUri;  // ldap://127.0.0.1
  std::string realm;
  std::string domain;
  std::string baseDn;
  std::string adminUser;  // Administrator@SKOLE.TEST
  std::string adminDn;
  std::string adminPassword;
  std::string adminPasswordFile;
  std::string caFile;
  std::string conf;
  std::string shareRoot;
  std::string harness;
};

// The running domain controller, or nullopt (with the reason in *why) when
// the env file is missing or incomplete.
[[nodiscard]] std::optional<SambaDc> loadSambaDc(std::string* why = nullptr);

// The running domain controller, read once; a program run without one stops
// at once with the reason, since none of its tests could mean anything.
[[nodiscard]] const SambaDc& requireSambaDc();

// Settings that reach the domain controller over ldaps, simple bind as
// Administrator with the password in passwordFile (empty: the harness's).
[[nodiscard]] LdapSettings adminSettings(const SambaDc& dc, const std::string& passwordFile = {});

// Runs the harness with these arguments ("stop", "start" …); its exit code.
int runHarness(const SambaDc& dc, const std::vector<std::string>& args);

// An administrator's LDAP connection over ldaps with the test CA.
class AdminLdap {
 public:
  explicit AdminLdap(const SambaDc& dc);
  ~AdminLdap();
  AdminLdap(const AdminLdap&) = delete;
  AdminLdap& operator=(const AdminLdap&) = delete;

  // 0 when bound; otherwise the LDAP result code of the failure.
  [[nodiscard]] int status() const { return status_; }

  // Deletes dn with everything below it; 0 or the LDAP result (32 when it
  // did not exist).
  int deleteTree(const std::string& dn);
  // Adds an organizationalUnit.
  int addOu(const std::string& dn);
  // Replaces one attribute's values.
  int replace(const std::string& dn, const std::string& attr,
              const std::vector<std::string>& values);
  // Adds a whole entry from (attribute, value) pairs.
  int add(const std::string& dn, const std::vector<std::pair<std::string, std::string>>& attrs);
  // The values of one attribute of one entry ({} when absent).
  std::vector<std::string> read(const std::string& dn, const std::string& attr);

 private:
  void* ld_ = nullptr;
  int status_ = -1;
};

// A simple bind over ldaps as dn with password: the LDAP result code
// (0 success, 49 invalid credentials …).
int simpleBind(const SambaDc& dc, const std::string& dn, const std::string& password);

}  // namespace tv::test
