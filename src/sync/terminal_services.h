// The terminal-services settings of an account as the directory keeps them:
// the binary userParameters attribute, 96 reserved bytes, the signature "P"
// (UTF-16LE), a 16-bit property count and the properties, each a UTF-16LE
// name and a value whose bytes are written as two lower-case hex digits
// each. String values are null-terminated ANSI (Windows-1252) text.
//
// Properties this system does not write are kept byte for byte, and so are
// the reserved bytes (older systems kept dial-in data there).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

inline constexpr std::string_view kTsProfilePath = "CtxWFProfilePath";

struct TsProperty {
  std::string name;  // UTF-8 (the names are ASCII)
  std::uint16_t type = 1;
  std::string value;  // the encoded value bytes, as stored
};

struct TsUserParameters {
  std::string reserved;  // 96 bytes
  std::vector<TsProperty> properties;
};

// A blob that holds no property array yet (an empty value, or reserved data
// without the signature) gives an empty property list. Null for bytes that
// cannot be terminal-services data (shorter than the reserved part, or a
// property array that runs past the end).
[[nodiscard]] std::optional<TsUserParameters> parseUserParameters(std::string_view blob);
[[nodiscard]] std::string buildUserParameters(const TsUserParameters& params);

// The decoded text of a string property (UTF-8), or none when absent or not
// validly encoded.
[[nodiscard]] std::optional<std::string> tsStringProperty(const TsUserParameters& params,
                                                          std::string_view name);
// Sets a string property (UTF-8 in, stored as Windows-1252), adding it when
// absent; a new property array gets the CtxCfgPresent marker first, as
// terminal servers expect it.
void setTsStringProperty(TsUserParameters& params, std::string_view name, std::string_view value);

// Whole-value helpers for the terminal profile path. The current path of a
// blob (none when unset or unreadable), and the blob with the path set
// (none when the existing bytes cannot be terminal-services data, so they
// are never overwritten).
[[nodiscard]] std::optional<std::string> terminalProfilePathOf(std::string_view blob);
[[nodiscard]] std::optional<std::string> withTerminalProfilePath(std::string_view blob,
                                                                 std::string_view path);

}  // namespace tv
