// The value type the directory gives the attributes the product meets, so an
// adapter can report a column's type without asking the schema each time:
// binary attributes (SIDs, GUIDs, userParameters) must never be read as text,
// and the product takes a column as text only when it is a case-ignore string.
#pragma once

#include <string_view>

#include "directory/directory.h"

namespace tv {

// The AdsType of an attribute by its name (any case); attributes not in the
// table are kCaseIgnoreString.
[[nodiscard]] AdsType adsTypeOfAttribute(std::string_view name);

// True for kOctetString and kNtSecurityDescriptor (values are raw bytes).
[[nodiscard]] bool isBinaryType(AdsType type);

}  // namespace tv
