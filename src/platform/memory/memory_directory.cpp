#include "platform/memory/memory_directory.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/memory/filter_match.h"
#include "platform/memory/ldif.h"
#include "platform/memory/object.h"
#include "platform/memory/store.h"
#include "text/paths.h"

namespace tv {

using namespace memdir;  // the adapter's own internals

namespace {

// A search whose indexes offer more candidates than this share of the tree
// (one in kWalkShare entries) walks the tree instead.
constexpr std::size_t kWalkShare = 4;

}  // namespace

// ---------------------------------------------------------------------------
// The directory.

MemoryDirectory::MemoryDirectory(MemoryDirectoryOptions options)
    : store_(std::make_shared<Store>(options)), log_(options.log) {
  store_->freshDomain(options.baseDn);
}

MemoryDirectory::~MemoryDirectory() = default;

std::string MemoryDirectory::baseDn() const {
  std::lock_guard lock(store_->mu);
  return store_->baseDn;
}

std::size_t MemoryDirectory::entryCount() const {
  std::lock_guard lock(store_->mu);
  return store_->entries.size();
}

DirResult<std::unique_ptr<DirObject>> MemoryDirectory::bind(std::string_view path) {
  if (asciiEqualsIgnoreCase(path, "LDAP://RootDSE")) {
    std::lock_guard lock(store_->mu);
    store_->succeed();
    return {kSOk, MemObject::rootDse(store_)};
  }
  std::lock_guard lock(store_->mu);
  if (path.size() < 7 || !asciiEqualsIgnoreCase(path.substr(0, 7), "LDAP://")) {
    return {store_->fail(kEAdsBadPathname, "not an LDAP path: " + std::string(path)), nullptr};
  }
  const std::string dn = dnFromPath(path);
  auto key = treeKeyOf(dn);
  if (!key || key->empty()) {
    return {store_->fail(kEAdsBadPathname, "not an LDAP path: " + std::string(path)), nullptr};
  }
  Store::Entry* e = store_->find(*key);
  if (!e) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn), nullptr};
  }
  store_->succeed();
  return {kSOk, std::make_unique<MemObject>(store_, e->dn, store_->mostSpecificClass(*e), false)};
}

DirResult<std::unique_ptr<DirObject>> MemoryDirectory::bindRow(const SearchRow& row) {
  auto bound = bind(pathFromDn(row.dn));
  if (!bound.ok()) return bound;
  static_cast<MemObject*>(bound.value.get())->seed(row);
  return bound;
}

