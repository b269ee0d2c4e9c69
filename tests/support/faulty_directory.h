// A directory that passes every call to another one, except for the faults a
// test asks for, which the memory directory cannot be made to give by its
// own rules:
//   - committing an object whose DN holds a marker fails with a given
//     HRESULT (only the commits that carry a change of one attribute, when
//     one is named): a refused unlock, a refused group type;
//   - an attribute of the objects whose DN holds a marker is not there, for
//     reads and search rows alike: an account whose SID cannot be read.
// Objects made by create() and moveHere() are wrapped too, so their commits
// meet the same faults.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "directory/directory.h"
#include "text/text.h"

namespace tv::test {

class FaultyDirectory : public Directory {
 public:
  explicit FaultyDirectory(Directory& inner) : inner_(inner) {}

  // Commits of objects whose DN contains dnMarker fail with hr; with an
  // attribute named, only the commits that queue a change of it.
  void failCommits(std::string dnMarker, std::string attribute = "",
                   Hresult hr = kConstraintViolation) {
    commitFaults_.push_back({std::move(dnMarker), std::move(attribute), hr});
  }
  // Changes of several members at once fail with hr, as a directory that
  // refuses a change that large would.
  void refuseMemberBatches(Hresult hr) { batchFault_ = hr; }
  // Objects whose DN contains dnMarker do not show attribute.
  void hideAttribute(std::string dnMarker, std::string attribute) {
    hidden_.push_back({std::move(dnMarker), std::move(attribute)});
  }

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override {
    return wrap(inner_.bind(path));
  }
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override {
    return wrap(inner_.bindRow(filtered(row)));
  }
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override {
    injected_ = false;
    return inner_.search(base, filter, attrs, scope, pageSize,
                         [&](const SearchRow& row) { return onRow(filtered(row)); });
  }
  DirResult<std::string> canonicalName(std::string_view dn) override {
    return inner_.canonicalName(dn);
  }
  std::optional<DirectoryError> lastError() const override {
    return injected_ ? std::nullopt : inner_.lastError();
  }

 private:
  struct CommitFault {
    std::string marker;
    std::string attribute;
    Hresult hr;
  };
  struct Hidden {
    std::string marker;
    std::string attribute;
  };

  bool hides(const std::string& dn, std::string_view attr) const {
    for (const Hidden& h : hidden_) {
      if (dn.find(h.marker) != std::string::npos && equalsIgnoreCase(attr, h.attribute)) {
        return true;
      }
    }
    return false;
  }

  SearchRow filtered(const SearchRow& row) const {
    SearchRow out = row;
    std::erase_if(out.attributes, [&](const DirAttribute& a) { return hides(row.dn, a.name); });
    return out;
  }

  class Object : public DirObject {
   public:
    Object(FaultyDirectory& owner, std::unique_ptr<DirObject> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::string adsPath() const override { return inner_->adsPath(); }
    std::string dn() const override { return inner_->dn(); }
    std::string name() const override { return inner_->name(); }
    std::string parent() const override { return inner_->parent(); }
    std::string className() const override { return inner_->className(); }
    DirResult<std::string> get(std::string_view a) override {
      if (owner_.hides(dn(), a)) return {kEAdsPropertyNotFound, {}};
      return inner_->get(a);
    }
    DirResult<std::vector<std::string>> getAll(std::string_view a) override {
      if (owner_.hides(dn(), a)) return {kEAdsPropertyNotFound, {}};
      return inner_->getAll(a);
    }
    DirResult<std::int64_t> getInt(std::string_view a) override {
      if (owner_.hides(dn(), a)) return {kEAdsPropertyNotFound, 0};
      return inner_->getInt(a);
    }
    AdsType typeOf(std::string_view a) override { return inner_->typeOf(a); }
    Hresult getInfo() override { return inner_->getInfo(); }
    Hresult put(std::string_view a, std::string_view v) override {
      queued_.emplace_back(a);
      return inner_->put(a, v);
    }
    Hresult putAll(std::string_view a, std::vector<std::string> v) override {
      queued_.emplace_back(a);
      return inner_->putAll(a, std::move(v));
    }
    Hresult clear(std::string_view a) override {
      queued_.emplace_back(a);
      return inner_->clear(a);
    }
    Hresult setInfo() override {
      std::vector<std::string> queued = std::move(queued_);
      queued_.clear();
      for (const CommitFault& f : owner_.commitFaults_) {
        if (dn().find(f.marker) == std::string::npos) continue;
        const bool carries =
            f.attribute.empty() || std::any_of(queued.begin(), queued.end(), [&](const auto& q) {
              return equalsIgnoreCase(q, f.attribute);
            });
        if (!carries) continue;
        dropQueue();
        owner_.injected_ = true;
        return f.hr;
      }
      owner_.injected_ = false;
      return inner_->setInfo();
    }
    DirResult<std::unique_ptr<DirObject>> create(std::string_view c, std::string_view r) override {
      return owner_.wrap(inner_->create(c, r));
    }
    DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view s,
                                                   std::string_view r) override {
      return owner_.wrap(inner_->moveHere(s, r));
    }
    Hresult deleteChild(std::string_view c, std::string_view r) override {
      return inner_->deleteChild(c, r);
    }
    DirResult<std::vector<std::string>> children(std::string_view c) override {
      return inner_->children(c);
    }
    DirResult<bool> accountDisabled() override { return inner_->accountDisabled(); }
    Hresult setAccountDisabled(bool d) override {
      queued_.emplace_back("userAccountControl");
      return inner_->setAccountDisabled(d);
    }
    Hresult setPassword(std::string_view p) override { return inner_->setPassword(p); }
    Hresult unlock() override {
      queued_.emplace_back("lockoutTime");
      return inner_->unlock();
    }
    Hresult addMember(std::string_view m) override { return inner_->addMember(m); }
    Hresult removeMember(std::string_view m) override { return inner_->removeMember(m); }
    Hresult addMembers(const std::vector<std::string>& m) override {
      if (owner_.batchFault_ && m.size() > 1) return *owner_.batchFault_;
      return inner_->addMembers(m);
    }
    Hresult removeMembers(const std::vector<std::string>& m) override {
      if (owner_.batchFault_ && m.size() > 1) return *owner_.batchFault_;
      return inner_->removeMembers(m);
    }
    DirResult<std::vector<std::string>> members() override { return inner_->members(); }

   private:
    // A refused commit empties the queue, as the port's commits do: the
    // object underneath is replaced by a fresh one at the same place (an
    // unsaved one by a fresh unsaved one).
    void dropQueue() {
      const std::string path = inner_->adsPath();
      auto parent = owner_.inner_.bind(inner_->parent());
      auto fresh = owner_.inner_.bind(path);
      if (fresh.ok()) {
        inner_ = std::move(fresh.value);
      } else if (parent.ok()) {
        auto made = parent.value->create(inner_->className(), inner_->name());
        if (made.ok()) inner_ = std::move(made.value);
      }
    }

    FaultyDirectory& owner_;
    std::unique_ptr<DirObject> inner_;
    std::vector<std::string> queued_;
  };

  DirResult<std::unique_ptr<DirObject>> wrap(DirResult<std::unique_ptr<DirObject>> r) {
    injected_ = false;
    if (r.ok() && r.value) r.value = std::make_unique<Object>(*this, std::move(r.value));
    return r;
  }

  std::optional<Hresult> batchFault_;
  Directory& inner_;
  std::vector<CommitFault> commitFaults_;
  std::vector<Hidden> hidden_;
  bool injected_ = false;
};

}  // namespace tv::test
