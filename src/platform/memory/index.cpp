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

}  // namespace

void Store::rebuildIndexes() {
  indexSlots.clear();
  auto addSlot = [&](AttrId id, IndexForm form) {
    if (!slotOf(id, form)) indexSlots.push_back(IndexSlot{id, form});
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
  postingLists.clear();
  for (Node& node : entries) {
    node.second.postings.clear();
    indexEntry(node);
  }
}

void Store::indexEntry(Node& node) {
  Entry& e = node.second;
  std::vector<std::uint64_t> keys;
  for (std::size_t slot = 0; slot < indexSlots.size(); ++slot) {
    const IndexSlot& s = indexSlots[slot];
    auto add = [&](std::string_view value) {
      switch (s.form) {
        case IndexForm::kText:
          keys.push_back(postingKey(slot, foldCase(value)));
          break;
        case IndexForm::kDn:
          if (auto k = treeKeyOf(value)) keys.push_back(postingKey(slot, *k));
          break;
        case IndexForm::kCategoryLeaf:
          if (auto leaf = categoryLeafOf(value)) keys.push_back(postingKey(slot, *leaf));
          break;
      }
    };
    if (s.id == idName) {
      auto rdns = parseDn(e.dn);
      if (rdns && !rdns->empty()) add(rdns->front().value);
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
