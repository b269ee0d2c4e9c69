#include "service/job_cycle.h"

#include <filesystem>

#include "ports/clock.h"
#include "runtime/data_folder.h"
#include "runtime/job_server.h"
#include "runtime/runtime.h"
#include "service/housekeeping.h"
#include "text/paths.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

// Renames a file of the data folder; why it failed, or no error.
SystemError renameReplacing(Runtime& rt, const std::string& from, const std::string& to) {
  // rename() replaces a file of the target name in one step, so there is no
  // moment where neither the old nor the new file exists.
  std::error_code ec;
  fs::rename(pathFromUtf8(rt.dataPath(from)), pathFromUtf8(rt.dataPath(to)), ec);
  return ec;
}

}  // namespace

unsigned runCycle(Runtime& rt, const JobHandler& handler) {
  const bool opened = rt.log.open() == 0;
  if (!opened) {
    // Without its log file the cycle's messages would vanish; the event log
    // at least tells the admin why.
    Log::setLastError(rt.log.openFailure());
    rt.log.message(98, "** Fejl: Kan ikke åbne loggen \"%s\" ", rt.log.filePath().c_str());
  }
  housekeeping(rt);
  if (rt.ports.jobServer != nullptr) rt.ports.jobServer->downloadJobs(rt);

  unsigned count = 0;
  SystemError searchError;
  for (const std::string& found : findFiles(rt.dataFolder, "brovalt", ".dat", &searchError)) {
    ++count;
    std::string base = found.substr(0, found.size() - 4);
    std::string inProgress = base + ".behandler";
    std::string done = base + ".slut";
    rt.log.message(0, "Testing");
    rt.log.setMark();
    rt.log.message(lvl::kFile, "\n-%s Flytter %s til %s\n",
                   ctimeText(*rt.ports.clock, rt.ports.clock->now()).c_str(), found.c_str(),
                   inProgress.c_str());
    SystemError err = renameReplacing(rt, found, inProgress);
    if (!err) {
      ChangeReportScope report(rt.changes, rt.dataPath(changeReportName(base)));
      if (handler) handler(rt, inProgress);
      rt.log.message(lvl::kFile, "-%s Flytter %s til %s\n",
                     ctimeText(*rt.ports.clock, rt.ports.clock->now()).c_str(), inProgress.c_str(),
                     done.c_str());
      err = renameReplacing(rt, inProgress, done);
    }
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
