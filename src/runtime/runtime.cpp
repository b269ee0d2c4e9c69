#include "runtime/runtime.h"

#include <utility>

namespace tv {

void Runtime::reportFailure(const std::string& text) {
  log.message(lvl::kFile | lvl::kEvent | lvl::kError, "%s", text.c_str());
  recordFailure(text);
}

void Runtime::recordFailure(const std::string& text) {
  std::lock_guard lock(failuresLock_);
  failures_.push_back(text);
}

std::vector<std::string> Runtime::takeFailures() {
  std::lock_guard lock(failuresLock_);
  return std::exchange(failures_, {});
}

}  // namespace tv
