// Walking one sync job file section by section: each header selects its
// population and hands the file to the section's handler; after the last line
// the group sync runs over the full-list sections, then the list scripts.
#pragma once

#include <string>

#include "runtime/runtime.h"

namespace tv {

// Handles the job file fileName (inside the data folder) under its
// in-progress name. Returns false when a fatal data error stopped it.
bool handleSyncFile(Runtime& rt, const std::string& fileName);

}  // namespace tv
