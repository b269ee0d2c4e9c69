// The logins a section leaves alone: `MedaUndtaget` for staff, `PersUndtaget`
// for pupils, names separated by ":". Matching is exact and case-sensitive,
// so "Abc" on the list does not protect "abc".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "log/log.h"

namespace tv {

inline constexpr std::size_t kExceptionNameChars = 49;

using ExceptionList = std::vector<std::string>;

// The names in the order written, each cut to 49 characters; an empty value
// gives an empty list. There is no cap on the number of names: a name that
// were dropped would leave its user unprotected.
[[nodiscard]] ExceptionList buildExceptionList(std::string_view value);

// The list of the current population from the settings.
struct Settings;
[[nodiscard]] ExceptionList exceptionListFor(const Settings& settings, bool staff);

// True when name is on the list; logs "NavnUndtaget-> %S - Undtaget\n" at
// level 1 on a match when logLevel is 1 or more.
[[nodiscard]] bool isExcepted(Log& log, int logLevel, std::string_view name,
                              const ExceptionList& list);

}  // namespace tv
