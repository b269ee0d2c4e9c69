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

// systemd started this very process as a service: it handed over the
// invocation id or a notify socket, and, where systemd names the process it
// started, named this one (a child of another service inherits the rest).
[[nodiscard]] bool startedBySystemd();

}  // namespace tv
