#include "password/password_jobs.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "directory/directory.h"
#include "jobdata/job_reader.h"
#include "password/password_reset.h"
#include "ports/clock.h"
#include "ports/directory_store.h"
#include "runtime/data_folder.h"
#include "runtime/interrupted_jobs.h"
#include "runtime/runtime.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

// The domain's DN, known from the settings load; read from the root entry
// when the directory could not be reached then. The value is kept local: the
// locations in rt.trim belong to the poll thread.
std::string domainDn(Runtime& rt) {
  if (!rt.trim.defaultNamingContext.empty()) return rt.trim.defaultNamingContext;
  Hresult hr = kEFail;
  if (Directory* dir = rt.ports.directory; dir != nullptr) {
    auto root = dir->bind("LDAP://RootDSE");
    hr = root.hr;
    if (root.ok()) {
      auto name = root.value->get("defaultNamingContext");
      if (name.ok() && !name.value.empty()) return name.value;
      hr = name.ok() ? kEAdsPropertyNotFound : name.hr;
    }
  }
  rt.log.reportHresult(hr, "** Fejl: Reset: ADsGetObject(LDAP://RootDSE)\n");
  return {};
}

std::string nowText(Runtime& rt) {
  return ctimeText(*rt.ports.clock, rt.ports.clock->now());
}

}  // namespace

void processPasswordJob(Runtime& rt, const std::string& fileName) {
  auto reader = JobReader::open(rt.log, rt.dataPath(fileName));
  if (reader) processPasswordJob(rt, *reader);
}

void processPasswordJob(Runtime& rt, JobReader& reader) {
  const std::string domain = domainDn(rt);
  JobLine line;
  std::optional<std::string> stoppedAt;
  for (;;) {
    std::string text;
    if (stoppedAt) {
      text = std::move(*stoppedAt);
      stoppedAt.reset();
    } else if (reader.nextWhole(line)) {
      text = std::move(line.text);
    } else {
      break;
    }
    if (auto mode = passwordHeader(text)) stoppedAt = resetPasswords(rt, reader, *mode, domain);
  }
}

void PasswordJobWatcher::announce(bool first, const std::string& from, const std::string& to) {
  if (first) {
    rt_.log.message(lvl::kFile, "\n-%s Flytter %s til %s\n", nowText(rt_).c_str(), from.c_str(),
                    to.c_str());
  } else {
    rt_.log.message(lvl::kFile, "-%s Flytter %s til %s\n", nowText(rt_).c_str(), from.c_str(),
                    to.c_str());
  }
}

bool PasswordJobWatcher::moveJob(const std::string& from, const std::string& to) {
  // rename() replaces a file of the target name in one step, so a left-over
  // ".behandler" or ".slut" of the same name gives way without a gap in
  // which the job exists under neither name.
  std::error_code ec;
  fs::rename(pathFromUtf8(rt_.dataPath(from)), pathFromUtf8(rt_.dataPath(to)), ec);
  if (ec) Log::setLastError(ec);
  return !ec;
}

bool PasswordJobWatcher::takeDirectory(const std::string& found) {
  DirectoryStore* store = rt_.ports.store;
  if (store == nullptr) return true;
  const DirectoryStore::Status st = store->acquire();
  if (st.ok) {
    noDirectory_.clear();
    return true;
  }
  if (st.why != noDirectory_) {
    rt_.reportFailure(format(
        "** Fejl: Kataloget kan ikke bruges: %s\n** Fejl: Password-jobbet %s venter urørt.\n",
        st.why.c_str(), found.c_str()));
    noDirectory_ = st.why;
  }
  return false;
}

bool PasswordJobWatcher::keepChanges(const std::string& job) {
  DirectoryStore* store = rt_.ports.store;
  if (store == nullptr) return true;
  const DirectoryStore::Status st = store->release();
  if (st.ok) return true;
  rt_.reportFailure(
      format("** Fejl: Password-jobbet %s er ikke gjort færdigt: ændringerne kan "
             "ikke gemmes i kataloget: %s\n",
             job.c_str(), st.why.c_str()));
  return false;
}

void PasswordJobWatcher::handle(const std::string& found) {
  const std::string base = found.substr(0, found.size() - 4);
  const std::string inProgress = base + ".behandler";
  const std::string done = base + ".slut";
  if (!takeDirectory(found)) return;
  const bool wasStuck = stuck_.contains(found);
  if (!wasStuck) announce(true, found, inProgress);
  bool moved = moveJob(found, inProgress);
  if (moved) {
    if (wasStuck) {
      stuck_.erase(found);
      announce(true, found, inProgress);
    }
    {
      ChangeReportScope report(rt_.changes, rt_.dataPath(changeReportName(base)),
                               rt_.ports.localFiles);
      processPasswordJob(rt_, inProgress);
    }
    if (keepChanges(inProgress)) {
      announce(false, inProgress, done);
      moved = moveJob(inProgress, done);
      if (moved) interruptedJobDone(rt_, base);
    } else {
      // Not done: back to waiting, tried again after a while.
      announce(false, inProgress, found);
      moved = moveJob(inProgress, found);
      heldBack_[found] = kHeldBackScans;
    }
    if (!moved) rt_.log.message(65, "** Fejl: ");
    return;
  }
  if (rt_.ports.store != nullptr) (void)rt_.ports.store->release();
  if (!wasStuck) {
    stuck_.insert(found);
    rt_.log.message(65, "** Fejl: ");
  }
}

unsigned PasswordJobWatcher::scanOnce() {
  if (!lookedForInterrupted_) {
    const bool opened = rt_.log.open() == 0;
    takeUpInterruptedJobs(rt_, "kodevalt");
    if (opened) rt_.log.release();
    lookedForInterrupted_ = true;
  }
  std::vector<std::string> links;
  std::vector<std::string> names = findFiles(rt_.dataFolder, "kodevalt", ".dat", nullptr, &links);
  std::erase_if(stuck_, [&names](const std::string& n) {
    return !std::binary_search(names.begin(), names.end(), n);
  });
  std::erase_if(heldBack_, [&names](const auto& held) {
    return !std::binary_search(names.begin(), names.end(), held.first);
  });
  std::erase_if(links_, [&links](const std::string& n) {
    return !std::binary_search(links.begin(), links.end(), n);
  });
  for (const std::string& link : links) {
    if (!links_.insert(link).second) continue;
    const bool opened = rt_.log.open() == 0;
    rt_.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                    "** Fejl: %s er et symbolsk link og tages ikke som job.\n", link.c_str());
    if (opened) rt_.log.release();
  }
  for (const std::string& found : names) {
    if (auto held = heldBack_.find(found); held != heldBack_.end()) {
      if (held->second > 0) {
        --held->second;
        continue;
      }
      heldBack_.erase(held);
    }
    const bool opened = rt_.log.open() == 0;
    handle(found);
    if (opened) rt_.log.release();
  }
  return static_cast<unsigned>(names.size());
}

void PasswordJobWatcher::run() {
  do {
    (void)scanOnce();
  } while (rt_.state.load() == kRunning && rt_.ports.clock != nullptr &&
           rt_.ports.clock->waitForStop(kPasswordScanInterval));
}

void passwordWatchLoop(Runtime& rt) {
  PasswordJobWatcher(rt).run();
}

std::thread startPasswordThread(Runtime& rt) {
  return std::thread(passwordWatchLoop, std::ref(rt));
}

}  // namespace tv
