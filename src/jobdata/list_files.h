// The list files the end-of-job list scripts read: "<list name>-<sequence>.txt"
// in the data folder, one line per entry, appended to by the job thread and
// the password thread under the runtime's file-append lock. A line that
// cannot reach its list file goes to "$$file$$.txt" rather than be lost.
#pragma once

#include <string>
#include <string_view>

#include "runtime/runtime.h"

namespace tv {

inline constexpr std::string_view kListFallbackFile = "$$file$$.txt";
inline constexpr std::size_t kListFileNameChars = 49;

// "%s-%s.txt" of list name and sequence value, at most 49 characters. Path
// separators and the other characters a file name cannot hold become "_",
// so a job's sequence value can never point outside the data folder.
[[nodiscard]] std::string listFileName(std::string_view listName, std::string_view sequence);

// Appends text (UTF-8, written as Windows-1252) to the file of that name in
// the data folder, or to the fallback file; 0, or 99 when neither opens.
int appendToListFile(Runtime& rt, std::string_view fileName, std::string_view text);

// Appends one line to the list of that name for the job's sequence value.
int appendListLine(Runtime& rt, std::string_view listName, std::string_view text);

}  // namespace tv
