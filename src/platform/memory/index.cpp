#include "platform/memory/store.h"

namespace tv::memdir {
namespace {

constexpr std::string_view kAlwaysIndexed[] = {"sAMAccountName", "cn",          "name",
                                               "employeeID",     "objectClass", "objectCategory"};

// The form a filter compares an attribute of this type in; none for the
// types it compares as numbers or bytes, which no search of the product
// asks by.
std::optional<IndexForm> formOf(AdsType type) {
  switch (type) {
    case AdsType::kDnString:
      return IndexForm::kDn;
    case AdsType::kOctetString:
    case AdsType::kNtSecurityDescriptor:
    case AdsType::kInteger:
    case AdsType::kLargeInteger:
    case AdsType::kBoolean:
      return std::nullopt;
    default:
      return IndexForm::kText;
  }
}

// The value of a DN's first RDN, read in place when it needs no unescaping
// (as every account's name), else from the parsed DN.
std::optional<std::string> firstRdnValue(std::string_view dn) {
  const auto eq = dn.find('=');
  if (eq != std::string_view::npos) {
    const std::string_view type = dn.substr(0, eq);
    const auto end = dn.find_first_of(",;", eq + 1);
    const std::string_view value =
        dn.substr(eq + 1, end == std::string_view::npos ? end : end - eq - 1);
    if (type.find_first_of(",;\\") == std::string_view::npos && !value.empty() &&
        value.front() != ' ' && value.back() != ' ' && value.front() != '"' &&
        value.find('\\') == std::string_view::npos) {
      return std::string(value);
    }
  }
  auto rdns = parseDn(dn);
  if (!rdns || rdns->empty()) return std::nullopt;
  return std::move(rdns->front().value);
}

}  // namespace

void Store::rebuildIndexes() {
  indexSlots.clear();
  const auto cn = schema.find("cn");
  auto addSlot = [&](AttrId id, IndexForm form) {
    if (tableOf(id, form)) return;
    const bool name = form == IndexForm::kText && (id == idSam || id == idName || id == cn);
    indexSlots.push_back(IndexSlot{id, form, name ? 0 : indexSlots.size() + 1});
  };
  std::vector<std::string_view> names(std::begin(kAlwaysIndexed), std::end(kAlwaysIndexed));
  names.insert(names.end(), indexedNames.begin(), indexedNames.end());
  for (std::string_view name : names) {
    auto id = schema.find(name);
    if (!id) continue;
    const AttrDef& d = schema.def(*id);
    // Of the computed attributes only name is a value; memberOf is answered
    // from the group's members.
    if (d.access == Access::kComputed && *id != idName) continue;
    auto form = formOf(d.type);
    if (!form) continue;
    addSlot(*id, *form);
    if (*id == idCategory) addSlot(*id, IndexForm::kCategoryLeaf);
  }
  nodesByKey.clear();
  nodesByKey.reserve(entries.size());
  for (Node& node : entries) nodesByKey.emplace(node.first, &node);
  postingLists.clear();
  postingLists.reserve(entries.size() * indexSlots.size());
  for (Node& node : entries) {
    node.second.postings.clear();
    indexEntry(node);
  }
}

void Store::indexEntry(Node& node) {
  Entry& e = node.second;
  std::vector<std::uint64_t> keys;
  for (const IndexSlot& s : indexSlots) {
    auto add = [&](std::string_view value) {
      if (s.form == IndexForm::kText) {
        keys.push_back(foldedPostingKey(s.table, value));
        return;
      }
      // DN values repeat from entry to entry (every account has the same
      // objectCategory), so the last one's key is kept.
      DnMemo& memo = dnMemo[s.form == IndexForm::kDn ? 0 : 1];
      if (!memo.valid || memo.value != value) {
        memo.value = value;
        memo.folded = s.form == IndexForm::kDn ? treeKeyOf(value) : categoryLeafOf(value);
        memo.valid = true;
      }
      if (memo.folded) keys.push_back(postingKey(s.table, *memo.folded));
    };
    if (s.id == idName) {
      if (auto value = firstRdnValue(e.dn)) add(*value);
    } else if (const Attr* a = attr(e, s.id)) {
      for (const std::string& v : a->values) add(v);
    }
  }
  // An entry is in each list once, however many of its values share a key.
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  e.postings.reserve(e.postings.size() + keys.size());
  for (std::uint64_t k : keys) {
    std::vector<Node*>& list = postingLists[k];
    e.postings.push_back(Posting{k, static_cast<std::uint32_t>(list.size())});
    list.push_back(&node);
  }
}

void Store::unindexEntry(Node& node) {
  for (const Posting& p : node.second.postings) {
    auto it = postingLists.find(p.key);
    if (it == postingLists.end()) continue;
    std::vector<Node*>& list = it->second;
    // The last of the list takes the leaving entry's place.
    Node* last = list.back();
    if (last != &node) {
      list[p.place] = last;
      for (Posting& q : last->second.postings) {
        if (q.key == p.key) {
          q.place = p.place;
          break;
        }
      }
    }
    list.pop_back();
    if (list.empty()) postingLists.erase(it);
  }
  node.second.postings.clear();
}

}  // namespace tv::memdir
