// A directory that passes every call through to another one and counts the
// calls that cost a round trip to a domain controller: searches (a
// container's child listing is one too), binds by path, commits (setInfo,
// which also saves a created object) and the changes that act at once
// (moves, deletes, passwords, member adds and removes, a batch of members
// counting once), and the reads that load an object's property cache. The
// cache follows the port's rules (see DirObject): a bound object is read
// whole, a row-bound one holds the row's attributes, a new one is never read,
// queued values are read from the queue, and every commit or immediate change
// empties the cache; a read the cache cannot answer costs one load.
// The counts show whether a piece of directory work costs a fixed number of
// searches or one per user. Everything is inline so a benchmark program can
// use it without the test library.
//
// Objects handed out must not outlive the CountingDirectory they came from.
// The counters are atomic: the directory may be shared by two threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "directory/directory.h"
#include "text/text.h"

namespace tv::test {

struct DirectoryCounts {
  unsigned long searches = 0;
  unsigned long searchRows = 0;  // rows delivered to callbacks
  unsigned long binds = 0;       // Directory::bind, RootDSE included
  unsigned long rowBinds = 0;    // Directory::bindRow (no round trip while seeded)
  unsigned long commits = 0;     // DirObject::setInfo
  unsigned long changes = 0;     // moves, deletes, passwords, member adds and removes
  unsigned long loads = 0;       // reads the property cache could not answer

  friend bool operator==(const DirectoryCounts&, const DirectoryCounts&) = default;
  DirectoryCounts& operator+=(const DirectoryCounts& o) {
    searches += o.searches;
    searchRows += o.searchRows;
    binds += o.binds;
    rowBinds += o.rowBinds;
    commits += o.commits;
    changes += o.changes;
    loads += o.loads;
    return *this;
  }
  friend DirectoryCounts operator*(DirectoryCounts c, unsigned long n) {
    c.searches *= n;
    c.searchRows *= n;
    c.binds *= n;
    c.rowBinds *= n;
    c.commits *= n;
    c.changes *= n;
    c.loads *= n;
    return c;
  }
  friend std::ostream& operator<<(std::ostream& os, const DirectoryCounts& c) {
    return os << "{searches " << c.searches << ", rows " << c.searchRows << ", binds " << c.binds
              << ", row binds " << c.rowBinds << ", commits " << c.commits << ", changes "
              << c.changes << ", loads " << c.loads << "}";
  }
};

class CountingDirectory : public Directory {
 public:
  // inner must outlive this.
  explicit CountingDirectory(Directory& inner) : inner_(inner) {}

  [[nodiscard]] DirectoryCounts counts() const {
    return {searches_.load(), searchRows_.load(), binds_.load(), rowBinds_.load(),
            commits_.load(),  changes_.load(),    loads_.load()};
  }
  void reset() {
    searches_ = 0;
    searchRows_ = 0;
    binds_ = 0;
    rowBinds_ = 0;
    commits_ = 0;
    changes_ = 0;
    loads_ = 0;
  }

  [[nodiscard]] DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override {
    ++binds_;
    return wrap(inner_.bind(path), Cache::kWhole);
  }
  [[nodiscard]] DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override {
    ++rowBinds_;
    auto bound = wrap(inner_.bindRow(row), Cache::kEmpty);
    if (bound.value) {
      auto& object = static_cast<Object&>(*bound.value);
      for (const DirAttribute& a : row.attributes) {
        if (!a.values.empty()) object.cached_.push_back(a.name);
      }
    }
    return bound;
  }
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override {
    ++searches_;
    return inner_.search(base, filter, attrs, scope, pageSize, [this, &onRow](const SearchRow& r) {
      ++searchRows_;
      return onRow(r);
    });
  }
  [[nodiscard]] DirResult<std::string> canonicalName(std::string_view dn) override {
    return inner_.canonicalName(dn);
  }
  [[nodiscard]] std::optional<DirectoryError> lastError() const override {
    return inner_.lastError();
  }

 private:
  // What an object's property cache holds.
  enum class Cache { kEmpty, kWhole, kNew };

  class Object : public DirObject {
   public:
    Object(CountingDirectory& owner, std::unique_ptr<DirObject> inner, Cache cache)
        : owner_(owner), inner_(std::move(inner)), cache_(cache) {}

