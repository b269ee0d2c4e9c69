#include "platform/memory/filter_match.h"

namespace tv::memdir {

Compiled compile(const Filter& f, const Store& s) {
  Compiled c;
  c.kind = f.kind;
  for (const Filter& child : f.children) c.children.push_back(compile(child, s));
  if (f.kind == Filter::Kind::kAnd || f.kind == Filter::Kind::kOr || f.kind == Filter::Kind::kNot) {
    return c;
  }
  c.id = s.schema.find(f.attr);
  if (!c.id) return c;
  c.type = s.schema.def(*c.id).type;
  c.rule = f.rule;
  c.objectClassPresence = *c.id == s.idObjectClass && f.kind == Filter::Kind::kPresent;
  switch (c.type) {
    case AdsType::kOctetString:
    case AdsType::kNtSecurityDescriptor:
      if (*c.id == s.idSid && startsWith(f.value, "S-")) {
        c.value = sidFromString(f.value).value_or(f.value);
      } else {
        c.value = f.value;
      }
      break;
    case AdsType::kDnString:
      if (*c.id == s.idCategory && f.value.find('=') == std::string::npos) {
        c.value = foldCase(f.value);  // the short form: objectCategory=person
      } else {
        c.value = treeKeyOf(f.value).value_or("\x02" + foldCase(f.value));
      }
      break;
    case AdsType::kInteger:
    case AdsType::kLargeInteger:
    case AdsType::kBoolean:
      c.number = f.value == "TRUE"    ? std::optional<std::int64_t>(1)
                 : f.value == "FALSE" ? std::optional<std::int64_t>(0)
                                      : parseInt(f.value);
      c.value = foldCase(f.value);
      break;
    default:
      c.value = foldCase(f.value);
  }
  c.initial = foldCase(f.initial);
  c.final = foldCase(f.final);
  for (const std::string& a : f.any) c.any.push_back(foldCase(a));
  if (f.kind == Filter::Kind::kEqual) {
    std::optional<IndexForm> form;
    if (*c.id == s.idCategory && c.value.find('=') == std::string::npos) {
      form = IndexForm::kCategoryLeaf;
    } else if (c.type == AdsType::kDnString) {
      form = IndexForm::kDn;
    } else if (c.type != AdsType::kOctetString && c.type != AdsType::kNtSecurityDescriptor &&
               c.type != AdsType::kInteger && c.type != AdsType::kLargeInteger &&
               c.type != AdsType::kBoolean) {
      form = IndexForm::kText;
    }
    if (auto table = form ? s.tableOf(*c.id, *form) : std::nullopt) {
      c.postingKey = Store::postingKey(*table, c.value);
    }
  }
  return c;
}

namespace {

// The group an equality on memberOf names, whose members are the candidates.
const Store::Entry* memberOfGroup(const Compiled& c, const Store& s) {
  const Store::Node* node = s.findNode(c.value);
  return node && s.isGroup(node->second) ? &node->second : nullptr;
}

bool isMemberOfEquality(const Compiled& c, const Store& s) {
  return c.kind == Filter::Kind::kEqual && c.id && *c.id == s.idMemberOf;
}

}  // namespace

std::optional<std::size_t> candidateCount(const Compiled& c, const Store& s) {
  switch (c.kind) {
    case Filter::Kind::kAnd: {
      std::optional<std::size_t> fewest;
      for (const Compiled& child : c.children) {
        auto n = candidateCount(child, s);
        if (n && (!fewest || *n < *fewest)) fewest = n;
      }
      return fewest;
    }
    case Filter::Kind::kOr: {
      std::size_t sum = 0;
      for (const Compiled& child : c.children) {
        auto n = candidateCount(child, s);
        if (!n) return std::nullopt;
        sum += *n;
      }
      return sum;
    }
    default:
      break;
  }
  if (isMemberOfEquality(c, s)) {
    const Store::Entry* group = memberOfGroup(c, s);
    const Store::Attr* members = group ? Store::attr(*group, s.idMember) : nullptr;
    return members ? members->values.size() : 0;
  }
  if (!c.postingKey) return std::nullopt;
  const auto* list = s.postingList(*c.postingKey);
  return list ? list->size() : 0;
}

void collectCandidates(const Compiled& c, const Store& s, std::vector<const Store::Node*>& out) {
  switch (c.kind) {
    case Filter::Kind::kAnd: {
      const Compiled* best = nullptr;
      std::optional<std::size_t> fewest;
      for (const Compiled& child : c.children) {
        auto n = candidateCount(child, s);
        if (n && (!fewest || *n < *fewest)) {
          fewest = n;
          best = &child;
        }
      }
      if (best) collectCandidates(*best, s, out);
      return;
    }
    case Filter::Kind::kOr:
      for (const Compiled& child : c.children) collectCandidates(child, s, out);
      return;
    default:
      break;
  }
  if (isMemberOfEquality(c, s)) {
    const Store::Entry* group = memberOfGroup(c, s);
    const Store::Attr* members = group ? Store::attr(*group, s.idMember) : nullptr;
    if (!members) return;
    for (const std::string& v : members->values) {
      auto k = treeKeyOf(v);
      if (const Store::Node* node = k ? s.findNode(*k) : nullptr) out.push_back(node);
    }
    return;
  }
  if (!c.postingKey) return;
  if (const auto* list = s.postingList(*c.postingKey))
    out.insert(out.end(), list->begin(), list->end());
}

namespace {

std::optional<std::int64_t> numberOf(const std::string& v) {
  if (v == "TRUE") return 1;
  if (v == "FALSE") return 0;
  return parseInt(v);
}

bool substringMatch(const Compiled& c, const std::string& value) {
  const std::string v = foldCase(value);
  std::size_t pos = 0;
  if (!c.initial.empty()) {
    if (v.compare(0, c.initial.size(), c.initial) != 0) return false;
    pos = c.initial.size();
  }
  for (const std::string& a : c.any) {
    const auto found = v.find(a, pos);
    if (found == std::string::npos) return false;
    pos = found + a.size();
  }
  if (!c.final.empty()) {
    if (v.size() < pos + c.final.size()) return false;
    if (v.compare(v.size() - c.final.size(), c.final.size(), c.final) != 0) return false;
  }
  return true;
}

bool valueMatches(const Compiled& c, const Store& s, const std::string& v) {
  switch (c.kind) {
    case Filter::Kind::kEqual:
    case Filter::Kind::kApprox:
    case Filter::Kind::kExtensible:
      switch (c.type) {
        case AdsType::kOctetString:
        case AdsType::kNtSecurityDescriptor:
          return v == c.value;
        case AdsType::kDnString:
          if (*c.id == s.idCategory && c.value.find('=') == std::string::npos) {
            if (auto leaf = plainLeafValue(v)) return equalFolded(*leaf, c.value);
            auto rdns = parseDn(v);
            return rdns && !rdns->empty() && equalFolded(rdns->front().value, c.value);
          }
          return treeKeyOf(v) == c.value;
        case AdsType::kInteger:
        case AdsType::kLargeInteger:
        case AdsType::kBoolean: {
          auto n = numberOf(v);
          return n && c.number && *n == *c.number;
        }
        default:
          return equalFolded(v, c.value);
      }
    case Filter::Kind::kSubstring:
      return substringMatch(c, v);
    case Filter::Kind::kGreaterOrEqual:
    case Filter::Kind::kLessOrEqual: {
      int cmp;
      if (c.number && (c.type == AdsType::kInteger || c.type == AdsType::kLargeInteger)) {
        auto n = numberOf(v);
        if (!n) return false;
        cmp = *n < *c.number ? -1 : *n > *c.number ? 1 : 0;
      } else {
        const std::string f = foldCase(v);
        cmp = f.compare(c.value);
      }
      return c.kind == Filter::Kind::kGreaterOrEqual ? cmp >= 0 : cmp <= 0;
    }
    default:
      return false;
  }
}

}  // namespace

Tri evaluate(const Compiled& c, const Store& s, const std::string& key, const Store::Entry& e) {
  switch (c.kind) {
    case Filter::Kind::kAnd: {
      Tri r = Tri::kTrue;
      for (const Compiled& child : c.children) {
        const Tri t = evaluate(child, s, key, e);
        if (t == Tri::kFalse) return Tri::kFalse;
        if (t == Tri::kUndefined) r = Tri::kUndefined;
      }
      return r;
    }
    case Filter::Kind::kOr: {
      Tri r = Tri::kFalse;
      for (const Compiled& child : c.children) {
        const Tri t = evaluate(child, s, key, e);
        if (t == Tri::kTrue) return Tri::kTrue;
        if (t == Tri::kUndefined) r = Tri::kUndefined;
      }
      return r;
    }
    case Filter::Kind::kNot:
      return notOf(evaluate(c.children.front(), s, key, e));
    default:
      break;
  }
  if (!c.id) return Tri::kUndefined;  // an attribute the schema lacks matches nothing
  if (c.objectClassPresence) return Tri::kTrue;
  if (*c.id == s.idMemberOf && c.kind == Filter::Kind::kEqual) {
    auto it = s.memberOf.find(key);
    if (it == s.memberOf.end()) return Tri::kFalse;
    for (const std::string& g : it->second) {
      if (g == c.value) return Tri::kTrue;
    }
    return Tri::kFalse;
  }
  const Store::Attr* stored = nullptr;
  std::vector<std::string> computed;
  const std::vector<std::string>* values;
  if (*c.id == s.idName || *c.id == s.idDn || *c.id == s.idMemberOf) {
    computed = s.valuesOf(key, e, *c.id);
    values = &computed;
  } else {
    stored = Store::attr(e, *c.id);
    if (!stored) return Tri::kFalse;
    values = &stored->values;
  }
  if (c.kind == Filter::Kind::kPresent) return values->empty() ? Tri::kFalse : Tri::kTrue;
  if (c.kind == Filter::Kind::kExtensible && !c.rule.empty()) {
    if (c.rule == kRuleBitAnd || c.rule == kRuleBitOr) {
      if (!c.number) return Tri::kUndefined;
      const auto mask = static_cast<std::uint32_t>(*c.number);
      for (const std::string& v : *values) {
        auto n = parseInt(v);
        if (!n) continue;
        const auto bits = static_cast<std::uint32_t>(*n);
        if (c.rule == kRuleBitAnd ? (bits & mask) == mask : (bits & mask) != 0) return Tri::kTrue;
      }
      return Tri::kFalse;
    }
    // In-chain matching is answered as plain equality: the product's groups
    // do not nest.
    if (c.rule != kRuleInChain) return Tri::kUndefined;
  }
  for (const std::string& v : *values) {
    if (valueMatches(c, s, v)) return Tri::kTrue;
  }
  return Tri::kFalse;
}

}  // namespace tv::memdir
