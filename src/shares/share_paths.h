// The names and paths the folder and share steps build from the settings and
// a login: folders below a share root (with or without the split letter),
// share names, the path a share points at and the home directory written to
// the directory. Kept apart so each pattern is tested on its own.
#pragma once

#include <string>
#include <string_view>

#include "runtime/trim.h"

namespace tv {

// "root\login", or with the split on "root\L\login".
[[nodiscard]] std::string userFolderPath(std::string_view root, std::string_view login, bool split,
                                         std::string_view splitLetter);

// "login$" when hidden, else "login".
[[nodiscard]] std::string shareNameOf(std::string_view login, bool hidden);

// The home directory for the current population: on a share (mode 1)
// "\\server\login$" / "\\server\login", otherwise the folder below the share root.
[[nodiscard]] std::string homeDirectoryOf(const Trim& trim, std::string_view login,
                                          std::string_view splitLetter);

// "WinNT://server/lanmanServer", the name the share messages use for the
// server's share container.
[[nodiscard]] std::string shareContainerPath(std::string_view server);

// The upper-case first character of a login ("" for an empty login).
[[nodiscard]] std::string firstLetterUpper(std::string_view login);

// A name that can stand as one folder below a root: not empty, not "." or
// "..", and without "\" or "/".
[[nodiscard]] bool isFolderName(std::string_view name);

// Whether the path a server reports for a share is the path asked for:
// letters A-Z compared without case, "\" and "/" alike, and a drive prefix
// ("C:") that a server puts before a path local to a Unix server ignored
// when the path asked for has none.
[[nodiscard]] bool sameSharePath(std::string_view wanted, std::string_view reported);

}  // namespace tv
