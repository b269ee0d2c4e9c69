#include "log/log.h"

#include <cinttypes>
#include <filesystem>
#include <memory>
#include <vector>

#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

thread_local SystemError tLastError;

constexpr std::size_t kMessageMax = 15999;
constexpr const char* kFallbackName = "$$morena$$.log";
constexpr std::size_t kReportMax = 2047;

// Cuts to at most max bytes without splitting a UTF-8 character.
std::string cutBytes(std::string s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  s.resize(end);
  return s;
}

}  // namespace

void Log::setLastError(SystemError error) {
  tLastError = error;
}
SystemError Log::lastError() {
  return tLastError;
}

std::string Log::systemText(const SystemError& error) const {
  if (error.category() == win32Category()) return error.message() + "\n";
  if (opt_.system != nullptr) return opt_.system->errorText(error);
  return error.message() + "\n";
}

SystemError Log::openFailure() const {
  std::lock_guard lock(mutex_);
  return openFailure_;
}

SystemError Log::fallbackReason() const {
  std::lock_guard lock(mutex_);
  return fallbackReason_;
}

std::string Log::fallbackPath() const {
  std::lock_guard lock(mutex_);
  return joinPath(opt_.folder, kFallbackName);
}

Log::Log(Options options) : opt_(std::move(options)) {}

Log::~Log() {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
}

void Log::message(unsigned level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vmessage(level, fmt, args);
  va_end(args);
}

void Log::write(unsigned level, std::string_view text) {
  message(level, "%s", std::string(text).c_str());
}

void Log::vmessage(unsigned level, const char* fmt, va_list args) {
  // The error code first: formatting may change it.
  const SystemError savedError = tLastError;
  std::string text = cutBytes(vformat(fmt, args), kMessageMax);
  if ((level & lvl::kSystemText) != 0) {
    std::string system = systemText(savedError);
    // A message that ends its own line gets the text on a line of its own,
    // closed before the text's line break: otherwise the ")" would open the
    // next message's line.
    if (text.ends_with('\n') && system.ends_with('\n')) {
      system.pop_back();
      text = cutBytes(text + " (" + system + ")\n", kMessageMax);
    } else {
      text = cutBytes(text + " (" + system + ")", kMessageMax);
    }
  }
  // One message at a time through every output, so the file, the event log and
  // the console see the same order; a message waits rather than being lost.
  std::lock_guard lock(emitMutex_);
  if (holder_ && *holder_ == std::this_thread::get_id()) {
    held_.emplace_back(level, std::move(text));
    return;
  }
  emit(level, text);
}

void Log::hold() {
  std::lock_guard lock(emitMutex_);
  holder_ = std::this_thread::get_id();
  held_.clear();
}

void Log::releaseHeld() {
  std::lock_guard lock(emitMutex_);
  holder_.reset();
  for (const auto& [level, text] : held_) emit(level, text);
  held_.clear();
}

void Log::dropHeld() {
  std::lock_guard lock(emitMutex_);
  holder_.reset();
  held_.clear();
}

void Log::emit(unsigned level, const std::string& text) {
  if ((level & lvl::kEvent) != 0 && opt_.events != nullptr) {
    EventType type = (level & lvl::kError) != 0     ? EventType::Error
                     : (level & lvl::kWarning) != 0 ? EventType::Warning
                                                    : EventType::Information;
    opt_.events->report(type, text);
  }
  if ((level & lvl::kFile) != 0) writeFile(text);
  if (opt_.console && opt_.consoleStream != nullptr) {
    std::fputs(text.c_str(), opt_.consoleStream);
    std::fflush(opt_.consoleStream);
  }
}

