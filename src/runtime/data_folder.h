// The data folder's file helpers. Finding files the way the job and backup
// searches need it: plain files whose names start and end as given (letters
// compared without case, as the registers' file names come from Windows),
// never names that begin with ".", never symbolic links, in name order so
// every run takes them in the same order. The names of the service's own
// files, and the recursive folder deletion the group operations use.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "ports/system_error.h"

namespace tv {

struct Runtime;
class Log;

// The beginnings of the names of the service's temporary files in the data
// folder: the snapshot being written back, a job being downloaded. What is
// left of them after a crash is removed at the next start.
inline constexpr std::string_view kSnapshotTempStem = "directory.ldif.ny";
inline constexpr std::string_view kDownloadTempStem = "hentes-";

inline constexpr std::size_t kListFileNameChars = 49;

// File names (not paths) in folder matching prefix*suffix. An unreadable or
// missing folder gives an empty list; error, when given, receives the reason.
// A symbolic link of a matching name is no file to take: its name goes to
// links, when given.
[[nodiscard]] std::vector<std::string> findFiles(const std::string& folder, std::string_view prefix,
                                                 std::string_view suffix,
                                                 SystemError* error = nullptr,
                                                 std::vector<std::string>* links = nullptr);

// Removes what is left of the service's temporary files (files and links
// whose names begin with kSnapshotTempStem or kDownloadTempStem). Only while
// the data folder is locked: another instance's files would go too.
void removeStaleTemporaryFiles(Runtime& rt);

// Why a file of the data folder could not be used, for a log line: a link
// where a file was expected is said as such, anything else is the system's text.
[[nodiscard]] std::string fileErrorText(const Log& log, const SystemError& error);

// "%s-%s.txt" of list name and sequence value, at most 49 characters: the list
// files the job writes and the list scripts receive. Path separators and the
// other characters a file name cannot hold become "_", so a job's sequence
// value can never point outside the data folder.
[[nodiscard]] std::string listFileName(std::string_view listName, std::string_view sequence);

// Last write time of a file in seconds since the epoch; -1 when unknown.
[[nodiscard]] std::time_t lastWriteTime(const std::string& path);

// Deletes a folder and everything below it; symbolic links inside are removed,
// never followed. Non-zero when the folder is gone; 1 as well when there was
// no such folder to begin with.
int deleteFolderTree(Runtime& rt, const std::string& path, const std::string& alternative = "");

}  // namespace tv
