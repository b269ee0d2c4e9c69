#include "directory/directory.h"

#include "text/text.h"

namespace tv {

const DirAttribute* SearchRow::find(std::string_view attr) const {
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
