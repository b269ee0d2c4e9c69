// The password-job thread: every 10 seconds it looks for "kodevalt*.dat" in
// the data folder and takes each file through the same three names as a sync
// job — waiting, in progress (".behandler"), done (".slut") — resetting the
// passwords its sections ask for. The thread looks once whatever the state
// (with "-d" the cycle may be over before the thread gets going), and then
// every 10 seconds while the runtime's state is running; a stop (state
// changed and the clock woken) ends the 10-second wait at once, while a job
// in hand is finished first.
//
// Like a sync job, a password job takes the directory from the runtime's
// directory store and hands it back written: a job waits untouched while the
// directory cannot be read, and goes back to waiting (and is left alone for a
// few minutes) when its changes cannot be written back.
//
// Starting and stopping:
//   std::thread t = startPasswordThread(rt);   // with rt.state == kRunning
//   rt.state = kStopped; rt.ports.clock->wake(); t.join();
// or hand passwordWatchLoop to whatever owns the thread.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace tv {

struct Runtime;
class JobReader;

inline constexpr std::chrono::milliseconds kPasswordScanInterval{10000};
// Scans a job whose changes could not be kept is left alone (five minutes).
inline constexpr unsigned kHeldBackScans = 30;

// Handles one password job under its in-progress name in the data folder:
// finds each section header and resets the passwords that follow it.
void processPasswordJob(Runtime& rt, const std::string& fileName);

// The same over a job already open.
void processPasswordJob(Runtime& rt, JobReader& reader);

class PasswordJobWatcher {
 public:
  explicit PasswordJobWatcher(Runtime& rt) : rt_(rt) {}

  // One look at the data folder: every waiting job is renamed, handled and
  // renamed again. Returns the number of jobs found. The first look also
  // reports the password jobs an earlier process left in progress.
  unsigned scanOnce();

  // Scans once, then scans and waits while the state is running.
  void run();

 private:
  // The "Flytter" line of a move; first: the move that starts a job.
  void announce(bool first, const std::string& from, const std::string& to);
  bool moveJob(const std::string& from, const std::string& to);
  void handle(const std::string& found);
  bool takeDirectory(const std::string& found);
  bool keepChanges(const std::string& job);

  Runtime& rt_;
  // Jobs whose first rename failed. They are tried again at every scan, but
  // their failure is logged once, not every 10 seconds; the same for links
  // standing at a job's name and for a directory that cannot be read.
  std::set<std::string> stuck_;
  std::set<std::string> links_;
  std::string noDirectory_;
  // Jobs sent back to waiting, with the scans they are still left alone.
  std::map<std::string, unsigned> heldBack_;
  bool lookedForInterrupted_ = false;
};

// The thread body: a watcher's run().
void passwordWatchLoop(Runtime& rt);

// Starts the thread; the caller joins it after stopping (see above).
[[nodiscard]] std::thread startPasswordThread(Runtime& rt);

}  // namespace tv
