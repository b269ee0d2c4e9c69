// What the entry needs to know about its own process on Windows: whether
// standard output is a character device (a console), where its executable
// lies, and its arguments as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace tv::win {

[[nodiscard]] bool standardOutputIsConsole();

// The full path of the running executable; empty when unknown.
[[nodiscard]] std::string executablePath();

// argv of wmain in UTF-8, without the program name.
[[nodiscard]] std::vector<std::string> utf8Arguments(int argc, wchar_t** argv);

}  // namespace tv::win
