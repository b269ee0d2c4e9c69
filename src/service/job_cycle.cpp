#include "service/job_cycle.h"

#include <filesystem>

#include "ports/clock.h"
#include "ports/directory_store.h"
#include "runtime/data_folder.h"
#include "runtime/interrupted_jobs.h"
#include "runtime/job_server.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "service/housekeeping.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

constexpr unsigned kErrorLine = lvl::kFile | lvl::kEvent | lvl::kError;

// Renames a file of the data folder; why it failed, or no error.
SystemError renameReplacing(Runtime& rt, const std::string& from, const std::string& to) {
  // rename() replaces a file of the target name in one step, so there is no
  // moment where neither the old nor the new file exists.
  std::error_code ec;
  fs::rename(pathFromUtf8(rt.dataPath(from)), pathFromUtf8(rt.dataPath(to)), ec);
  return ec;
}

void logMove(Runtime& rt, bool first, const std::string& from, const std::string& to) {
  rt.log.message(lvl::kFile, first ? "\n-%s Flytter %s til %s\n" : "-%s Flytter %s til %s\n",
                 ctimeText(*rt.ports.clock, rt.ports.clock->now()).c_str(), from.c_str(),
                 to.c_str());
}

// The log file itself could not be opened, but its fallback could: the lines
// of this cycle are there, and the admin must learn why.
void reportFallbackLog(Runtime& rt) {
  const SystemError why = rt.log.fallbackReason();
  if (!why) return;
  rt.log.message(kErrorLine, "** Fejl: Loggen %s kan ikke bruges (%s); linjerne skrives i %s\n",
                 rt.log.filePath().c_str(), fileErrorText(rt.log, why).c_str(),
                 rt.log.fallbackPath().c_str());
}

// Takes the directory for one job; false (and the job is left waiting) when
// there is none to work on. told: the reason was reported in this cycle.
bool takeDirectory(Runtime& rt, bool& told) {
  DirectoryStore* store = rt.ports.store;
  if (store == nullptr) return true;
  const DirectoryStore::Status st = store->acquire();
  if (!st.ok) {
    if (!told) {
      rt.reportFailure(
          format("** Fejl: Kataloget kan ikke bruges: %s\n** Fejl: Jobbene venter urørt, til "
                 "kataloget kan læses igen.\n",
                 st.why.c_str()));
    }
    told = true;
    return false;
  }
  // Locations built without the domain's names (no directory at the start)
  // or from a snapshot that has since been replaced are built anew.
  if (st.reloaded || rt.trim.defaultNamingContext.empty()) computeLocations(rt);
  return true;
}

// Hands the directory back after the job; false when the job's changes could
// not be kept.
bool keepChanges(Runtime& rt, const std::string& job) {
  DirectoryStore* store = rt.ports.store;
  if (store == nullptr) return true;
  const DirectoryStore::Status st = store->release();
  if (st.ok) return true;
  rt.reportFailure(format(
      "** Fejl: Jobbet %s er ikke gjort færdigt: ændringerne kan ikke gemmes i kataloget: %s\n"
      "** Fejl: Jobbet venter og køres igen fra det gemte katalog.\n",
      job.c_str(), st.why.c_str()));
  return false;
}

}  // namespace

unsigned runCycle(Runtime& rt, const JobHandler& handler) {
  const bool opened = rt.log.open() == 0;
  if (!opened) {
    // Without its log file the cycle's messages would vanish; the event log
    // at least tells the admin why.
    Log::setLastError(rt.log.openFailure());
    rt.log.message(98, "** Fejl: Kan ikke åbne loggen \"%s\" ", rt.log.filePath().c_str());
  } else {
    reportFallbackLog(rt);
  }
  housekeeping(rt);
  if (rt.ports.jobServer != nullptr) rt.ports.jobServer->downloadJobs(rt);
  takeUpInterruptedJobs(rt, "brovalt");

  unsigned count = 0;
  SystemError searchError;
  std::vector<std::string> links;
  bool noDirectoryTold = false;
  const std::vector<std::string> found =
      findFiles(rt.dataFolder, "brovalt", ".dat", &searchError, &links);
  for (const std::string& link : links) {
    rt.log.message(kErrorLine, "** Fejl: %s er et symbolsk link og tages ikke som job.\n",
                   link.c_str());
  }
  for (const std::string& waiting : found) {
    ++count;
    std::string base = waiting.substr(0, waiting.size() - 4);
    std::string inProgress = base + ".behandler";
    std::string done = base + ".slut";
    // A job whose directory cannot be had is left as it is, not even renamed.
    if (!takeDirectory(rt, noDirectoryTold)) continue;
    rt.log.message(0, "Testing");
    rt.log.setMark();
    logMove(rt, true, waiting, inProgress);
    SystemError err = renameReplacing(rt, waiting, inProgress);
    bool held = true;
    if (!err) {
      ChangeReportScope report(rt.changes, rt.dataPath(changeReportName(base)),
                               rt.ports.localFiles);
      if (handler) handler(rt, inProgress);
      held = false;
      if (keepChanges(rt, inProgress)) {
        logMove(rt, false, inProgress, done);
        err = renameReplacing(rt, inProgress, done);
        if (!err) interruptedJobDone(rt, base);
      } else {
        // Not done: the job waits under its first name for the next cycle.
        logMove(rt, false, inProgress, waiting);
        err = renameReplacing(rt, inProgress, waiting);
      }
    }
    if (held && rt.ports.store != nullptr) (void)rt.ports.store->release();
    if (err) {
      Log::setLastError(err);
      rt.log.message(65, "** Fejl: ");
    }
    if (rt.ports.jobServer != nullptr) {
      rt.ports.jobServer->uploadLog(rt, base, rt.log.fetchSinceMark());
    }
  }
  if (searchError) {
    // Without a readable data folder no job can be found; say so instead of
    // idling in silence.
    Log::setLastError(searchError);
    rt.log.message(99, "** Fejl: Kan ikke læse datamappen \"%s\" ", rt.dataFolder.c_str());
  }
  if (count > 0) housekeeping(rt);
  if (opened) rt.log.release();
  return count;
}

}  // namespace tv
