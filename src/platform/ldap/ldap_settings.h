// The connection an LdapSettings asks for, checked once when the directory
// is opened: the servers of LdapServer, the bind method, for a simple bind
// the name and the password from its file, and the TLS choices.
#pragma once

#include <optional>
#include <string>

#include "platform/ldap/ldap_directory.h"
#include "ports/log_sink.h"

namespace tv::ldap {

struct ConnectOptions {
  std::string uris;  // LdapServer's URIs, one blank between them
  bool simple = false;
  std::string bindName;
  std::string password;  // the first line of LdapPasswordFile
  std::string caFile;
  bool startTls = false;
};

// The first line of a password file, or nullopt after the reason in the log.
[[nodiscard]] std::optional<std::string> readPasswordFile(const std::string& path, LogSink& log);

// The options, or nullopt after the reason in the log: no server, an unknown
// bind method, a simple bind without its name or a readable password file.
[[nodiscard]] std::optional<ConnectOptions> connectOptionsOf(const LdapSettings& settings,
                                                             LogSink& log);

}  // namespace tv::ldap
