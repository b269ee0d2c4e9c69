#include "service/housekeeping.h"

#include <algorithm>
#include <filesystem>

#include "ports/clock.h"
#include "ports/local_files.h"
#include "ports/process_runner.h"
#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "scripts/script_hook.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

constexpr std::time_t kDay = 86400;

std::string dateName(Runtime& rt, const char* stem) {
  std::tm tm = rt.ports.clock->localTime(rt.ports.clock->now());
  return joinPath(kBackupFolder, format("%s%4.4d%2.2d%2.2d.zip", stem, tm.tm_year + 1900,
                                        tm.tm_mon + 1, tm.tm_mday));
}

std::string fileNameOf(const std::string& path) {
  return utf8FromPath(pathFromUtf8(path).filename());
}

bool olderThan(const std::string& path, std::time_t limit) {
  std::time_t t = lastWriteTime(path);
  return t != -1 && t < limit;
}

// keep: names (in the backup folder) that stay whatever their age.
void deleteOld(const std::string& folder, const char* suffix, std::time_t limit,
               const std::vector<std::string>& keep) {
  for (const std::string& name : findFiles(folder, "", suffix)) {
    if (std::find(keep.begin(), keep.end(), name) != keep.end()) continue;
    std::string path = joinPath(folder, name);
    std::error_code ec;
    if (olderThan(path, limit)) fs::remove(pathFromUtf8(path), ec);
  }
}

// The backup folder, made the service account's own; false (after an error
// line) when a link or anything but a folder stands at its name.
bool backupFolderReady(Runtime& rt, const std::string& backup) {
  const fs::path folder = pathFromUtf8(backup);
  std::error_code ec;
  if (fs::create_directory(folder, ec)) {
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
  }
  const fs::file_status st = fs::symlink_status(folder, ec);
  if (fs::is_directory(st)) return true;
  if (fs::is_symlink(st)) {
    rt.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                   "** Fejl: %s er et symbolsk link; der tages ingen backup, før det er "
                   "erstattet af en mappe.\n",
                   kBackupFolder);
  }
  return false;
}

// Collects names into archiver calls whose blank-separated list stays below
// kZipListChars, as the archiver's command line always did.
class ZipBatch {
 public:
  ZipBatch(Runtime& rt, std::string archive) : rt_(rt), archive_(std::move(archive)) {}
  void add(const std::string& name) {
    std::size_t chars = charCount(name);
    if (listChars_ + 2 + chars < kZipListChars) {
      names_.push_back(name);
      listChars_ += 1 + chars;
      return;
    }
    flush();
    names_.push_back(name);
    listChars_ = chars;
  }
  void flush() {
    if (!names_.empty()) zipFiles(rt_, names_, archive_);
    names_.clear();
    listChars_ = 0;
  }

 private:
  Runtime& rt_;
  std::string archive_;
  std::vector<std::string> names_;
  std::size_t listChars_ = 0;
};

}  // namespace

void housekeeping(Runtime& rt) {
  const Settings& s = rt.settings;
  if (s.BackupDage == 0 && s.BackupDeleteDage == 0) return;
  std::time_t now = rt.ports.clock->now();
  std::time_t zipLimit = now - static_cast<std::time_t>(s.BackupDage) * kDay;
  std::time_t deleteLimit = now - static_cast<std::time_t>(s.BackupDeleteDage) * kDay;

  std::string backup = rt.dataPath(kBackupFolder);
  if (!backupFolderReady(rt, backup)) return;

  if (s.BackupDeleteDage != 0) {
    // Today's archives hold what this very cycle may have zipped.
    const std::vector<std::string> today = {fileNameOf(dateName(rt, "brugere")),
                                            fileNameOf(dateName(rt, "Tavlevagt"))};
    deleteOld(backup, ".slut", deleteLimit, today);
    deleteOld(backup, ".zip", deleteLimit, today);
  }
  if (s.BackupDage == 0) return;

  ZipBatch jobs(rt, dateName(rt, "brugere"));
  for (const std::string& name : findFiles(rt.dataFolder, "", ".slut")) {
    if (olderThan(rt.dataPath(name), zipLimit)) jobs.add(name);
  }
  jobs.flush();
  for (const std::string& name : findFiles(rt.dataFolder, "oprydning", ".bat")) {
    if (olderThan(rt.dataPath(name), zipLimit)) zipFiles(rt, {name}, dateName(rt, "brugere"));
  }
  // The log in use stays: the cycle holds it open, and deleting it would
  // send the rest of the cycle's lines into a file nobody can read.
  const std::string current = utf8FromPath(pathFromUtf8(rt.log.filePath()).filename());
  for (const std::string& name : findFiles(rt.dataFolder, "", ".log")) {
    if (name == current) continue;
    if (olderThan(rt.dataPath(name), zipLimit)) zipFiles(rt, {name}, dateName(rt, "Tavlevagt"));
  }
  // The jobs' change reports age with the logs and go into the same archive.
  ZipBatch reports(rt, dateName(rt, "Tavlevagt"));
  for (const std::string& name : findFiles(rt.dataFolder, "", kChangeReportSuffix)) {
    if (olderThan(rt.dataPath(name), zipLimit)) reports.add(name);
  }
  reports.flush();
}

void zipFiles(Runtime& rt, const std::vector<std::string>& names, const std::string& archive) {
  std::string archiver = rt.dataPath(kArchiver);
  std::error_code ec;
  if (!fs::exists(pathFromUtf8(archiver), ec) || rt.ports.processes == nullptr) return;
  // The archiver follows a link at the archive's name and writes wherever it
  // points; such a link is refused instead.
  if (fs::is_symlink(fs::symlink_status(pathFromUtf8(rt.dataPath(archive)), ec))) {
    rt.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                   "** Fejl: ZipFile() - %s er et symbolsk link; filerne bliver liggende.\n",
                   archive.c_str());
    return;
  }
  // "--" ends the archiver's switches: a file named "-r.slut" or "@list.slut"
  // is a file to add, never an option or a list of other files.
  std::vector<std::string> argv{archiver, "a", "-tzip", archive, "--"};
  argv.insert(argv.end(), names.begin(), names.end());
  ProcessResult r = rt.ports.processes->run(argv, rt.dataFolder);
  if (!r.started) {
    Log::setLastError(platformError(r.startError));
    rt.log.message(65, "** Fejl: ZipFile() ");
    return;
  }
  logEndedAfterStop(rt, r, kArchiver);
  if (r.exitCode != 0 && r.exitCode != kStillActive) {
    rt.log.message(lvl::kFile, "** Fejl: ZipFile() - returkode fra program: %d\n",
                   static_cast<int>(r.exitCode));
    return;
  }
  if (rt.ports.localFiles != nullptr)
    (void)rt.ports.localFiles->restrictToOwner(rt.dataPath(archive));
  for (const std::string& name : names) fs::remove(pathFromUtf8(rt.dataPath(name)), ec);
}

}  // namespace tv
