#include "directory/draft_directory.h"

#include <algorithm>
#include <charconv>

#include "directory/escape.h"
#include "text/text.h"

namespace tv {

namespace {

// What a directory gives every new user by itself and a draft cannot know
// (identifiers, times, counters). A read or write of one spoils the draft.
constexpr std::string_view kGenerated[] = {
    "objectGUID",  "objectSid",      "whenCreated",       "whenChanged",     "uSNCreated",
    "uSNChanged",  "instanceType",   "objectCategory",    "sAMAccountType",  "primaryGroupID",
    "pwdLastSet",  "accountExpires", "badPwdCount",       "badPasswordTime", "codePage",
    "countryCode", "lastLogoff",     "lastLogon",         "logonCount",      "nTSecurityDescriptor",
    "cn",          "name",           "distinguishedName", "objectClass"};

// A new user before any password: disabled, no password required, normal account.
constexpr std::int64_t kNewUserFlags = 0x222;
constexpr std::int64_t kAccountDisable = 0x2;

bool generated(std::string_view attr) {
  return std::any_of(std::begin(kGenerated), std::end(kGenerated),
                     [&](std::string_view g) { return asciiEqualsIgnoreCase(g, attr); });
}

}  // namespace

struct DraftingDirectory::State {
  std::string dn;
  DirObject* schema = nullptr;
  bool saved = false;
  bool spoiled = false;
  std::string why;
  // The written attributes in the order first written; an empty list is a
  // value taken away again.
  std::vector<DirAttribute> written;
  std::optional<std::string> password;

  void spoil(std::string reason) {
    if (spoiled) return;
    spoiled = true;
    why = std::move(reason);
  }
  DirAttribute* find(std::string_view attr) {
    for (DirAttribute& a : written) {
      if (asciiEqualsIgnoreCase(a.name, attr)) return &a;
    }
    return nullptr;
  }
};

namespace {

using State = DraftingDirectory::State;

// The drafted account. Puts wait in the object's queue, as they do in an
// adapter's object, and a commit folds them into the draft's state.
class DraftObject final : public DirObject {
 public:
  explicit DraftObject(std::shared_ptr<State> state) : s_(std::move(state)) {}

  std::string adsPath() const override { return pathFromDn(s_->dn); }
  std::string dn() const override { return s_->dn; }
  std::string name() const override { return leafRdn(s_->dn); }
  std::string parent() const override { return pathFromDn(parentDn(s_->dn)); }
  std::string className() const override { return "user"; }

  DirResult<std::string> get(std::string_view attr) override {
    auto all = getAll(attr);
    if (!all.ok()) return {all.hr, {}};
    return {kSOk, all.value.front()};
  }
  DirResult<std::vector<std::string>> getAll(std::string_view attr) override {
    if (!readable(attr)) return {kEFail, {}};
    if (const Queued* q = queued(attr)) {
      if (q->values.empty()) return {kEAdsPropertyNotFound, {}};
      return {kSOk, q->values};
    }
    if (const DirAttribute* a = s_->find(attr); a != nullptr && !a->values.empty()) {
      return {kSOk, a->values};
    }
    if (asciiEqualsIgnoreCase(attr, "userAccountControl") && s_->find(attr) == nullptr) {
      return {kSOk, {std::to_string(kNewUserFlags)}};
    }
    return {kEAdsPropertyNotFound, {}};
  }
  DirResult<std::int64_t> getInt(std::string_view attr) override {
    auto text = get(attr);
    if (!text.ok()) return {text.hr, 0};
    std::int64_t v = 0;
    const char* end = text.value.data() + text.value.size();
    if (std::from_chars(text.value.data(), end, v).ptr != end) {
      s_->spoil("not a number: " + std::string(attr));
      return {kEFail, 0};
    }
    return {kSOk, v};
  }
  AdsType typeOf(std::string_view attr) override { return s_->schema->typeOf(attr); }
  Hresult getInfo() override { return kSOk; }

