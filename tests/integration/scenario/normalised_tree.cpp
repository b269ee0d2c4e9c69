#include "normalised_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "text/text.h"

namespace tv::test {
namespace {

std::string folded(const std::string& s) {
  return toLower(s);
}

}  // namespace

std::string normalisedTree(Directory& directory, const std::string& baseDn) {
  std::vector<std::string> attrs = {"objectClass", "userAccountControl", "member"};
  attrs.insert(attrs.end(), kScenarioAttributes.begin(), kScenarioAttributes.end());
  std::map<std::string, std::string> entries;  // folded DN -> block
  const Hresult hr = directory.search(
      "OU=ZEB," + baseDn, "(objectClass=*)", attrs, SearchScope::kSubtree, 500,
      [&entries](const SearchRow& row) {
        std::string block = "dn: " + row.dn + "\n";
        if (const DirAttribute* cls = row.find("objectClass"); cls && !cls->values.empty()) {
          block += "class: " + cls->values.back() + "\n";
        }
        for (const std::string& name : kScenarioAttributes) {
          if (const DirAttribute* a = row.find(name)) {
            for (const std::string& v : a->values) block += name + ": " + v + "\n";
          }
        }
        if (const DirAttribute* uac = row.find("userAccountControl"); uac && !uac->values.empty()) {
          const long flags = std::strtol(uac->values.front().c_str(), nullptr, 10);
          block += std::string("disabled: ") + ((flags & 0x2) ? "yes" : "no") + "\n";
        }
        if (const DirAttribute* m = row.find("member")) {
          std::vector<std::string> members = m->values;
          std::sort(members.begin(), members.end(), [](const std::string& a, const std::string& b) {
            return folded(a) < folded(b);
          });
          for (const std::string& v : members) block += "member: " + v + "\n";
        }
        entries[folded(row.dn)] = block;
        return true;
      });
  if (hr < 0) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "<no OU=ZEB: hresult 0x%08X>\n", static_cast<unsigned>(hr));
    return buf;
  }
  std::string out;
  for (const auto& [key, block] : entries) out += block + "\n";
  return out;
}

std::string maskExtendedErrors(const std::string& log) {
  std::string out;
  for (const std::string& line : split(log, '\n')) {
    out += line.rfind("Error Text: ", 0) == 0 ? "Error Text: <the directory's>" : line;
    out += '\n';
  }
  out.pop_back();
  return out;
}

}  // namespace tv::test