    [[nodiscard]] std::string adsPath() const override { return inner_->adsPath(); }
    [[nodiscard]] std::string dn() const override { return inner_->dn(); }
    [[nodiscard]] std::string name() const override { return inner_->name(); }
    [[nodiscard]] std::string parent() const override { return inner_->parent(); }
    [[nodiscard]] std::string className() const override {
      // Read without being kept when the cache lacks it.
      if (cache_ == Cache::kEmpty && !holds(cached_, "objectClass")) ++owner_.loads_;
      return inner_->className();
    }
    [[nodiscard]] DirResult<std::string> get(std::string_view attr) override {
      read(attr);
      return inner_->get(attr);
    }
    [[nodiscard]] DirResult<std::vector<std::string>> getAll(std::string_view attr) override {
      read(attr);
      return inner_->getAll(attr);
    }
    [[nodiscard]] DirResult<std::int64_t> getInt(std::string_view attr) override {
      read(attr);
      return inner_->getInt(attr);
    }
    [[nodiscard]] AdsType typeOf(std::string_view attr) override { return inner_->typeOf(attr); }
    Hresult getInfo() override {
      drop();
      return inner_->getInfo();
    }
    Hresult put(std::string_view attr, std::string_view value) override {
      queue(attr);
      return inner_->put(attr, value);
    }
    Hresult putAll(std::string_view attr, std::vector<std::string> values) override {
      queue(attr);
      return inner_->putAll(attr, std::move(values));
    }
    Hresult clear(std::string_view attr) override {
      queue(attr);
      return inner_->clear(attr);
    }
    Hresult setInfo() override {
      ++owner_.commits_;
      const Hresult hr = inner_->setInfo();
      if (cache_ == Cache::kNew && hr >= 0) {
        cache_ = Cache::kEmpty;
      } else if (cache_ != Cache::kNew) {
        drop();
      }
      queued_.clear();
      return hr;
    }
    [[nodiscard]] DirResult<std::unique_ptr<DirObject>> create(std::string_view cls,
                                                               std::string_view rdn) override {
      return owner_.wrap(inner_->create(cls, rdn), Cache::kNew);
    }
    [[nodiscard]] DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view sourcePath,
                                                                 std::string_view newRdn) override {
      ++owner_.changes_;
      return owner_.wrap(inner_->moveHere(sourcePath, newRdn), Cache::kEmpty);
    }
    Hresult deleteChild(std::string_view cls, std::string_view rdn) override {
      ++owner_.changes_;
      return inner_->deleteChild(cls, rdn);
    }
    [[nodiscard]] DirResult<std::vector<std::string>> children(std::string_view cls) override {
      ++owner_.searches_;  // a one-level search on a domain controller
      return inner_->children(cls);
    }
    [[nodiscard]] DirResult<bool> accountDisabled() override {
      read("userAccountControl");
      return inner_->accountDisabled();
    }
    Hresult setAccountDisabled(bool disabled) override {
      read("userAccountControl");
      queue("userAccountControl");
      return inner_->setAccountDisabled(disabled);
    }
    Hresult setPassword(std::string_view password) override {
      ++owner_.changes_;
      drop();
      return inner_->setPassword(password);
    }
    Hresult unlock() override {
      queue("lockoutTime");
      return inner_->unlock();
    }
    Hresult addMember(std::string_view memberPath) override {
      ++owner_.changes_;
      drop();
      return inner_->addMember(memberPath);
    }
    Hresult removeMember(std::string_view memberPath) override {
      ++owner_.changes_;
      drop();
      return inner_->removeMember(memberPath);
    }
    Hresult addMembers(const std::vector<std::string>& memberPaths) override {
      ++owner_.changes_;
      drop();
      return inner_->addMembers(memberPaths);
    }
    Hresult removeMembers(const std::vector<std::string>& memberPaths) override {
      ++owner_.changes_;
      drop();
      return inner_->removeMembers(memberPaths);
    }
    [[nodiscard]] DirResult<std::vector<std::string>> members() override {
      ++owner_.loads_;  // the member list is read from the directory each time
      return inner_->members();
    }

   private:
    friend class CountingDirectory;

    static bool holds(const std::vector<std::string>& names, std::string_view attr) {
      return std::any_of(names.begin(), names.end(),
                         [&](const std::string& n) { return asciiEqualsIgnoreCase(n, attr); });
    }
    void read(std::string_view attr) {
      if (cache_ != Cache::kEmpty || holds(queued_, attr) || holds(cached_, attr)) return;
      ++owner_.loads_;
      cache_ = Cache::kWhole;
    }
    void queue(std::string_view attr) {
      if (!holds(queued_, attr)) queued_.emplace_back(attr);
    }
    void drop() {
      if (cache_ == Cache::kNew) return;
      cache_ = Cache::kEmpty;
      cached_.clear();
    }

    CountingDirectory& owner_;
    std::unique_ptr<DirObject> inner_;
    Cache cache_;
    std::vector<std::string> cached_;  // attributes held without the whole entry
    std::vector<std::string> queued_;  // attributes put since the last commit
  };

  DirResult<std::unique_ptr<DirObject>> wrap(DirResult<std::unique_ptr<DirObject>> r, Cache cache) {
    if (r.value) r.value = std::make_unique<Object>(*this, std::move(r.value), cache);
    return r;
  }

  Directory& inner_;
  std::atomic<unsigned long> searches_{0};
  std::atomic<unsigned long> searchRows_{0};
  std::atomic<unsigned long> binds_{0};
  std::atomic<unsigned long> rowBinds_{0};
  std::atomic<unsigned long> commits_{0};
  std::atomic<unsigned long> changes_{0};
  std::atomic<unsigned long> loads_{0};
};

}  // namespace tv::test
