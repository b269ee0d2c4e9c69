#include <string>

#include "text/paths.h"

namespace tv {

std::FILE* openFile(std::string_view utf8Path, const char* mode) {
  // Binary and text are the same here; "e" keeps the file from child programs.
  std::string m(mode);
  m += "e";
  return std::fopen(std::string(utf8Path).c_str(), m.c_str());
}

}  // namespace tv