Hresult MemoryDirectory::search(std::string_view base, std::string_view filter,
                                const std::vector<std::string>& attrs, SearchScope scope,
                                int pageSize, const RowCallback& onRow) {
  const std::string baseDn = dnFromPath(base);
  auto parsed = memdir::parseFilter(filter);
  std::vector<std::string> keys;
  std::optional<Compiled> compiled;
  {
    std::lock_guard lock(store_->mu);
    if (!parsed.filter) {
      return store_->fail(kEAdsInvalidFilter, "bad search filter: " + parsed.error);
    }
    auto baseKey = treeKeyOf(baseDn);
    if (!baseKey || !store_->find(*baseKey)) {
      return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + baseDn);
    }
    compiled = compile(*parsed.filter, *store_);
    const std::size_t baseDepth = depthOf(*baseKey);
    auto inScope = [&](const std::string& key) {
      const std::size_t depth = depthOf(key);
      return scope == SearchScope::kBase       ? depth == baseDepth
             : scope == SearchScope::kOneLevel ? depth == baseDepth + 1
                                               : true;
    };
    // An indexed equality narrows the search to its candidates, in tree
    // order as a walk would meet them; a filter that most entries may match
    // is cheaper to answer by walking the subtree.
    const auto candidates = candidateCount(*compiled, *store_);
    if (scope != SearchScope::kBase && candidates &&
        *candidates <= store_->entries.size() / kWalkShare) {
      std::vector<const Store::Node*> nodes;
      nodes.reserve(*candidates);
      collectCandidates(*compiled, *store_, nodes);
      std::erase_if(nodes, [&](const Store::Node* n) {
        return !keyWithin(n->first, *baseKey) || !inScope(n->first);
      });
      std::sort(nodes.begin(), nodes.end(),
                [](const Store::Node* a, const Store::Node* b) { return a->first < b->first; });
      nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
      for (const Store::Node* n : nodes) {
        if (evaluate(*compiled, *store_, n->first, n->second) == Tri::kTrue) {
          keys.push_back(n->first);
        }
      }
    } else {
      for (auto it = store_->entries.lower_bound(*baseKey);
           it != store_->entries.end() && keyWithin(it->first, *baseKey); ++it) {
        if (scope == SearchScope::kBase && depthOf(it->first) != baseDepth) break;
        if (!inScope(it->first)) continue;
        if (evaluate(*compiled, *store_, it->first, it->second) == Tri::kTrue) {
          keys.push_back(it->first);
        }
      }
    }
  }
  // Column names as the schema spells them; names it lacks give no column.
  struct Column {
    bool adsPath;
    AttrId id;
  };
  std::vector<Column> columns;
  {
    std::lock_guard lock(store_->mu);
    for (const std::string& a : attrs) {
      if (asciiEqualsIgnoreCase(a, "ADsPath")) {
        columns.push_back({true, 0});
      } else if (auto id = store_->schema.find(a)) {
        columns.push_back({false, *id});
      }
    }
  }
  const bool paged = pageSize > 0;
  const std::size_t page = paged ? static_cast<std::size_t>(pageSize) : keys.size();
  std::size_t delivered = 0;
  for (std::size_t start = 0; start < keys.size(); start += page) {
    std::vector<SearchRow> rows;
    {
      std::lock_guard lock(store_->mu);
      for (std::size_t k = start; k < std::min(keys.size(), start + page); ++k) {
        const Store::Entry* e = store_->find(keys[k]);
        if (!e) continue;  // removed by a caller between pages
        SearchRow row;
        row.dn = e->dn;
        if (attrs.empty()) {
          row.attributes = store_->allAttributes(keys[k], *e);
        } else {
          for (const Column& c : columns) {
            if (c.adsPath) {
              row.attributes.push_back(
                  {"ADsPath", AdsType::kCaseIgnoreString, {pathFromDn(e->dn)}});
              continue;
            }
            auto values = store_->valuesOf(keys[k], *e, c.id);
            if (values.empty()) continue;
            const AttrDef& d = store_->schema.def(c.id);
            row.attributes.push_back({d.name, d.type, std::move(values)});
          }
        }
        rows.push_back(std::move(row));
      }
    }
    for (const SearchRow& row : rows) {
      if (!paged && delivered == static_cast<std::size_t>(kUnpagedLimit)) {
        std::lock_guard lock(store_->mu);
        return store_->fail(hresultFromLdap(ldaprc::kSizeLimitExceeded),
                            "00002024: size limit exceeded; ask for pages");
      }
      if (!onRow(row)) {
        std::lock_guard lock(store_->mu);
        return store_->succeed();
      }
      ++delivered;
    }
  }
  std::lock_guard lock(store_->mu);
  return store_->succeed();
}

DirResult<std::string> MemoryDirectory::canonicalName(std::string_view dn) {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn);
  Store::Entry* e = key && !key->empty() ? store_->find(*key) : nullptr;
  if (!e)
    return {store_->fail(kNameNotFound, "name translation: no object " + std::string(dn)), ""};
  store_->succeed();
  return {kSOk, canonicalNameOf(e->dn)};
}

std::optional<DirectoryError> MemoryDirectory::lastError() const {
  std::lock_guard lock(store_->mu);
  auto it = store_->errors.find(std::this_thread::get_id());
  if (it == store_->errors.end()) return std::nullopt;
  return it->second;
}

// ---------------------------------------------------------------------------
// Snapshots.

