// The operations on group objects that the group sync calls: create a group
// with the system's marking, move a group into the group archive and back,
// repair the kind in a group's marking, delete an auto-created group without
// members, and give a group its e-mail address. Together they keep every
// group below the system container either auto-created in the groups
// container or parked in the group archive.
//
// Group names are directory values: every path built here escapes them as a
// DN value, so a name such as "a,OU=x" can never point into another container.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "directory/directory.h"
#include "runtime/runtime.h"

namespace tv {

inline constexpr const char* kGroupMarkingText = "Autooprettet af ZEB";
// The directory holds at most 64 characters in a group's relative name.
inline constexpr std::size_t kGroupNameMaxChars = 64;
// groupType of a security-enabled universal group (0x80000008).
inline constexpr const char* kUniversalGroupType = "-2147483640";

// True when the name holds one of `"` `*` `+` `,` `/` `:` `;` `<` `=` `>` `?`
// `[` `\` `]` `|`.
[[nodiscard]] bool hasSpecialChar(std::string_view name);

// The group name with special characters and blanks dropped and æ ø å Æ Ø Å
// spelt ae o a AE O A; at most 199 characters.
[[nodiscard]] std::string groupMailName(std::string_view name);

// "LDAP://CN=<name>,<containerDn>" with the name escaped.
[[nodiscard]] std::string groupPathIn(std::string_view name, std::string_view containerDn);

// Binds path and keeps the object only when it is a group; the HRESULT of
// the bind, or E_NOINTERFACE for an object of another class.
[[nodiscard]] DirResult<std::unique_ptr<DirObject>> bindGroup(Runtime& rt, std::string_view path);

// Creates the group in the groups container, or refreshes the description
// of the one there. description: null for none. 0 when the group is there
// afterwards, 1 otherwise.
int OpretGruppe(Runtime& rt, const std::string& name, const std::string* description, bool staff);

// Moves a group into the group archive: the bound group when one is given,
// else the group of that name in the groups container.
void archiveGroup(Runtime& rt, DirObject* group, const std::string& name);

// Moves the group at groupPath into the container at destinationPath.
Hresult restoreGroup(Runtime& rt, const std::string& name, const std::string& groupPath,
                     const std::string& destinationPath);

// Takes the kind of an auto-created group from the path of its first member
// ("Medarbejder" -> "M", "Elev" -> "E") and writes it into the marking; in
// test mode only logs. kind keeps its value when there is no such hint.
void repairGroupKind(Runtime& rt, const std::string& name, const std::string& groupPath,
                     std::string& kind);

// Deletes an auto-created group of the groups container, with its folder and
// share; a standard group loses its folder and share but is kept.
void SletGruppe(Runtime& rt, const std::string& name);

// Gives a group of the groups container the address groupMailName(name) +
// `GruppeMail`, writing only when it differs.
void SetGruppeEmail(Runtime& rt, const std::string& name);

}  // namespace tv
