#include "runtime/interrupted_jobs.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "ports/local_files.h"
#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "text/paths.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

constexpr unsigned kErrorLine = lvl::kFile | lvl::kEvent | lvl::kError;

bool exists(const Runtime& rt, const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(pathFromUtf8(rt.dataPath(name)), ec));
}

SystemError moveFile(Runtime& rt, const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(pathFromUtf8(rt.dataPath(from)), pathFromUtf8(rt.dataPath(to)), ec);
  return ec;
}

void reportMoveFailure(Runtime& rt, const std::string& from, const std::string& to,
                       const SystemError& error) {
  rt.log.message(kErrorLine, "** Fejl: %s kan ikke omdøbes til %s: %s\n", from.c_str(), to.c_str(),
                 fileErrorText(rt.log, error).c_str());
}

bool markResumed(Runtime& rt, const std::string& mark) {
  SystemError error;
  if (rt.ports.localFiles != nullptr) {
    LocalFiles::Opened o = rt.ports.localFiles->openAppend(rt.dataPath(mark));
    if (o.file != nullptr) std::fclose(o.file);
    error = o.error;
  } else if (std::FILE* f = openFile(rt.dataPath(mark), "a"); f != nullptr) {
    std::fclose(f);
  } else {
    error = lastCLibraryError();
  }
  if (error) {
    rt.log.message(kErrorLine, "** Fejl: %s kan ikke oprettes: %s\n", mark.c_str(),
                   fileErrorText(rt.log, error).c_str());
  }
  return !error;
}

void removeFile(Runtime& rt, const std::string& name) {
  std::error_code ec;
  fs::remove(pathFromUtf8(rt.dataPath(name)), ec);
}

}  // namespace

void takeUpInterruptedJobs(Runtime& rt, std::string_view prefix) {
  const std::vector<std::string> inProgress = findFiles(rt.dataFolder, prefix, ".behandler");
  for (const std::string& found : inProgress) {
    const std::string base = found.substr(0, found.size() - std::string_view(".behandler").size());
    const std::string waiting = base + ".dat";
    // A waiting job of the same name takes the left-over's place when it starts.
    if (exists(rt, waiting)) continue;
    const std::string mark = base + std::string(kResumedMark);
    if (!rt.settings.GenoptagAfbrudteJob) {
      rt.log.message(kErrorLine,
                     "** Fejl: Jobbet %s blev afbrudt og er ikke gjort færdigt. Omdøb filen til "
                     "%s, så køres jobbet igen.\n",
                     found.c_str(), waiting.c_str());
      continue;
    }
    if (exists(rt, mark)) {
      const std::string aside = base + std::string(kSetAside);
      if (SystemError err = moveFile(rt, found, aside); err) {
        reportMoveFailure(rt, found, aside, err);
        continue;
      }
      removeFile(rt, mark);
      rt.log.message(kErrorLine,
                     "** Fejl: Jobbet %s blev afbrudt igen, efter at det var taget op igen; det "
                     "er lagt til side som %s. Omdøb filen til %s for at køre jobbet igen.\n",
                     found.c_str(), aside.c_str(), waiting.c_str());
      continue;
    }
    if (!markResumed(rt, mark)) continue;
    if (SystemError err = moveFile(rt, found, waiting); err) {
      reportMoveFailure(rt, found, waiting, err);
      removeFile(rt, mark);
      continue;
    }
    rt.log.message(kErrorLine,
                   "** Fejl: Jobbet %s blev afbrudt og er ikke gjort færdigt; det køres igen som "
                   "%s (GenoptagAfbrudteJob). Afbrydes det igen, lægges det til side.\n",
                   found.c_str(), waiting.c_str());
  }
  // A mark whose job is gone (done, or renamed by a person) means nothing.
  for (const std::string& mark : findFiles(rt.dataFolder, prefix, kResumedMark)) {
    const std::string base = mark.substr(0, mark.size() - kResumedMark.size());
    if (!exists(rt, base + ".dat") && !exists(rt, base + ".behandler")) removeFile(rt, mark);
  }
}

void interruptedJobDone(Runtime& rt, const std::string& base) {
  const std::string mark = base + std::string(kResumedMark);
  if (exists(rt, mark)) removeFile(rt, mark);
}

}  // namespace tv
