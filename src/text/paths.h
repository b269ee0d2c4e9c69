// Paths between the program's text and the file system. Inside the program a
// path is UTF-8 text like every other string. std::filesystem::path keeps the
// platform's own form instead (bytes on Linux, UTF-16 on Windows), and its
// string() and c_str() give UTF-8 on Linux only; so every path that goes to
// the file system, comes back from it or is printed passes through here.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace tv {

// The platform's separator of path parts ('/' on Linux, '\' on Windows).
inline constexpr char kPathSeparator =
    static_cast<char>(std::filesystem::path::preferred_separator);

// The file-system path of UTF-8 text; on Linux the bytes stay as they are,
// whether they are valid UTF-8 or not.
[[nodiscard]] std::filesystem::path pathFromUtf8(std::string_view utf8);

// The UTF-8 text of a path, for the log and for comparing names.
[[nodiscard]] std::string utf8FromPath(const std::filesystem::path& path);

// std::fopen of a UTF-8 path, always in binary mode (the bytes written are the
// bytes in the file, on every platform). mode is "r", "w", "a" or "wx" with
// an optional "+"; "x" fails when the file exists. Null with errno set when
// the file cannot be opened.
[[nodiscard]] std::FILE* openFile(std::string_view utf8Path, const char* mode);

// name below folder: the folder's text, the separator and the name, as they
// stand. A name that begins with a separator stays below the folder too.
[[nodiscard]] std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace tv
