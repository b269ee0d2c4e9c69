// The group sync of a job: after the user sections, the system's own groups
// are brought in line with the groups of a full-list section.
#pragma once

#include "jobdata/job_reader.h"
#include "service/runtime.h"

namespace tv {

// Runs the group sync for one population from the reader, positioned just
// after that population's "@*" header. staff: 1 staff, 0 pupils.
void groupSync(Runtime& rt, JobReader& reader, bool staff);

}  // namespace tv
