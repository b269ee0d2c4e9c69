#include "service/registry.h"

#include <vector>

namespace tv {
namespace {

constexpr unsigned kLevelFailure = 99;

int writeKey(Log& log, InstallKeys& keys, const char* key, const std::vector<KeyValue>& values) {
  InstallKeys::Opened opened = keys.createKey(key);
  if (opened.error != 0) {
    Log::setLastError(platformError(opened.error));
    log.message(kLevelFailure, "** Fejl: Cannot initialize access to registry: \"%s\"", key);
    return 1;
  }
  if (opened.existed) log.message(lvl::kFile, "Replacing existing keys: \"%s\"", key);
  for (const KeyValue& v : values) {
    if (int err = keys.setValue(key, v); err != 0) {
      Log::setLastError(platformError(err));
      log.message(kLevelFailure, "** Fejl: Cannot install registry key: Key=\"%s\"",
                  v.name.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int installKeys(Log& log, InstallKeys& keys, const std::string& dataFolder) {
  // The path is stored whole: a Linux path longer than the old 259-character
  // buffer would otherwise name a different folder.
  KeyValue dataPath{"DataPath", KeyValue::kExpandString, dataFolder, 0};
  if (writeKey(log, keys, kDataKey, {dataPath}) != 0) return 1;
  KeyValue messageFile{"EventMessageFile", KeyValue::kExpandString,
                       "%SystemRoot%\\System32\\Tavlevagt.dll", 0};
  KeyValue types{"TypesSupported", KeyValue::kDword, "", 7};
  return writeKey(log, keys, kEventKey, {messageFile, types});
}

int readKeys(Log& log, InstallKeys& keys, std::string& dataPath) {
  dataPath.clear();
  InstallKeys::Query q = keys.queryText(kDataKey, "DataPath");
  if (q.keyError != 0) {
    Log::setLastError(platformError(q.keyError));
    log.message(kLevelFailure, "** Fejl: Cannot initialize access to registry: \"%s\"", kDataKey);
    return 1;
  }
  if (q.valueError != 0) {
    // DataPath is required: a missing value is an error like any other.
    Log::setLastError(platformError(q.valueError));
    log.message(kLevelFailure, "** Fejl: Cannot query registry key: \"%s\"", "DataPath");
    return 1;
  }
  dataPath = q.text;
  return 0;
}

int deleteKeys(Log& log, InstallKeys& keys) {
  int result = 0;
  for (const char* key : {kDataKey, kEventKey}) {
    if (int err = keys.deleteKey(key); err != 0) {
      Log::setLastError(platformError(err));
      log.message(kLevelFailure, "** Fejl: Cannot delete registry keys: \"%s\"", key);
      result = 1;
    }
  }
  return result;
}

}  // namespace tv
