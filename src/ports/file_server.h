// The file server port: home, profile and group folders with their NT access
// lists, folder moves and recursive deletes, and the server's file shares.
//
// Folders are named by UNC paths ("\\server\share\A\abc"); "\" and "/" both
// separate parts. Folder results are 0 or a system error number of the
// platform (ports/system_error.h) that the product hands to the log.
//
// Shares are managed through the server's own server service, named by the
// server and the share name, with the path local to the server. Share results
// are HRESULTs with the two the product tells apart: kShareExists when a
// share of that name is already there, kShareNotFound when it is not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "directory/hresult.h"

namespace tv {

inline constexpr Hresult kShareExists = hresultOf(0x8000500E);    // E_ADS_OBJECT_EXISTS
inline constexpr Hresult kShareNotFound = hresultOf(0x80070906);  // NERR_NetNameNotFound

// The HRESULT of a server-service (NetShare*) status, for every file server
// adapter: "exists" and "does not exist" as the product tells them apart
// (Samba also answers a lookup of a missing share with ERROR_INVALID_NAME),
// anything else as HRESULT_FROM_WIN32.
[[nodiscard]] Hresult shareStatusToHresult(std::uint32_t status, bool lookup);

// Inheritance flags of an access entry as NT stores them.
inline constexpr std::uint8_t kObjectInherit = 0x01;
inline constexpr std::uint8_t kContainerInherit = 0x02;
inline constexpr std::uint8_t kInheritedEntry = 0x10;

// All standard and specific rights.
inline constexpr std::uint32_t kAllAccess = 0x1FFFFF;

// One entry of a folder's access list.
struct AccessEntry {
  enum Type : std::uint8_t { kAllow = 0, kDeny = 1 };

  std::string sid;  // "S-1-5-…"
  std::uint32_t mask = 0;
  std::uint8_t flags = kObjectInherit | kContainerInherit;
  std::uint8_t type = kAllow;

  friend bool operator==(const AccessEntry&, const AccessEntry&) = default;
};

struct ShareInfo {
  Hresult hr = kEFail;
  std::string path;  // as the server reports it
  std::uint32_t maxUsers = 0;

  [[nodiscard]] bool ok() const { return hr >= 0; }
};

class FileServer {
 public:
  virtual ~FileServer() = default;

  // True when the folder's (or file's) attributes can be read.
  [[nodiscard]] virtual bool exists(std::string_view path) = 0;
  // A folder that takes the access list its parent hands down.
  virtual int makeFolder(std::string_view path) = 0;
  // A folder whose access list is exactly these explicit entries, nothing
  // inherited from above. When the list cannot be set the folder is removed
  // again, so a folder never stands with rights other than asked for.
  virtual int makeSecureFolder(std::string_view path, const std::vector<AccessEntry>& entries) = 0;
  // The folder's access list, inherited entries included (kInheritedEntry).
  virtual int readAccess(std::string_view path, std::vector<AccessEntry>& entries) = 0;
  // Replaces the folder's access list.
  virtual int writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) = 0;
  // Renames or moves a folder on the same share; an existing target fails.
  virtual int move(std::string_view from, std::string_view to) = 0;
  // Deletes a folder with everything below it.
  virtual int removeTree(std::string_view path) = 0;

  // kSOk when the server's server service answers.
  virtual Hresult openServer(const std::string& server) = 0;
  virtual Hresult addShare(const std::string& server, const std::string& name,
                           const std::string& localPath, std::uint32_t maxUsers) = 0;
  virtual Hresult deleteShare(const std::string& server, const std::string& name) = 0;
  [[nodiscard]] virtual ShareInfo shareInfo(const std::string& server, const std::string& name) = 0;
};

}  // namespace tv
