// Search filters evaluated over the memory directory's entries: attributes
// resolved against the schema and values folded once per search, matching
// by each attribute's syntax (case-ignoring text, numbers, DNs, binary SIDs),
// the bit-wise rules, and three-valued logic for attributes the schema lacks.
// Internal to the memory directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/memory/filter.h"
#include "platform/memory/store.h"

namespace tv::memdir {

enum class Tri { kFalse, kTrue, kUndefined };

inline Tri notOf(Tri t) {
  return t == Tri::kTrue ? Tri::kFalse : t == Tri::kFalse ? Tri::kTrue : Tri::kUndefined;
}

// A filter with its attributes resolved against the schema and its values
// folded once, so a search over many entries does no repeated work.
struct Compiled {
  Filter::Kind kind;
  std::vector<Compiled> children;
  std::optional<AttrId> id;
  AdsType type = AdsType::kCaseIgnoreString;
  std::string value;  // folded for strings, normalized for DNs, bytes for binaries
  std::optional<std::int64_t> number;
  std::string initial, final;
  std::vector<std::string> any;
  std::string rule;
  bool objectClassPresence = false;
};

Compiled compile(const Filter& f, const Store& s);
Tri evaluate(const Compiled& c, const Store& s, const std::string& key, const Store::Entry& e);

}  // namespace tv::memdir
