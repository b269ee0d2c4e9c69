// Handing users who need a mailbox to the school's mail scripts: the
// per-user script runs at once, and the login is appended to the mail list
// file whose list script runs once at the end of the job file.
#pragma once

#include <string>

#include "directory/directory.h"
#include "runtime/runtime.h"

namespace tv {

// Runs the population's per-user mail script with the login and appends the
// login to its mail list (setting the list's pending flag), for whichever of
// the two settings is non-empty.
void handToMailScripts(Runtime& rt, const std::string& login);

// Hands the user over only while the directory shows neither an e-mail
// address nor a mailbox store for it.
void checkMailbox(Runtime& rt, const std::string& login, DirObject& object);

}  // namespace tv