  Hresult put(std::string_view attr, std::string_view value) override {
    return putAll(attr, {std::string(value)});
  }
  Hresult putAll(std::string_view attr, std::vector<std::string> values) override {
    std::erase_if(queue_, [&](const Queued& q) { return asciiEqualsIgnoreCase(q.attr, attr); });
    queue_.push_back({std::string(attr), std::move(values)});
    return kSOk;
  }
  Hresult clear(std::string_view attr) override { return putAll(attr, {}); }
  Hresult setInfo() override {
    std::vector<Queued> queue = std::move(queue_);
    queue_.clear();
    for (Queued& q : queue) {
      if (generated(q.attr)) return spoil("a value the directory makes: " + q.attr);
      // The directory would refuse it with an error the draft cannot give.
      if (s_->schema->typeOf(q.attr) == AdsType::kInvalid) {
        return spoil("not in the schema: " + q.attr);
      }
      if (DirAttribute* a = s_->find(q.attr)) {
        a->values = std::move(q.values);
      } else {
        s_->written.push_back({std::move(q.attr), AdsType::kCaseIgnoreString, std::move(q.values)});
      }
    }
    s_->saved = true;
    return kSOk;
  }

  DirResult<std::unique_ptr<DirObject>> create(std::string_view, std::string_view) override {
    return {spoil("create below the account"), nullptr};
  }
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view, std::string_view) override {
    return {spoil("move below the account"), nullptr};
  }
  Hresult deleteChild(std::string_view, std::string_view) override {
    return spoil("delete below the account");
  }
  DirResult<std::vector<std::string>> children(std::string_view) override {
    return {spoil("children of the account"), {}};
  }

  DirResult<bool> accountDisabled() override {
    auto uac = getInt("userAccountControl");
    if (!uac.ok()) return {uac.hr, false};
    return {kSOk, (uac.value & kAccountDisable) != 0};
  }
  Hresult setAccountDisabled(bool disabled) override {
    auto uac = getInt("userAccountControl");
    if (!uac.ok()) return uac.hr;
    return put("userAccountControl", std::to_string(disabled ? (uac.value | kAccountDisable)
                                                             : (uac.value & ~kAccountDisable)));
  }
  Hresult setPassword(std::string_view password) override {
    if (!s_->saved) return spoil("password before the account");
    s_->password = std::string(password);
    return kSOk;
  }
  Hresult unlock() override { return spoil("unlock"); }
  Hresult addMember(std::string_view) override { return spoil("member change"); }
  Hresult removeMember(std::string_view) override { return spoil("member change"); }
  DirResult<std::vector<std::string>> members() override { return {spoil("members"), {}}; }

 private:
  struct Queued {
    std::string attr;
    std::vector<std::string> values;  // empty: cleared
  };
  const Queued* queued(std::string_view attr) const {
    for (const Queued& q : queue_) {
      if (asciiEqualsIgnoreCase(q.attr, attr)) return &q;
    }
    return nullptr;
  }
  bool readable(std::string_view attr) {
    if (!s_->saved) {
      (void)spoil("read before the account is saved");
      return false;
    }
    if (generated(attr)) {
      (void)spoil("a value the directory makes: " + std::string(attr));
      return false;
    }
    return true;
  }
  Hresult spoil(std::string why) {
    s_->spoil(std::move(why));
    return kEFail;
  }

  std::shared_ptr<State> s_;
  std::vector<Queued> queue_;
};

// Another object the drafting thread binds: read as it is, never changed,
// since the work is done again step by step when the draft is given up.
class ReadOnlyObject final : public DirObject {
 public:
  ReadOnlyObject(std::unique_ptr<DirObject> inner, std::shared_ptr<State> state)
      : in_(std::move(inner)), s_(std::move(state)) {}

  std::string adsPath() const override { return in_->adsPath(); }
  std::string dn() const override { return in_->dn(); }
  std::string name() const override { return in_->name(); }
  std::string parent() const override { return in_->parent(); }
  std::string className() const override { return in_->className(); }
  DirResult<std::string> get(std::string_view a) override { return in_->get(a); }
  DirResult<std::vector<std::string>> getAll(std::string_view a) override { return in_->getAll(a); }
  DirResult<std::int64_t> getInt(std::string_view a) override { return in_->getInt(a); }
  AdsType typeOf(std::string_view a) override { return in_->typeOf(a); }
  Hresult getInfo() override { return in_->getInfo(); }
  DirResult<std::vector<std::string>> children(std::string_view c) override {
    return in_->children(c);
  }
  DirResult<bool> accountDisabled() override { return in_->accountDisabled(); }
  DirResult<std::vector<std::string>> members() override { return in_->members(); }

