// A directory that can hold one new account back: while a thread drafts an
// account, the writes that thread makes to it are kept here instead of going
// to the directory, and its reads of the account are answered from what was
// written so far. When the draft is done, the caller sends the result to the
// directory as one add (or gives it up and makes the account step by step).
//
// A new account costs a domain controller about the same for one add that
// carries everything as for each single write, so making an account with its
// password, its fields and its final flags in one add is several times
// cheaper than the writes one after another.
//
// The draft holds only what it can answer exactly. Anything else the thread
// does while drafting (a write to another object, a read of a value the
// directory would generate, a failure it would have to explain) spoils the
// draft; the caller then drops it. Other threads pass straight through.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "directory/directory.h"

namespace tv {

// What a finished draft holds: the account's attributes as the writes left
// them (objectClass included, the values the directory makes itself not),
// and the password it was given.
struct AccountDraft {
  std::string dn;
  std::vector<DirAttribute> attributes;
  std::optional<std::string> password;
};

class DraftingDirectory : public Directory {
 public:
  explicit DraftingDirectory(Directory& inner) : inner_(inner) {}

  // Starts the calling thread's draft of a new user at dn. schema answers
  // which attributes the directory knows (typeOf), normally the container the
  // account goes into. The object given back stands for the new account as
  // DirObject::create() would give it: put its first values and setInfo().
  // Null while another draft is open.
  [[nodiscard]] std::unique_ptr<DirObject> beginDraft(std::string dn, DirObject& schema);
  // Ends the calling thread's draft: the account, or nullopt when the draft
  // was spoiled (why() tells what spoiled it).
  [[nodiscard]] std::optional<AccountDraft> endDraft();
  [[nodiscard]] std::string why() const { return why_; }

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override;
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override;
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override;
  DirResult<std::string> canonicalName(std::string_view dn) override {
    return inner_.canonicalName(dn);
  }
  [[nodiscard]] std::optional<DirectoryError> lastError() const override {
    return inner_.lastError();
  }

  struct State;

 private:
  [[nodiscard]] bool drafting() const;

  Directory& inner_;
  std::atomic<std::thread::id> drafter_{};
  std::shared_ptr<State> state_;
  std::string why_;
};

}  // namespace tv
