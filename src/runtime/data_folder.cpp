#include "runtime/data_folder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "ports/local_files.h"
#include "runtime/runtime.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

void makeWritable(const fs::path& p, bool directory) {
  std::error_code ec;
  fs::perms add = directory ? fs::perms::owner_all : fs::perms::owner_write;
  fs::permissions(p, add, fs::perm_options::add | fs::perm_options::nofollow, ec);
}

}  // namespace

std::vector<std::string> findFiles(const std::string& folder, std::string_view prefix,
                                   std::string_view suffix, SystemError* error,
                                   std::vector<std::string>* links) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(pathFromUtf8(folder), ec);
  if (ec) {
    if (error != nullptr) *error = ec;
    return names;
  }
  for (const fs::directory_entry& e : it) {
    std::string name = utf8FromPath(e.path().filename());
    if (name.empty() || name[0] == '.') continue;
    if (name.size() < prefix.size() + suffix.size()) continue;
    if (!asciiEqualsIgnoreCase(std::string_view(name).substr(0, prefix.size()), prefix)) continue;
    if (!asciiEqualsIgnoreCase(std::string_view(name).substr(name.size() - suffix.size()),
                               suffix)) {
      continue;
    }
    std::error_code fec;
    if (e.is_symlink(fec)) {
      if (links != nullptr) links->push_back(std::move(name));
      continue;
    }
    if (!e.is_regular_file(fec)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  if (links != nullptr) std::sort(links->begin(), links->end());
  if (error != nullptr) *error = SystemError();
  return names;
}

void removeStaleTemporaryFiles(Runtime& rt) {
  std::error_code ec;
  fs::directory_iterator it(pathFromUtf8(rt.dataFolder), ec);
  if (ec) return;
  for (const fs::directory_entry& e : it) {
    const std::string name = utf8FromPath(e.path().filename());
    if (!name.starts_with(kSnapshotTempStem) && !name.starts_with(kDownloadTempStem)) continue;
    std::error_code eec;
    if (e.is_directory(eec) && !e.is_symlink(eec)) continue;
    // remove() takes a link itself, never what it points to.
    if (fs::remove(e.path(), eec)) {
      rt.log.message(lvl::kFile, "** Info: Efterladt midlertidig fil %s er slettet.\n",
                     name.c_str());
    }
  }
}

std::string fileErrorText(const Log& log, const SystemError& error) {
  if (isLinkRefusal(error)) return "det er et symbolsk link, som ikke følges";
  return std::string(trim(log.systemText(error)));
}

namespace {

bool fileNameSafe(char32_t c) {
  if (c < 0x20 || c == 0x7F) return false;
  switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return false;
    default:
      return true;
  }
}

}  // namespace

std::string listFileName(std::string_view listName, std::string_view sequence) {
  std::u32string cps = toCodePoints(std::string(listName) + "-" + std::string(sequence));
  for (char32_t& c : cps) {
    if (!fileNameSafe(c)) c = '_';
  }
  std::string name = fromCodePoints(cps);
  if (name == "." || name == ".." || name.starts_with("..")) name.replace(0, 2, "__");
  return cutChars(name + ".txt", kListFileNameChars);
}

std::time_t lastWriteTime(const std::string& path) {
  std::error_code ec;
  fs::file_time_type t = fs::last_write_time(pathFromUtf8(path), ec);
  if (ec) return -1;
  return std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(t)));
}

int deleteFolderTree(Runtime& rt, const std::string& path, const std::string& alternative) {
  const fs::path folder = pathFromUtf8(path);
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec))) return 1;
  makeWritable(folder, true);
  fs::directory_iterator it(folder, ec);
  if (!ec) {
    for (const fs::directory_entry& e : it) {
      std::error_code eec;
      if (e.is_directory(eec) && !e.is_symlink(eec)) {
        deleteFolderTree(rt, utf8FromPath(e.path()));
        continue;
      }
      if (rt.settings.LogLevel > 2) {
        rt.log.message(lvl::kFile, "         Sletter %s\n",
                       utf8FromPath(e.path().filename()).c_str());
      }
      if (!e.is_symlink(eec)) makeWritable(e.path(), false);
      if (!fs::remove(e.path(), eec)) {
        Log::setLastError(eec ? eec : systemError(std::errc::no_such_file_or_directory));
        rt.log.message(65, "** Fejl: ");
      }
    }
  }
  if (rt.settings.LogLevel > 1)
    rt.log.message(lvl::kFile, "         Mappen %s slettes\n", path.c_str());
  bool removed = fs::remove(folder, ec) && !ec;
  if (!removed && !alternative.empty()) removed = fs::remove(pathFromUtf8(alternative), ec) && !ec;
  if (!removed) {
    Log::setLastError(ec);
    rt.log.message(65, "** Fejl: RemoveDirectory(%s) ", path.c_str());
  }
  return removed ? 1 : 0;
}

}  // namespace tv
