// Jobs that were in progress when the process ended: "<base>.behandler" with
// no "<base>.dat" beside it (a waiting job of the same name replaces such a
// left-over, as it always did). The name keeps such a job where it stopped,
// and a rerun from its waiting name gives exactly the result of a run that was
// never interrupted; what must not happen is that nobody notices.
//
// So each look reports every interrupted job as an error, in the log and the
// event log, with the rename that resumes it. With `GenoptagAfbrudteJob` on,
// the job is renamed back to waiting by itself, once: "<base>.genoptaget"
// marks it as taken up again, and a job found interrupted with that mark has
// failed twice and is set aside as "<base>.afbrudt", so a job that crashes
// the program cannot crash it forever. The mark goes when the job is done.
#pragma once

#include <string>
#include <string_view>

namespace tv {

struct Runtime;

inline constexpr std::string_view kResumedMark = ".genoptaget";
inline constexpr std::string_view kSetAside = ".afbrudt";

// Looks at the data folder for interrupted jobs whose names begin with prefix
// ("brovalt", "kodevalt"). Only the thread that handles those jobs may call
// it, between its jobs.
void takeUpInterruptedJobs(Runtime& rt, std::string_view prefix);

// The job of that base name is done: a resume mark of it goes.
void interruptedJobDone(Runtime& rt, const std::string& base);

}  // namespace tv