std::string MemoryDirectory::loadLdif(std::string_view text) {
  memdir::LdifParse parsed = memdir::parseLdif(text);
  if (!parsed.error.empty()) return parsed.error;
  std::unique_lock lock(store_->mu);
  if (parsed.records.empty()) {
    store_->freshDomain(store_->baseDn);
    return "";
  }
  // Build into a second store so a bad snapshot leaves the tree as it was.
  MemoryDirectoryOptions o;
  o.clock = store_->clock;
  o.dnsHostName = store_->dnsHostOption;
  auto next = std::make_shared<Store>(o);
  next->schema = store_->schema;
  auto& s = *next;
  std::string rootKey;
  std::map<std::string, int> lines;
  for (memdir::LdifRecord& r : parsed.records) {
    auto rdns = parseDn(r.dn);
    auto key = treeKeyOf(r.dn);
    const std::string at = "line " + std::to_string(r.line) + ": ";
    if (!rdns || !key || key->empty()) return at + "\"" + r.dn + "\" is not a DN";
    if (s.entries.count(*key)) return at + "\"" + r.dn + "\" is there twice";
    Store::Entry e;
    e.dn = formatDn(*rdns);
    for (auto& [name, value] : r.values) {
      const AttrId id = s.schema.learn(name);
      if (s.schema.def(id).access == Access::kComputed) continue;
      Store::Attr* a = Store::attr(e, id);
      if (!a) {
        e.attrs.push_back(Store::Attr{id, {}});
        a = &e.attrs.back();
      }
      a->values.push_back(std::move(value));
    }
    if (!Store::attr(e, s.idObjectClass)) return at + "\"" + r.dn + "\" has no objectClass";
    lines[*key] = r.line;
    s.entries.emplace(*key, std::move(e));
  }
  // The one entry whose parent is not in the snapshot is the domain.
  for (const auto& [key, e] : s.entries) {
    const std::string parent = parentKeyOf(key);
    if (!parent.empty() && s.entries.count(parent)) continue;
    if (!rootKey.empty()) {
      return "line " + std::to_string(lines[key]) + ": \"" + e.dn +
             "\" lies outside the snapshot's domain";
    }
    rootKey = key;
  }
  s.setDomain(s.entries.at(rootKey).dn, rootKey);
  std::uint64_t maxUsn = 0;
  std::uint32_t maxRid = 1103;
  for (auto& [key, e] : s.entries) {
    const std::string at = "line " + std::to_string(lines[key]) + ": ";
    if (auto u = parseInt(Store::first(e, s.idUsnChanged))) {
      maxUsn = std::max<std::uint64_t>(maxUsn, static_cast<std::uint64_t>(*u));
    }
    const std::string sid = Store::first(e, s.idSid);
    if (key == rootKey) {
      s.domainSid = sid;
    } else if (sid.size() >= 12) {
      const auto* b = reinterpret_cast<const unsigned char*>(sid.data() + sid.size() - 4);
      const std::uint32_t rid =
          b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
      if (rid < 0x7FFFFFFF) maxRid = std::max(maxRid, rid);
    }
    const std::string sam = Store::first(e, s.idSam);
    if (!sam.empty()) {
      if (s.samIndex.count(foldCase(sam))) {
        return at + "sAMAccountName '" + sam + "' is used twice";
      }
    }
    s.indexAccount(key, e);
    if (s.isGroup(e)) s.indexMembers(key, e);
  }
  s.usn = maxUsn + 1;
  s.nextRid = maxRid + 1;
  if (s.domainSid.size() < 8) {
    const std::uint64_t h = hashText(rootKey);
    s.domainSid = *sidFromString("S-1-5-21-" + std::to_string(1000000000u + (h % 1000000000u)) +
                                 "-" + std::to_string(1000000000u + ((h >> 21) % 1000000000u)) +
                                 "-" + std::to_string(1000000000u + ((h >> 42) % 1000000000u)));
  }
  // A domain controller gives every object a GUID, and every account and
  // group a SID of the domain and a category; a search for
  // (objectCategory=person) must find a snapshot's pupils, and a rename must
  // find their SIDs.
  std::size_t filled = 0;
  for (auto& [key, e] : s.entries) {
    bool fill = false;
    if (!Store::attr(e, s.idGuid)) {
      ++s.usn;
      Store::set(e, s.idGuid, {s.newGuid()});
      fill = true;
    }
    const bool account = s.hasClass(e, "user");
    if (account || s.isGroup(e)) {
      if (Store::first(e, s.idSid).empty()) {
        Store::set(e, s.idSid, {s.newSid()});
        fill = true;
      }
      if (!Store::attr(e, s.idCategory)) {
        const char* category = s.hasClass(e, "computer") ? "Computer"
                               : account                 ? "Person"
                                                         : "Group";
        Store::set(e, s.idCategory,
                   {std::string("CN=") + category + ",CN=Schema,CN=Configuration," + s.baseDn});
        fill = true;
      }
    }
    if (fill) ++filled;
  }
  // Swap the contents in; objects already bound keep working on the new tree.
  store_->schema = std::move(s.schema);
  store_->baseDn = s.baseDn;
  store_->baseKey = s.baseKey;
  store_->dnsDomain = s.dnsDomain;
  store_->domainSid = s.domainSid;
  store_->usn = s.usn;
  store_->nextRid = s.nextRid;
  store_->entries = std::move(s.entries);
  store_->memberOf = std::move(s.memberOf);
  store_->samIndex = std::move(s.samIndex);
  store_->upnIndex = std::move(s.upnIndex);
  store_->rebuildIndexes();
  lock.unlock();
  if (filled > 0 && log_ != nullptr) {
    log_->write(lvl::kFile,
                "** Info: Katalogfilen manglede objectGUID, objectSid eller objectCategory på " +
                    std::to_string(filled) + " objekter; de har fået dem, som AD giver dem.\n");
  }
  return "";
}

