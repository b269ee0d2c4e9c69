#include "sync/operation_support.h"

#include "directory/escape.h"
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {

std::string userRdn(std::string_view login) {
  return "CN=" + escapeDnValue(login);
}

bool pathFits(Runtime& rt, std::string_view path, const char* what, std::size_t max) {
  if (charCount(path) <= max) return true;
  rt.log.message(1, "** Fejl: %s: stien er længere end %d tegn og bruges ikke: %s\n", what,
                 static_cast<int>(max), std::string(path).c_str());
  return false;
}

bool loginFits(Runtime& rt, std::string_view login, const char* what) {
  if (charCount(login) <= kMaxLoginChars) return true;
  rt.log.message(1, "** Fejl: %s: login '%s' er længere end %d tegn, som AD tillader.\n", what,
                 std::string(login).c_str(), static_cast<int>(kMaxLoginChars));
  return false;
}

namespace {

// Two relative names with the same value, letter for letter.
bool sameSpelling(const std::string& a, const std::string& b) {
  auto ra = parseDn(a);
  auto rb = parseDn(b);
  return ra && rb && ra->size() == 1 && rb->size() == 1 && ra->front().value == rb->front().value;
}

}  // namespace

bool alreadyThere(const std::string& sourcePath, const std::string& containerDn,
                  const std::string& rdn) {
  const std::string source = dnFromPath(sourcePath);
  const std::string target = (rdn.empty() ? leafRdn(source) : rdn) + "," + containerDn;
  // A name that differs only in case is still a rename (the directory keeps
  // the spelling it was given, and the account's path is compared by it).
  return dnEquals(source, target) && sameSpelling(leafRdn(source), leafRdn(target));
}

DirResult<std::unique_ptr<DirObject>> moveInto(Runtime& rt, DirObject& container,
                                               const std::string& sourcePath,
                                               const std::string& rdn) {
  if (alreadyThere(sourcePath, container.dn(), rdn)) return rt.ports.directory->bind(sourcePath);
  return container.moveHere(sourcePath, rdn);
}

}  // namespace tv
