// What the benchmarks against the test domain controller share: finding the
// domain through the harness's env file, an admin connection through the
// LDAP adapter, and OpenLDAP's own tools (ldapadd to fill a domain quickly,
// ldapsearch as the yardstick) run with the same credentials.
//
// The env file is the one TAVLEVAGT_SAMBA_ENV names, else the harness's
// default; tests/integration/samba/samba-dc.sh writes it ("use plain", or
// "isolated plain -- <benchmark>").
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "directory/directory.h"
#include "log/log.h"
#include "platform/ldap/ldap_directory.h"

extern char** environ;

namespace tv::bench {

struct DomainController {
  std::map<std::string, std::string> env;
  std::string why;  // why there is none, or ""

  [[nodiscard]] bool ok() const { return why.empty(); }
  [[nodiscard]] const std::string& operator[](const std::string& key) const {
    static const std::string kNone;
    auto it = env.find(key);
    return it == env.end() ? kNone : it->second;
  }
};

inline DomainController domainController() {
  DomainController dc;
  const char* file = std::getenv("TAVLEVAGT_SAMBA_ENV");
  const std::string path = file != nullptr ? file : "/tmp/tv-samba/dc.env";
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) dc.env[line.substr(0, eq)] = line.substr(eq + 1);
  }
  for (const char* key : {"SAMBA_URI", "SAMBA_BASE_DN", "SAMBA_ADMIN_DN",
                          "SAMBA_ADMIN_PASSWORD_FILE", "SAMBA_CA_FILE"}) {
    if (dc[key].empty()) {
      dc.why = "no " + std::string(key) + " in " + path +
               " (run through tests/integration/samba/samba-dc.sh isolated plain -- …)";
      break;
    }
  }
  return dc;
}

// The administrator's connection through the LDAP adapter; null when it
// cannot be opened (the reason is in the log).
inline std::unique_ptr<Directory> openAdminDirectory(const DomainController& dc, Log& log) {
  LdapSettings s;
  s.LdapServer = dc["SAMBA_URI"];
  s.LdapBind = "simple";
  s.LdapBindName = dc["SAMBA_ADMIN_DN"];
  s.LdapPasswordFile = dc["SAMBA_ADMIN_PASSWORD_FILE"];
  s.LdapCaFile = dc["SAMBA_CA_FILE"];
  return openLdapDirectory(s, log);
}

// Runs an OpenLDAP tool ("ldapadd", "ldapsearch", …) as the administrator
// over the domain's URI, the arguments after the connection's own; standard
// output goes to `output`. Its exit code, or -1 when it could not run.
inline int runLdapTool(const DomainController& dc, const std::string& tool,
                       const std::vector<std::string>& args,
                       const std::string& output = "/dev/null") {
  std::vector<std::string> argv = {tool, "-x",
                                   "-H", dc["SAMBA_URI"],
                                   "-D", dc["SAMBA_ADMIN_DN"],
                                   "-y", dc["SAMBA_ADMIN_PASSWORD_FILE"]};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);
  envText.push_back("LDAPTLS_CACERT=" + dc["SAMBA_CA_FILE"]);
  envText.push_back("LDAPTLS_REQCERT=demand");
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ldapadd -c of an LDIF text: entries already there are passed over, so an
// interrupted fill is completed by the next run.
inline int ldapaddText(const DomainController& dc, const std::string& ldif,
                       const std::string& scratchFile) {
  std::ofstream(scratchFile, std::ios::binary) << ldif;
  const int rc = runLdapTool(dc, "ldapadd", {"-c", "-f", scratchFile});
  std::remove(scratchFile.c_str());
  return rc;
}

// The accounts right below a container, or -1 when it cannot be read.
inline long accountsIn(Directory& directory, const std::string& container) {
  long rows = 0;
  const Hresult hr = directory.search(container, "(objectClass=user)", {"sAMAccountName"},
                                      SearchScope::kOneLevel, 1000, [&rows](const SearchRow&) {
                                        ++rows;
                                        return true;
                                      });
  return hr < 0 ? -1 : rows;
}

// Deletes a container and everything below it ("LDAP://…").
inline void deleteTree(Directory& directory, const std::string& path) {
  auto object = directory.bind(path);
  if (!object.ok()) return;
  auto children = object.value->children("");
  if (children.ok()) {
    for (const std::string& child : children.value) deleteTree(directory, child);
  }
  auto parent = directory.bind(object.value->parent());
  if (parent.ok()) {
    (void)parent.value->deleteChild(object.value->className(), object.value->name());
  }
}

}  // namespace tv::bench
