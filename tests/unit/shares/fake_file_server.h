// A file server in memory for the folder and share operations: folders keyed
// by their UNC path ("\" and "/" alike), each with its access list (a new
// plain folder takes what its parent hands down), shares per server, every
// call recorded, and failures that a test can switch on per operation.
#pragma once

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ports/file_server.h"

namespace tv::test {

class FakeFileServer : public FileServer {
 public:
  struct Share {
    std::string path;
    std::uint32_t maxUsers = 0;
  };

  std::map<std::string, std::vector<AccessEntry>> folders;  // normalised path -> list
  std::map<std::string, Share> shares;                      // "server|name" (lower case)
  std::vector<std::string> calls;
  std::set<std::string> unreachableServers;
  std::set<std::string> failWrites;  // normalised paths whose list cannot be written
  int failMakeFolder = 0;            // errno for every folder creation
  Hresult failAddShare = kSOk;

  static std::string key(std::string_view path) {
    std::string k(path);
    for (char& c : k) {
      if (c == '/') c = '\\';
    }
    return k;
  }
  static std::string shareKey(const std::string& server, const std::string& name) {
    std::string k = server + "|" + name;
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
  }
  void addRoot(std::string_view path, std::vector<AccessEntry> entries = {}) {
    folders[key(path)] = std::move(entries);
  }
  [[nodiscard]] bool has(std::string_view path) const { return folders.count(key(path)) != 0; }
  [[nodiscard]] const std::vector<AccessEntry>& access(std::string_view path) const {
    static const std::vector<AccessEntry> kNone;
    auto it = folders.find(key(path));
    return it == folders.end() ? kNone : it->second;
  }
  [[nodiscard]] const Share* share(const std::string& server, const std::string& name) const {
    auto it = shares.find(shareKey(server, name));
    return it == shares.end() ? nullptr : &it->second;
  }

  bool exists(std::string_view path) override { return has(path); }

  int makeFolder(std::string_view path) override {
    calls.push_back("mkdir " + key(path));
    int rc = checkNew(path);
    if (rc != 0) return rc;
    std::vector<AccessEntry> inherited;
    for (const AccessEntry& e : folders[parentOf(key(path))]) {
      if ((e.flags & kContainerInherit) != 0) {
        AccessEntry copy = e;
        copy.flags = static_cast<std::uint8_t>((e.flags & 0x03) | kInheritedEntry);
        inherited.push_back(copy);
      }
    }
    folders[key(path)] = inherited;
    return 0;
  }
  int makeSecureFolder(std::string_view path, const std::vector<AccessEntry>& entries) override {
    calls.push_back("mkdir+acl " + key(path));
    int rc = checkNew(path);
    if (rc != 0) return rc;
    if (failWrites.count(key(path)) != 0) return EACCES;
    folders[key(path)] = entries;
    return 0;
  }
  int readAccess(std::string_view path, std::vector<AccessEntry>& entries) override {
    if (!has(path)) return ENOENT;
    entries = folders[key(path)];
    return 0;
  }
  int writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) override {
    calls.push_back("setacl " + key(path));
    if (!has(path)) return ENOENT;
    if (failWrites.count(key(path)) != 0) return EACCES;
    folders[key(path)] = entries;
    return 0;
  }
  int move(std::string_view from, std::string_view to) override {
    calls.push_back("move " + key(from) + " -> " + key(to));
    const std::string f = key(from);
    const std::string t = key(to);
    if (!has(f)) return ENOENT;
    if (has(t)) return EEXIST;
    if (!has(parentOf(t))) return ENOENT;
    std::map<std::string, std::vector<AccessEntry>> moved;
    for (auto it = folders.begin(); it != folders.end();) {
      if (it->first == f || it->first.starts_with(f + "\\")) {
        moved[t + it->first.substr(f.size())] = it->second;
        it = folders.erase(it);
      } else {
        ++it;
      }
    }
    folders.insert(moved.begin(), moved.end());
    return 0;
  }
  int removeTree(std::string_view path) override {
    calls.push_back("rmtree " + key(path));
    const std::string f = key(path);
    if (!has(f)) return ENOENT;
    std::erase_if(folders,
                  [&](const auto& p) { return p.first == f || p.first.starts_with(f + "\\"); });
    return 0;
  }

  Hresult openServer(const std::string& server) override {
    return unreachableServers.count(server) != 0 ? hresultOf(0x800706BA) : kSOk;
  }
  Hresult addShare(const std::string& server, const std::string& name, const std::string& path,
                   std::uint32_t maxUsers) override {
    calls.push_back("addshare " + name + " " + path);
    if (failAddShare < 0) return failAddShare;
    if (share(server, name) != nullptr) return kShareExists;
    shares[shareKey(server, name)] = {path, maxUsers};
    return kSOk;
  }
  Hresult deleteShare(const std::string& server, const std::string& name) override {
    calls.push_back("delshare " + name);
    return shares.erase(shareKey(server, name)) != 0 ? kSOk : kShareNotFound;
  }
  ShareInfo shareInfo(const std::string& server, const std::string& name) override {
    ShareInfo out;
    const Share* s = share(server, name);
    out.hr = s != nullptr ? kSOk : kShareNotFound;
    if (s != nullptr) {
      out.path = s->path;
      out.maxUsers = s->maxUsers;
    }
    return out;
  }

 private:
  static std::string parentOf(const std::string& k) {
    auto p = k.find_last_of('\\');
    return p == std::string::npos ? "" : k.substr(0, p);
  }
  int checkNew(std::string_view path) {
    if (failMakeFolder != 0) return failMakeFolder;
    if (has(path)) return EEXIST;
    if (!has(parentOf(key(path)))) return ENOENT;
    return 0;
  }
};

}  // namespace tv::test
