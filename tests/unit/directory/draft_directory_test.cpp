#include "directory/draft_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "directory/escape.h"
#include "platform/memory/memory_directory.h"

namespace tv {
namespace {

const std::string kUsers = "CN=Users,DC=skole,DC=test";
const std::string kNew = "CN=ny," + kUsers;

std::unique_ptr<DirObject> bindOk(Directory& dir, const std::string& dn) {
  auto b = dir.bind(pathFromDn(dn));
  EXPECT_EQ(b.hr, kSOk) << dn;
  return std::move(b.value);
}

void addUser(Directory& dir, const std::string& login) {
  auto made = bindOk(dir, kUsers)->create("user", "CN=" + login);
  ASSERT_TRUE(made.ok());
  (void)made.value->put("sAMAccountName", login);
  ASSERT_EQ(made.value->setInfo(), kSOk);
}

TEST(DraftingDirectory, HoldsTheNewAccountForTheDraftingThreadOnly) {
  MemoryDirectory memory;
  DraftingDirectory dir(memory);
  auto users = bindOk(dir, kUsers);
  auto draft = dir.beginDraft(kNew, *users);
  ASSERT_TRUE(draft);
  EXPECT_EQ(dir.beginDraft(kNew, *users), nullptr) << "one draft at a time";
  (void)draft->put("sAMAccountName", "ny");
  (void)draft->put("employeeNumber", "7");
  ASSERT_EQ(draft->setInfo(), kSOk);

  // Bound again, the account answers as the directory would after that add.
  auto again = dir.bind(pathFromDn(kNew));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value->get("employeeNumber").value, "7");
  EXPECT_EQ(again.value->getInt("userAccountControl").value, 0x222);
  EXPECT_EQ(again.value->get("givenName").hr, kEAdsPropertyNotFound);
  EXPECT_EQ(again.value->accountDisabled().value, true);
  ASSERT_EQ(again.value->setAccountDisabled(false), kSOk);
  (void)again.value->put("givenName", "Ny");
  EXPECT_EQ(again.value->get("givenName").value, "Ny") << "a queued value is read back";
  ASSERT_EQ(again.value->setInfo(), kSOk);
  ASSERT_EQ(again.value->setPassword("Kode1234x"), kSOk);
  (void)again.value->clear("employeeNumber");
  ASSERT_EQ(again.value->setInfo(), kSOk);

  // Other threads, and the directory itself, see no such account yet.
  std::thread([&] { EXPECT_EQ(dir.bind(pathFromDn(kNew)).hr, kNoSuchObject); }).join();
  EXPECT_EQ(memory.bind(pathFromDn(kNew)).hr, kNoSuchObject);

  auto done = dir.endDraft();
  ASSERT_TRUE(done) << dir.why();
  EXPECT_EQ(done->dn, kNew);
  EXPECT_EQ(done->password, "Kode1234x");
  std::vector<std::pair<std::string, std::vector<std::string>>> attributes;
  for (const DirAttribute& a : done->attributes) attributes.emplace_back(a.name, a.values);
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"sAMAccountName", {"ny"}}, {"userAccountControl", {"544"}}, {"givenName", {"Ny"}}};
  EXPECT_EQ(attributes, expected) << "the identification was taken away again";
  EXPECT_EQ(memory.bind(pathFromDn(kNew)).hr, kNoSuchObject) << "sending it is the caller's";
}

// Whatever a draft cannot answer exactly gives it up, and nothing of it, nor
// of the other objects the drafting thread touched, reaches the directory.
TEST(DraftingDirectory, WhatADraftCannotAnswerGivesItUp) {
  const struct {
    const char* name;
    std::function<void(Directory&, DirObject&)> act;
  } cases[] = {
      {"never saved", [](Directory&, DirObject&) {}},
      {"a value the directory makes",
       [](Directory&, DirObject& d) {
         ASSERT_EQ(d.setInfo(), kSOk);
         (void)d.get("objectSid");
       }},
      {"a change to another account",
       [](Directory& dir, DirObject& d) {
         ASSERT_EQ(d.setInfo(), kSOk);
         auto other = bindOk(dir, "CN=anden," + kUsers);
         (void)other->put("givenName", "X");
         EXPECT_LT(other->setInfo(), 0);
         EXPECT_EQ(other->get("sAMAccountName").value, "anden") << "reads go through";
       }},
      {"an attribute the schema lacks",
       [](Directory&, DirObject& d) {
         (void)d.put("favouriteColour", "blue");
         (void)d.setInfo();
       }},
      {"a password before the add", [](Directory&, DirObject& d) { (void)d.setPassword("x"); }},
      {"a member change",
       [](Directory&, DirObject& d) {
         ASSERT_EQ(d.setInfo(), kSOk);
         (void)d.addMember(pathFromDn("CN=anden," + kUsers));
       }},
  };
  for (const auto& c : cases) {
    MemoryDirectory memory;
    addUser(memory, "anden");
    const std::string before = memory.saveLdif();
    DraftingDirectory dir(memory);
    auto users = bindOk(dir, kUsers);
    auto draft = dir.beginDraft(kNew, *users);
    ASSERT_TRUE(draft);
    (void)draft->put("sAMAccountName", "ny");
    c.act(dir, *draft);
    EXPECT_FALSE(dir.endDraft().has_value()) << c.name;
    EXPECT_FALSE(dir.why().empty()) << c.name;
    EXPECT_EQ(memory.saveLdif(), before) << c.name;
    EXPECT_NE(dir.beginDraft(kNew, *users), nullptr) << c.name << ": a new draft may begin";
    (void)dir.endDraft();
  }
}

}  // namespace
}  // namespace tv
