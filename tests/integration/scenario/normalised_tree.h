// The part of a directory that the job scenarios touch, as text that reads
// the same whichever directory it came from: the school's subtree (OU=ZEB
// below the domain) with, per entry, its DN, its most specific class, its
// login, identification, marking, disabled flag and group members.
//
// The memory directory and a domain controller keep these things in
// different shapes; each difference is smoothed by one named rule here, so a
// difference in what the job did still shows:
//   - entry order: a domain controller returns a subtree in its own order, so
//     entries are sorted by DN (compared without case);
//   - class: a domain controller adds "top" and orders the class chain its
//     own way, so only the most specific class (the last value) is kept;
//   - userAccountControl: a domain controller keeps flags the memory
//     directory does not compute (normal account, no password required on a
//     new account), so only the disabled bit is kept;
//   - member: a domain controller returns members in its own order, so they
//     are sorted (compared without case).
#pragma once

#include <string>
#include <vector>

#include "directory/directory.h"

namespace tv::test {

// The attributes kept besides the class, the disabled bit and the members:
// the login, the marking and the attributes the scenarios identify people by.
inline const std::vector<std::string> kScenarioAttributes = {
    "sAMAccountName", "employeeNumber", "employeeType", "employeeID", "description"};

// The subtree OU=ZEB,<baseDn> as normalised text, one block per entry;
// "<no OU=ZEB: hresult 0x…>\n" when it cannot be searched.
[[nodiscard]] std::string normalisedTree(Directory& directory, const std::string& baseDn);

// Named normalisation "extended error text": after a failed call the log
// shows the directory's own extended error (ADsGetLastError's code and text).
// Each directory words the text its own way; the code is the same in both,
// and stays compared with the HRESULT lines above it and the provider below.
[[nodiscard]] std::string maskExtendedErrors(const std::string& log);

}  // namespace tv::test
