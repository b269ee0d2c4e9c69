#include "config/version.h"

namespace tv {

const char* buildDate() {
  return __DATE__;
}
const char* buildTime() {
  return __TIME__;
}

}  // namespace tv
