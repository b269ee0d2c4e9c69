// The user sections of a sync job: the synchronisation pass over a full list
// ("@*"), which matches the file's users against the population's directory
// users by identification and sorts them into deactivate, create and update;
// and the creation ("@+") and removal ("@-") sections, user by user.
//
// Each reads its section's records from the reader and returns how the
// section ended; at a header the header is left in line for the dispatch.
#pragma once

#include "jobdata/file_user.h"
#include "jobdata/job_reader.h"
#include "runtime/runtime.h"

namespace tv {

SectionEnd synchronisationPass(Runtime& rt, JobReader& reader, JobLine& line);
SectionEnd BrugerOprettelse(Runtime& rt, JobReader& reader, JobLine& line);
SectionEnd BrugerNedleggelse(Runtime& rt, JobReader& reader, JobLine& line);

// How many users each phase of the last pass took; tests and benchmarks read it.
struct PassCounts {
  std::size_t deactivated = 0;
  std::size_t created = 0;
  std::size_t updated = 0;
};

SectionEnd synchronisationPass(Runtime& rt, JobReader& reader, JobLine& line, PassCounts& counts);

}  // namespace tv
