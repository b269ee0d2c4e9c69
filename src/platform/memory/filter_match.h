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
  // An equality on an indexed attribute: the list of the entries holding
  // the value.
  std::optional<std::uint64_t> postingKey;
};

Compiled compile(const Filter& f, const Store& s);
Tri evaluate(const Compiled& c, const Store& s, const std::string& key, const Store::Entry& e);

// How many entries the equality indexes offer as candidates for the filter:
// the fewest of the terms of an AND, the sum over an OR whose every term is
// indexed. nullopt when no index bounds the filter (every entry may match).
std::optional<std::size_t> candidateCount(const Compiled& c, const Store& s);

// The candidates themselves, unordered and possibly repeated: every entry
// the filter is true for is among them (when candidateCount has a value).
void collectCandidates(const Compiled& c, const Store& s, std::vector<const Store::Node*>& out);

}  // namespace tv::memdir
