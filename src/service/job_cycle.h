// One processing cycle: housekeeping, the job download, and every waiting
// sync job "brovalt*.dat" taken through its three names — waiting, in
// progress (".behandler"), done (".slut") — with the log written for it sent
// back to the job server. The name of a file tells how far it got: a file is
// never lost, it ends as ".slut" or stays where it was.
//
// A job is done only when its changes are kept: with a directory that keeps
// its changes in a stored form (the snapshot), a job waits untouched while
// that form cannot be read, and goes back to waiting when its changes cannot
// be written back. Jobs left in progress by an earlier process are reported
// at the start of every cycle (runtime/interrupted_jobs.h).
#pragma once

#include <functional>
#include <string>

namespace tv {

struct Runtime;

// Handles one sync job file. fileName is the in-progress name inside the data
// folder (rt.dataPath(fileName) opens it).
using JobHandler = std::function<void(Runtime& rt, const std::string& fileName)>;

// The number of job files found; the poll loop counts idle cycles by it.
unsigned runCycle(Runtime& rt, const JobHandler& handler);

}  // namespace tv
