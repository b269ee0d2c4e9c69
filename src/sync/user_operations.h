// The per-user operations the synchronisation pass hands its decisions to:
// create or re-enable (create.cpp), update with its field map (update.cpp,
// field_map.cpp, attribute.cpp), deactivate and archive (deactivate.cpp) and
// the login rename (rename.cpp). Each reports through the log and goes on;
// a failed directory step ends that operation without rollback.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"
#include "jobdata/file_user.h"
#include "runtime/runtime.h"
#include "users/user_queries.h"

namespace tv {

// 0 when the directory holds no user with the record's identification or
// login; otherwise the existing user has been dealt with.
int TjekEksisterendeBruger(Runtime& rt, FileUser& user);
// The HRESULT of the last directory step (negative on failure).
Hresult OpretBruger(Runtime& rt, FileUser& user);
// 0: refused for a login conflict (object untouched); 1: enabled and the
// user container could be opened; else the HRESULT of opening it. On return
// object is the moved account, or null when no move was made.
// loginChecked: the caller searched for the user's login moments ago and
// nobody held it, so the account itself is its only holder.
Hresult EnableUser(Runtime& rt, FileUser& user, std::unique_ptr<DirObject>& object,
                   bool loginChecked = false);

void OpdaterBruger(Runtime& rt, DirUser& dirUser, FileUser& fileUser);
// 1 when the account carries the marking and lies in the population's tree.
int ValidBWUser(Runtime& rt, DirObject& object);
// Moves the account into the container its login belongs in; object is
// replaced by the moved account.
int Move2StandardOU(Runtime& rt, std::string_view login, std::unique_ptr<DirObject>& object);
// Home directory and profile paths; the number of paths changed (0-3).
int TjekBrugerAttrib(Runtime& rt, DirObject& object, const FileUser& user);
void OpdaterFelter(Runtime& rt, DirObject& object, const FileUser& user);

// Writes value to attr of object when it differs (an empty value clears it),
// logs the change and commits. Leading "*" of the value are dropped.
void SaetAttribut(Runtime& rt, std::string_view login, DirObject& object, std::string_view attr,
                  std::string_view value);

// SaetAttribut for several attributes of one account, with the values that
// change committed together: one modify instead of one per attribute. The
// log and the change report read exactly as for one SaetAttribut after the
// other: the lines of a joint commit are written once it has succeeded, and
// a joint commit the directory refuses is made again one attribute at a
// time, each with its own line and its own error. A clear, and a second
// write of an attribute already waiting, commit what waits first.
class AttributeWriter {
 public:
  AttributeWriter(Runtime& rt, std::string_view login, DirObject& object)
      : rt_(rt), login_(login), object_(object) {}
  AttributeWriter(const AttributeWriter&) = delete;
  AttributeWriter& operator=(const AttributeWriter&) = delete;
  // Call flush() before the writer goes; what waits is otherwise lost.
  ~AttributeWriter() = default;

  void set(std::string_view attr, std::string_view value);
  // Commits what waits, with its lines.
  void flush();

 private:
  struct Pending {
    std::string attr;    // as the caller named it, for the log
    std::string stored;  // as the directory stores it
    std::string value;
    std::optional<std::string> before;
  };
  void logSet(const Pending& p);
  void report(const Pending& p, Hresult hr);

  Runtime& rt_;
  std::string login_;
  DirObject& object_;
  std::vector<Pending> pending_;
};

// The value a field map entry gives for user, or none when the entry is
// skipped (unknown name, or a rule refused it with a line in the log). With
// note, a refusal's line is put there instead of into the log.
std::optional<std::string> fieldMapValue(Runtime& rt, const FileUser& user,
                                         std::string_view fieldName, std::string* note = nullptr);

Hresult NedlaegBruger(Runtime& rt, const DirUser& dirUser);
void ArkiverBruger(Runtime& rt, DirObject& object);
void FjernAttributter(Runtime& rt, std::string_view login, DirObject& object,
                      std::string_view attributeList);
// The removal of old inactive accounts after a section: no account is ever
// deleted, whatever the settings say; kept so the job's order reads whole.
void OprydInaktiveBrugere(Runtime& rt, int days);

void RetBrugerLogin(Runtime& rt, FileUser& user, const std::string& oldLogin);
// The same; newPath receives the account's LDAP path after the move, or
// stays empty when the account was not moved.
void RetBrugerLogin(Runtime& rt, FileUser& user, const std::string& oldLogin, std::string& newPath);
void RetProxyAdresser(Runtime& rt, std::string_view newLogin, DirObject* object);

// Logins the directory accepts: Active Directory holds at most 20
// characters in sAMAccountName.
inline constexpr std::size_t kMaxLoginChars = 20;
// Paths and locations the directory operations build.
inline constexpr std::size_t kMaxPathChars = 259;
// Home directory and profile paths: the directory sets no limit on them, the
// update builds them in buffers of 500 characters.
inline constexpr std::size_t kMaxUserPathChars = 499;

}  // namespace tv
