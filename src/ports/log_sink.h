// Where an adapter writes its own log lines (a refused bind, a lost and
// restored connection) without depending on the product's log: the log
// implements this port and the wiring hands it to the adapter. The level word
// is the log's; its bits choose the outputs.
#pragma once

#include <string_view>

namespace tv {

namespace lvl {
inline constexpr unsigned kFile = 1;
inline constexpr unsigned kEvent = 2;
inline constexpr unsigned kWarning = 16;
inline constexpr unsigned kError = 32;
inline constexpr unsigned kSystemText = 64;
}  // namespace lvl

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One whole message, its line breaks included, written as it stands.
  virtual void write(unsigned level, std::string_view text) = 0;
};

}  // namespace tv
