// Keeping the data folder tidy: finished job files, clean-up batch files and
// old logs go into daily zip archives in "bwdata.backup" through the external
// archiver "script/7za.exe" of the data folder, and old archives are deleted.
//
// Every path is built from the absolute data folder; nothing here changes the
// process's current directory, so the password thread is never disturbed.
// The backup folder and its archives are the service account's alone, and
// neither is ever reached through a symbolic link. Today's archives are never
// deleted, whatever the ages say.
#pragma once

#include <string>
#include <vector>

namespace tv {

struct Runtime;

inline constexpr const char* kBackupFolder = "bwdata.backup";
inline constexpr const char* kArchiver = "script/7za.exe";
inline constexpr std::size_t kZipListChars = 2000;

void housekeeping(Runtime& rt);

// Adds the named files (relative to the data folder) to the archive (relative
// to the data folder) and deletes them when the archiver succeeded.
void zipFiles(Runtime& rt, const std::vector<std::string>& names, const std::string& archive);

}  // namespace tv
