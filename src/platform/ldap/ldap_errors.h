// What the LDAP adapters say about failures, whichever client library they
// use: each thread's last failure as Directory::lastError() gives it, the
// text a failed call leaves there, and the log lines of a connection's life.
// No client library here, so every LDAP adapter shares the same words.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "directory/directory.h"
#include "ports/log_sink.h"

namespace tv::ldap {

// The provider name the Windows directory interfaces give their LDAP errors.
inline constexpr const char* kProvider = "LDAP Provider";

// The last failure of each calling thread. A call that fails records it; a
// call that succeeds clears it, so lastError() tells about the caller's own
// last call even while another thread uses the same directory.
class CallErrors {
 public:
  // Records the failure for the calling thread and gives hr back. The
  // extended error is what the Windows directory interfaces give: the code
  // the server's diagnostic text begins with ("00002071: …"), or the
  // HRESULT's own, so the log reads as it does for the memory directory.
  Hresult fail(Hresult hr, std::string text);
  void succeed();
  [[nodiscard]] std::optional<DirectoryError> last() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::thread::id, DirectoryError> errors_;
};

// The text of a failed call: the server's diagnostic message after the
// library's text of the result code ("Constraint violation: 0000052D: …"),
// the diagnostic alone when it is a domain controller's own code or the same
// text, the library's text when the server gave none; context first when given.
[[nodiscard]] std::string failureText(std::string_view resultText, std::string_view diagnostic,
                                      std::string_view context = {});

// The log lines of a connection's life; servers is LdapServer as used.
void reportInvalidServer(LogSink& log, const std::string& servers, std::string_view reason);
void reportConnectFailed(LogSink& log, const std::string& servers, std::string_view reason);
void reportReconnecting(LogSink& log, const std::string& servers);
void reportRestored(LogSink& log, const std::string& servers);
void reportClearTextBindRefused(LogSink& log, const std::string& servers);

}  // namespace tv::ldap
