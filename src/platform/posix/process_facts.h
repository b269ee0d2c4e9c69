// What the entry needs to know about its own process: whether standard output
// is a terminal (console mode) and where its executable lies.
#pragma once

#include <string>

namespace tv {

[[nodiscard]] bool standardOutputIsTerminal();

// The absolute path of the running executable; empty when unknown.
[[nodiscard]] std::string executablePath();

// systemd's notify socket of this process; empty when it asked for none.
[[nodiscard]] std::string notifySocket();

}  // namespace tv