std::string MemoryDirectory::saveLdif() const {
  std::lock_guard lock(store_->mu);
  const Store& s = *store_;
  std::string out = "version: 1\n\n";
  for (const auto& [key, e] : s.entries) {
    memdir::LdifRecord r;
    r.dn = e.dn;
    std::vector<const Store::Attr*> attrs;
    for (const Store::Attr& a : e.attrs) {
      if (s.schema.def(a.id).access != Access::kComputed) attrs.push_back(&a);
    }
    std::sort(attrs.begin(), attrs.end(), [&](const Store::Attr* a, const Store::Attr* b) {
      if ((a->id == s.idObjectClass) != (b->id == s.idObjectClass)) return a->id == s.idObjectClass;
      return foldCase(s.schema.def(a->id).name) < foldCase(s.schema.def(b->id).name);
    });
    for (const Store::Attr* a : attrs) {
      for (const std::string& v : a->values) r.values.emplace_back(s.schema.def(a->id).name, v);
    }
    memdir::writeLdifRecord(out, r);
  }
  return out;
}

std::unique_ptr<MemoryDirectory> openMemoryDirectory(const std::string& path,
                                                     const MemoryDirectoryOptions& options,
                                                     std::string* error) {
  auto dir = std::make_unique<MemoryDirectory>(options);
  std::error_code ec;
  if (!std::filesystem::exists(pathFromUtf8(path), ec)) return dir;
  std::ifstream in(pathFromUtf8(path), std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string why = dir->loadLdif(text.str());
  if (!why.empty()) {
    if (error) *error = path + ": " + why;
    return nullptr;
  }
  return dir;
}

bool saveMemoryDirectory(const MemoryDirectory& directory, const std::string& path,
                         std::string* error) {
  const std::string text = directory.saveLdif();
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(pathFromUtf8(temp), std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      if (error) *error = temp + ": cannot be written";
      std::error_code ec;
      std::filesystem::remove(pathFromUtf8(temp), ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(pathFromUtf8(temp), pathFromUtf8(path), ec);
  if (ec) {
    if (error) *error = path + ": " + ec.message();
    std::filesystem::remove(pathFromUtf8(temp), ec);
    return false;
  }
  return true;
}

}  // namespace tv