void Log::writeFile(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::string bytes = utf8ToCp1252(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  if (flush_) std::fflush(file_);
}

void Log::rotateIfLarge(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(pathFromUtf8(path), ec);
  if (ec || size <= kLogRotateBytes) return;
  std::tm tm = opt_.clock->localTime(opt_.clock->now());
  std::string target =
      format("%s%4.4d%2.2d%2.2d.log", path.c_str(), tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  // A second rotation on the same day finds the target taken; the log grows on.
  if (std::filesystem::exists(pathFromUtf8(target), ec)) return;
  std::filesystem::rename(pathFromUtf8(path), pathFromUtf8(target), ec);
}

int Log::open() {
  std::lock_guard lock(mutex_);
  if (count_ == 0) {
    if (opt_.folder.empty()) {
      openFailure_ = systemError(std::errc::no_such_file_or_directory);
      return 99;
    }
    std::string path = joinPath(opt_.folder, opt_.fileName);
    rotateIfLarge(path);
    SystemError mainError;
    file_ = openForAppend(path, mainError);
    fallbackReason_ = SystemError();
    if (file_ == nullptr) {
      SystemError fallbackError;
      file_ = openForAppend(joinPath(opt_.folder, kFallbackName), fallbackError);
      if (file_ == nullptr) {
        openFailure_ = mainError;
        return 99;
      }
      fallbackReason_ = mainError;
    }
  }
  ++count_;
  return 0;
}

std::FILE* Log::openForAppend(const std::string& path, SystemError& error) const {
  if (opt_.files != nullptr) {
    LocalFiles::Opened o = opt_.files->openAppend(path);
    error = o.error;
    return o.file;
  }
  std::FILE* f = openFile(path, "a+");
  if (f == nullptr) error = lastCLibraryError();
  return f;
}

void Log::release() {
  std::lock_guard lock(mutex_);
  if (count_ == 0) return;
  if (--count_ == 0 && file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

unsigned Log::openCount() const {
  std::lock_guard lock(mutex_);
  return count_;
}

void Log::setMark() {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fseek(file_, 0, SEEK_END);
  mark_ = std::ftell(file_);
}

std::string Log::fetchSinceMark() {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return {};
  std::fflush(file_);
  std::fseek(file_, 0, SEEK_END);
  long end = std::ftell(file_);
  if (end <= mark_) return {};
  auto size = std::min<std::size_t>(static_cast<std::size_t>(end - mark_), kCaptureBytes - 1);
  std::string bytes(size, '\0');
  std::fseek(file_, mark_, SEEK_SET);
  bytes.resize(std::fread(bytes.data(), 1, size, file_));
  std::fseek(file_, 0, SEEK_END);
  return cp1252ToUtf8(bytes);
}

void Log::setFlushEachWrite(bool on) {
  std::lock_guard lock(mutex_);
  flush_ = on;
}

void Log::setConsole(bool on) {
  opt_.console = on;
}
bool Log::console() const {
  return opt_.console;
}
void Log::setEventLog(EventLog* events) {
  opt_.events = events;
}

void Log::setFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  opt_.folder = std::move(folder);
}

std::string Log::filePath() const {
  std::lock_guard lock(mutex_);
  return joinPath(opt_.folder, opt_.fileName);
}

void Log::setDirectoryErrorSource(std::function<std::optional<DirectoryError>()> source) {
  directoryError_ = std::move(source);
}

void Log::memoryLine() {
  if (opt_.system == nullptr) return;
  auto mem = opt_.system->memory();
  if (!mem) return;
  std::uint64_t used = mem->totalBytes - mem->availableBytes;
  message(lvl::kFile, " mem (%ld%%): %s\n", static_cast<long>(mem->loadPercent),
          groupDigits(static_cast<double>(used), 0).c_str());
}

void Log::reportHresult(Hresult hr, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string block = vformat(fmt, args);
  va_end(args);
  auto u = static_cast<std::uint32_t>(hr);
  std::uint32_t facility = (u >> 16) & 0x1FFF;
  std::uint32_t code = u & 0xFFFF;
  block += format("** Fejl: (hresult: 0x%X (0x%X/0x%X (%d i winerror.h ell. %d i Lmerr.h))\n", u,
                  facility, code, static_cast<int>(code), static_cast<int>(code) - 2100);
  if ((u & 0x5000) != 0) {
    block += "** Fejl: " + adsErrorText(hr) + "\n";
  } else if (facility == 7) {
    std::string text(trim(win32ErrorText(code)));
    if (text.size() > 3) block += "** Fejl: " + text + "\n";
  } else if (u == 0x80004002u) {
    block += "** Fejl: Interface not supported.\n";
  }
  if (directoryError_) {
    if (auto e = directoryError_()) {
      // The platform's texts end with a line break, so "Provider:" starts a
      // line of its own; a directory's text without one gets it here.
      std::string text = cutChars(e->text, 259);
      if (!text.ends_with('\n')) text += '\n';
      block += format("Error Code: %ld\nError Text: %sProvider: %s\n\n", e->code, text.c_str(),
                      cutChars(e->provider, 259).c_str());
    }
  }
  message(35, "%s", cutBytes(block, kReportMax).c_str());
}

std::string groupDigits(double value, int decimals) {
  std::string num = format("%.*lf", decimals, value);
  std::string sign;
  if (!num.empty() && num[0] == '-') {
    sign = "-";
    num.erase(0, 1);
  }
  std::string intPart = num.substr(0, num.find('.'));
  std::string frac = num.find('.') == std::string::npos ? "" : num.substr(num.find('.') + 1);
  std::string out = sign;
  std::size_t first = intPart.size() % 3;
  if (first != 0) out += intPart.substr(0, first);
  for (std::size_t i = first; i < intPart.size(); i += 3) {
    if (i != 0) out += '.';
    out += intPart.substr(i, 3);
  }
  if (decimals > 0) out += "," + frac;
  return out;
}

}  // namespace tv