  Hresult put(std::string_view, std::string_view) override { return spoil(); }
  Hresult putAll(std::string_view, std::vector<std::string>) override { return spoil(); }
  Hresult clear(std::string_view) override { return spoil(); }
  Hresult setInfo() override { return spoil(); }
  DirResult<std::unique_ptr<DirObject>> create(std::string_view, std::string_view) override {
    return {spoil(), nullptr};
  }
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view, std::string_view) override {
    return {spoil(), nullptr};
  }
  Hresult deleteChild(std::string_view, std::string_view) override { return spoil(); }
  Hresult setAccountDisabled(bool) override { return spoil(); }
  Hresult setPassword(std::string_view) override { return spoil(); }
  Hresult unlock() override { return spoil(); }
  Hresult addMember(std::string_view) override { return spoil(); }
  Hresult removeMember(std::string_view) override { return spoil(); }
  Hresult addMembers(const std::vector<std::string>&) override { return spoil(); }
  Hresult removeMembers(const std::vector<std::string>&) override { return spoil(); }

 private:
  Hresult spoil() {
    s_->spoil("a change to " + in_->dn());
    return kEFail;
  }

  std::unique_ptr<DirObject> in_;
  std::shared_ptr<State> s_;
};

}  // namespace

std::unique_ptr<DirObject> DraftingDirectory::beginDraft(std::string dn, DirObject& schema) {
  if (drafter_.load() != std::thread::id{}) return nullptr;
  state_ = std::make_shared<State>();
  state_->dn = std::move(dn);
  state_->schema = &schema;
  why_.clear();
  drafter_.store(std::this_thread::get_id());
  return std::make_unique<DraftObject>(state_);
}

std::optional<AccountDraft> DraftingDirectory::endDraft() {
  if (!drafting()) return std::nullopt;
  drafter_.store(std::thread::id{});
  std::shared_ptr<State> s = std::move(state_);
  if (!s->saved) s->spoil("the account was never saved");
  if (s->spoiled) {
    why_ = s->why;
    return std::nullopt;
  }
  AccountDraft draft{s->dn, {}, s->password};
  for (DirAttribute& a : s->written) {
    if (!a.values.empty()) draft.attributes.push_back(std::move(a));
  }
  return draft;
}

bool DraftingDirectory::drafting() const {
  return drafter_.load() == std::this_thread::get_id();
}

DirResult<std::unique_ptr<DirObject>> DraftingDirectory::bind(std::string_view path) {
  if (!drafting()) return inner_.bind(path);
  if (dnEquals(dnFromPath(path), state_->dn)) {
    if (!state_->saved) state_->spoil("bound before it is saved");
    return {kSOk, std::make_unique<DraftObject>(state_)};
  }
  auto bound = inner_.bind(path);
  if (!bound.ok()) return bound;
  return {bound.hr, std::make_unique<ReadOnlyObject>(std::move(bound.value), state_)};
}

DirResult<std::unique_ptr<DirObject>> DraftingDirectory::bindRow(const SearchRow& row) {
  if (!drafting()) return inner_.bindRow(row);
  if (dnEquals(row.dn, state_->dn)) return bind(pathFromDn(row.dn));
  auto bound = inner_.bindRow(row);
  if (!bound.ok()) return bound;
  return {bound.hr, std::make_unique<ReadOnlyObject>(std::move(bound.value), state_)};
}

// A search cannot see the drafted account. The drafting work searches only
// for the holder of the account's own login, which it tells apart from the
// account by its path; and before the account was made, the same login was
// searched for and nobody held it.
Hresult DraftingDirectory::search(std::string_view base, std::string_view filter,
                                  const std::vector<std::string>& attrs, SearchScope scope,
                                  int pageSize, const RowCallback& onRow) {
  return inner_.search(base, filter, attrs, scope, pageSize, onRow);
}

}  // namespace tv
