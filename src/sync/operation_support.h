// Small pieces the user operations share: relative names made from logins,
// the length limits the directory sets, and the current population's hook
// settings.
#pragma once

#include <string>
#include <string_view>

#include "directory/directory.h"
#include "runtime/runtime.h"
#include "sync/user_operations.h"

namespace tv {

// "CN=" + the login as a DN value, so a login with "," or "+" names one
// account and never changes the shape of a path.
[[nodiscard]] std::string userRdn(std::string_view login);

// True when the path has at most max characters; otherwise logs that `what`
// was not done because the path is too long, and gives false.
bool pathFits(Runtime& rt, std::string_view path, const char* what,
              std::size_t max = kMaxPathChars);

// True when login fits kMaxLoginChars; otherwise logs why `what` was refused.
bool loginFits(Runtime& rt, std::string_view login, const char* what);

// Whether the account at sourcePath already has that name (the same
// spelling) in the container at containerDn; an empty rdn keeps its name.
[[nodiscard]] bool alreadyThere(const std::string& sourcePath, const std::string& containerDn,
                                const std::string& rdn);

// container.moveHere(sourcePath, rdn), except that an account already at
// that name in that container, spelled the same, is bound where it is: a move
// onto itself is no change, and some directories refuse it as one. A name
// that differs only in case is renamed.
[[nodiscard]] DirResult<std::unique_ptr<DirObject>> moveInto(Runtime& rt, DirObject& container,
                                                             const std::string& sourcePath,
                                                             const std::string& rdn);

// Whether text contains part (both non-empty), as a plain substring.
[[nodiscard]] inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace tv
