// The directory conformance suite: everything the product asks of a
// directory — bind, property reads, queued puts and commits, create, move,
// rename, delete, group members and memberOf, paged searches, filters with
// hostile values, the bit-wise matching rules, unique account names, and the
// HRESULTs of each failure, in a domain with and without the mail server's
// schema attributes — checked the same way for every adapter.
//
// Instantiate it in a test program with one or more targets:
//
//   INSTANTIATE_TEST_SUITE_P(Memory, DirectoryConformance,
//                            ::testing::Values(ConformanceTarget{…}),
//                            conformanceTargetName);
//
// Naming conformanceTargetName there also makes the linker keep the suite's
// tests from the static library.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "directory/directory.h"

namespace tv::test {

struct ConformanceTarget {
  // A directory whose baseDn exists and holds nothing the tests create; each
  // test calls open() once.
  std::function<std::unique_ptr<Directory>()> open;
  std::string baseDn;       // the container the tests work in
  bool mailSchema = false;  // msExchHideFromAddressLists, homeMDB, extensionAttribute1-15
};

class DirectoryConformance : public ::testing::TestWithParam<ConformanceTarget> {
 protected:
  void SetUp() override;

  // "LDAP://<rdn>,<base>".
  [[nodiscard]] std::string pathIn(const std::string& rdn) const;
  [[nodiscard]] std::string dnIn(const std::string& rdn) const;
  // Creates and commits an organizational unit below the base; its path.
  std::string makeOu(const std::string& name);
  // Creates and commits a user "CN=<login>" in the container at parentPath
  // with sAMAccountName, givenName and sn; its path.
  std::string makeUser(const std::string& parentPath, const std::string& login,
                       const std::string& given = "Anna", const std::string& last = "Berg");
  // A user with a password and an enabled account (userAccountControl 512).
  std::string makeEnabledUser(const std::string& parentPath, const std::string& login);
  std::string makeGroup(const std::string& parentPath, const std::string& name);
  // The values of one column over the rows of a search, sorted.
  std::vector<std::string> column(const std::string& base, const std::string& filter,
                                  const std::string& attr,
                                  SearchScope scope = SearchScope::kSubtree, Hresult* hr = nullptr);
  std::unique_ptr<DirObject> mustBind(const std::string& path);

  std::unique_ptr<Directory> dir_;
  std::string base_;
};

// Shows a target in failure messages by its base and schema.
void PrintTo(const ConformanceTarget& target, std::ostream* os);

// "PlainSchema0", "MailSchema1" … for the instantiation's test names.
std::string conformanceTargetName(const ::testing::TestParamInfo<ConformanceTarget>& info);

inline constexpr const char* kStrongPassword = "Vinter2026!Kage";

}  // namespace tv::test
