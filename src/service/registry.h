// The program's two keys: the data folder ("DataPath") and the event source.
// "-i" writes both, "-u" deletes both, every start reads the data folder.
// Failures are logged with the messages the admin knows and never stop the
// caller.
#pragma once

#include <string>

#include "log/log.h"
#include "ports/install_keys.h"

namespace tv {

inline constexpr const char* kDataKey = "Software\\MORENA\\Tavlevagt";
inline constexpr const char* kEventKey =
    "System\\CurrentControlSet\\Services\\EventLog\\Application\\Tavlevagt";

// 0 on success, 1 on failure. A failure of the first key stops before the second.
int installKeys(Log& log, InstallKeys& keys, const std::string& dataFolder);

// 0 and the folder in dataPath on success; 1 with dataPath empty otherwise.
int readKeys(Log& log, InstallKeys& keys, std::string& dataPath);

// 0 when both keys were deleted; both are tried.
int deleteKeys(Log& log, InstallKeys& keys);

}  // namespace tv
