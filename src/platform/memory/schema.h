// The attributes the memory directory knows, with the value type, the
// single-valued flag and who may write them, as a Windows or Samba domain
// controller's default schema has them; the mail server's schema extension
// (msExchHideFromAddressLists, homeMDB, extensionAttribute1-15) is optional,
// as it is in real schools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directory/directory.h"

namespace tv::memdir {

enum class Access {
  kNormal,    // written by clients
  kSystem,    // kept by the directory (objectGUID, whenCreated …): stored, never put
  kComputed,  // made on read (name, distinguishedName, memberOf): never stored
};

struct AttrDef {
  std::string name;  // the schema's spelling
  AdsType type = AdsType::kCaseIgnoreString;
  bool single = true;
  Access access = Access::kNormal;
  std::size_t maxChars = 0;  // 0: no limit
};

using AttrId = std::uint16_t;

class Schema {
 public:
  explicit Schema(bool mailAttributes);

  [[nodiscard]] std::optional<AttrId> find(std::string_view name) const;
  // Adds an attribute met in a snapshot (multi-valued, type by name).
  AttrId learn(std::string_view name);
  [[nodiscard]] const AttrDef& def(AttrId id) const { return defs_[id]; }
  [[nodiscard]] std::size_t size() const { return defs_.size(); }

 private:
  AttrId add(AttrDef def);

  std::vector<AttrDef> defs_;
  std::unordered_map<std::string, AttrId> byLower_;
};

}  // namespace tv::memdir
