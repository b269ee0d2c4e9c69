// The list files the end-of-job list scripts read: "<list name>-<sequence>.txt"
// in the data folder (named by listFileName, runtime/data_folder.h), one line
// per entry, appended to by the job thread and the password thread under the
// runtime's file-append lock, never through a symbolic link. A line that
// cannot reach its list file goes to "$$file$$.txt" rather than be lost.
#pragma once

#include <string>
#include <string_view>

#include "runtime/data_folder.h"
#include "runtime/runtime.h"

namespace tv {

inline constexpr std::string_view kListFallbackFile = "$$file$$.txt";

// Appends text (UTF-8, written as Windows-1252) to the file of that name in
// the data folder, or to the fallback file; 0, or 99 when neither opens.
int appendToListFile(Runtime& rt, std::string_view fileName, std::string_view text);

// Appends one line to the list of that name for the job's sequence value.
int appendListLine(Runtime& rt, std::string_view listName, std::string_view text);

}  // namespace tv
