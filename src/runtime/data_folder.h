// The data folder's file helpers. Finding files the way the job and backup
// searches need it: plain files whose names start and end as given (letters
// compared without case, as the registers' file names come from Windows),
// never names that begin with ".", in name order so every run takes them in
// the same order. And the recursive folder deletion the group operations use.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "ports/system_error.h"

namespace tv {

struct Runtime;

// File names (not paths) in folder matching prefix*suffix. An unreadable or
// missing folder gives an empty list; error, when given, receives the reason.
[[nodiscard]] std::vector<std::string> findFiles(const std::string& folder, std::string_view prefix,
                                                 std::string_view suffix,
                                                 SystemError* error = nullptr);

// Last write time of a file in seconds since the epoch; -1 when unknown.
[[nodiscard]] std::time_t lastWriteTime(const std::string& path);

// Deletes a folder and everything below it; symbolic links inside are removed,
// never followed. Non-zero when the folder is gone; 1 as well when there was
// no such folder to begin with.
int deleteFolderTree(Runtime& rt, const std::string& path, const std::string& alternative = "");

}  // namespace tv
