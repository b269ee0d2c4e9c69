// The file server port on a Windows or Samba file server, reached the way a
// Windows client reaches it: folders and NT access lists over SMB with
// Samba's client library, shares through the server service (srvsvc) with
// libnetapi.
//
// Credentials: the machine's Kerberos identity (the credentials cache in
// KRB5CCNAME, filled from the keytab) unless a credentials file is named.
// That file has Samba's credentials-file form: "username = …",
// "password = …", "domain = …" lines.
//
// libnetapi keeps one context per process, so a process opens one
// SmbFileServer; its calls are serialised inside.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/file_server.h"

namespace tv {

// The file-server setting of the settings file's [FileShare] section; the
// member carries its key.
struct SmbSettings {
  // A credentials file; empty: the machine's Kerberos identity.
  std::string FileServerCredentials;
};

struct SmbCredentials {
  bool kerberos = true;
  std::string user;
  std::string password;
  std::string domain;
};

// The credentials of a credentials file; nullopt (with the reason in *why)
// when it cannot be read or names no user.
[[nodiscard]] std::optional<SmbCredentials> loadSmbCredentials(const std::string& path,
                                                               std::string* why = nullptr);
[[nodiscard]] std::optional<SmbCredentials> parseSmbCredentials(std::string_view text);

// "\\server\share\a b" -> "smb://server/share/a%20b"; both separators count.
[[nodiscard]] std::string smbUrl(std::string_view uncPath);

// The access list as libsmbclient's numeric descriptor text shows it
// ("ACL:S-1-5-18:0/3/0x001f01ff" entries) and back.
[[nodiscard]] std::vector<AccessEntry> parseSecurityDescriptor(std::string_view text);
[[nodiscard]] std::string formatAccessList(const std::vector<AccessEntry>& entries);

class SmbFileServer : public FileServer {
 public:
  // nullptr (with the reason in *why) when the client libraries cannot start.
  static std::unique_ptr<SmbFileServer> open(const SmbCredentials& credentials,
                                             std::string* why = nullptr);
  ~SmbFileServer() override;
  SmbFileServer(const SmbFileServer&) = delete;
  SmbFileServer& operator=(const SmbFileServer&) = delete;

  bool exists(std::string_view path) override;
  int makeFolder(std::string_view path) override;
  int makeSecureFolder(std::string_view path, const std::vector<AccessEntry>& entries) override;
  int readAccess(std::string_view path, std::vector<AccessEntry>& entries) override;
  int writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) override;
  int move(std::string_view from, std::string_view to) override;
  int removeTree(std::string_view path) override;

  Hresult openServer(const std::string& server) override;
  Hresult addShare(const std::string& server, const std::string& name, const std::string& localPath,
                   std::uint32_t maxUsers) override;
  Hresult deleteShare(const std::string& server, const std::string& name) override;
  ShareInfo shareInfo(const std::string& server, const std::string& name) override;

  struct Impl;

 private:
  explicit SmbFileServer(std::unique_ptr<Impl> impl);
  int removeTreeLocked(const std::string& url);
  int writeAccessLocked(const std::string& url, const std::vector<AccessEntry>& entries);
  Hresult enumerateLocked(const std::string& server);

  std::unique_ptr<Impl> impl_;
  std::mutex mutex_;  // neither client library is safe across threads
};

// The adapter as the service runs it: the machine's Kerberos identity, or the
// credentials file named by FileServerCredentials. nullptr (with the reason
// in *why) when the file cannot be read or the client libraries cannot start.
[[nodiscard]] std::unique_ptr<SmbFileServer> openSmbFileServer(const SmbSettings& settings,
                                                               std::string* why = nullptr);

}  // namespace tv
