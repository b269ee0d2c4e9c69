#include "jobdata/exception_list.h"

#include "config/settings.h"
#include "text/text.h"

namespace tv {

ExceptionList buildExceptionList(std::string_view value) {
  ExceptionList list;
  if (value.empty()) return list;
  for (const std::string& name : split(value, ':')) {
    list.push_back(cutChars(name, kExceptionNameChars));
  }
  return list;
}

ExceptionList exceptionListFor(const Settings& settings, bool staff) {
  return buildExceptionList(staff ? settings.MedaUndtaget : settings.PersUndtaget);
}

bool isExcepted(Log& log, int logLevel, std::string_view name, const ExceptionList& list) {
  for (const std::string& entry : list) {
    if (entry == name) {
      if (logLevel >= 1) log.message(lvl::kFile, "NavnUndtaget-> %s - Undtaget\n", entry.c_str());
      return true;
    }
  }
  return false;
}

}  // namespace tv
