// A directory that passes every call to another one, except that committing
// an object whose DN holds a marker fails with a constraint violation: the
// one failure the memory directory cannot be made to give for a password
// reset's unlock.
#pragma once

#include <memory>
#include <string>

#include "directory/directory.h"

namespace tv::test {

class FailingCommits : public Directory {
 public:
  FailingCommits(Directory& inner, std::string marker)
      : inner_(inner), marker_(std::move(marker)) {}

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override {
    return wrap(inner_.bind(path));
  }
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override {
    return wrap(inner_.bindRow(row));
  }
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override {
    injected_ = false;
    return inner_.search(base, filter, attrs, scope, pageSize, onRow);
  }
  DirResult<std::string> canonicalName(std::string_view dn) override {
    return inner_.canonicalName(dn);
  }
  std::optional<DirectoryError> lastError() const override {
    return injected_ ? std::nullopt : inner_.lastError();
  }

 private:
  class Object : public DirObject {
   public:
    Object(FailingCommits& owner, std::unique_ptr<DirObject> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::string adsPath() const override { return inner_->adsPath(); }
    std::string dn() const override { return inner_->dn(); }
    std::string name() const override { return inner_->name(); }
    std::string parent() const override { return inner_->parent(); }
    std::string className() const override { return inner_->className(); }
    DirResult<std::string> get(std::string_view a) override { return inner_->get(a); }
    DirResult<std::vector<std::string>> getAll(std::string_view a) override {
      return inner_->getAll(a);
    }
    DirResult<std::int64_t> getInt(std::string_view a) override { return inner_->getInt(a); }
    AdsType typeOf(std::string_view a) override { return inner_->typeOf(a); }
    Hresult getInfo() override { return inner_->getInfo(); }
    Hresult put(std::string_view a, std::string_view v) override { return inner_->put(a, v); }
    Hresult putAll(std::string_view a, std::vector<std::string> v) override {
      return inner_->putAll(a, std::move(v));
    }
    Hresult clear(std::string_view a) override { return inner_->clear(a); }
    Hresult setInfo() override {
      if (inner_->dn().find(owner_.marker_) != std::string::npos) {
        owner_.injected_ = true;
        return kConstraintViolation;
      }
      owner_.injected_ = false;
      return inner_->setInfo();
    }
    DirResult<std::unique_ptr<DirObject>> create(std::string_view c, std::string_view r) override {
      return inner_->create(c, r);
    }
    DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view s,
                                                   std::string_view r) override {
      return inner_->moveHere(s, r);
    }
    Hresult deleteChild(std::string_view c, std::string_view r) override {
      return inner_->deleteChild(c, r);
    }
    DirResult<std::vector<std::string>> children(std::string_view c) override {
      return inner_->children(c);
    }
    DirResult<bool> accountDisabled() override { return inner_->accountDisabled(); }
    Hresult setAccountDisabled(bool d) override { return inner_->setAccountDisabled(d); }
    Hresult setPassword(std::string_view p) override { return inner_->setPassword(p); }
    Hresult unlock() override { return inner_->unlock(); }
    Hresult addMember(std::string_view m) override { return inner_->addMember(m); }
    Hresult removeMember(std::string_view m) override { return inner_->removeMember(m); }
    DirResult<std::vector<std::string>> members() override { return inner_->members(); }

   private:
    FailingCommits& owner_;
    std::unique_ptr<DirObject> inner_;
  };

  DirResult<std::unique_ptr<DirObject>> wrap(DirResult<std::unique_ptr<DirObject>> r) {
    injected_ = false;
    if (r.ok()) r.value = std::make_unique<Object>(*this, std::move(r.value));
    return r;
  }

  Directory& inner_;
  std::string marker_;
  bool injected_ = false;
};

}  // namespace tv::test
