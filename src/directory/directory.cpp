#include "directory/directory.h"

#include "text/text.h"

namespace tv {

const DirAttribute* SearchRow::find(std::string_view attr) const {
  // Attribute names are ASCII: then folding A-Z alone decides (the case
  // mapping never takes other characters to ASCII), without a scan of every
  // column's name for other characters.
  if (isAscii(attr)) {
    for (const DirAttribute& a : attributes) {
      if (asciiEqualsIgnoreCase(a.name, attr)) return &a;
    }
    return nullptr;
  }
  for (const DirAttribute& a : attributes) {
    if (equalsIgnoreCase(a.name, attr)) return &a;
  }
  return nullptr;
}

std::string SearchRow::first(std::string_view attr) const {
  const DirAttribute* a = find(attr);
  return a && !a->values.empty() ? a->values.front() : std::string();
}

}  // namespace tv
