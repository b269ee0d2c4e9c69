// The password-job thread: every 10 seconds it looks for "kodevalt*.dat" in
// the data folder and takes each file through the same three names as a sync
// job — waiting, in progress (".behandler"), done (".slut") — resetting the
// passwords its sections ask for. The thread runs while the runtime's state
// is running; a stop (state changed and the clock woken) ends the 10-second
// sleep at once, while a job in hand is finished first.
//
// Starting and stopping:
//   std::thread t = startPasswordThread(rt);   // with rt.state == kRunning
//   rt.state = kStopped; rt.ports.clock->wake(); t.join();
// or hand passwordWatchLoop to whatever owns the thread.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <thread>

namespace tv {

struct Runtime;
class JobReader;

inline constexpr std::chrono::milliseconds kPasswordScanInterval{10000};

// Handles one password job under its in-progress name in the data folder:
// finds each section header and resets the passwords that follow it.
void processPasswordJob(Runtime& rt, const std::string& fileName);

// The same over a job already open.
void processPasswordJob(Runtime& rt, JobReader& reader);

class PasswordJobWatcher {
 public:
  explicit PasswordJobWatcher(Runtime& rt) : rt_(rt) {}

  // One look at the data folder: every waiting job is renamed, handled and
  // renamed again. Returns the number of jobs found.
  unsigned scanOnce();

  // Scans and sleeps while the state is running.
  void run();

 private:
  // The "Flytter" line of a move; first: the move that starts a job.
  void announce(bool first, const std::string& from, const std::string& to);
  bool moveJob(const std::string& from, const std::string& to);

  Runtime& rt_;
  // Jobs whose first rename failed. They are tried again at every scan, but
  // their failure is logged once, not every 10 seconds.
  std::set<std::string> stuck_;
};

// The thread body: a watcher's run().
void passwordWatchLoop(Runtime& rt);

// Starts the thread; the caller joins it after stopping (see above).
[[nodiscard]] std::thread startPasswordThread(Runtime& rt);

}  // namespace tv
