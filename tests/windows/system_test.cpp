// System info, clock and the event log's message table.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/windows/wide.h"
#include "platform/windows/windows_clock.h"
#include "platform/windows/windows_event_log.h"
#include "platform/windows/windows_system_info.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using namespace std::chrono_literals;

TEST(WindowsSystemInfo, MemoryAndErrorTexts) {
  WindowsSystemInfo info;
  const std::optional<MemoryStatus> m = info.memory();
  ASSERT_TRUE(m.has_value());
  EXPECT_GT(m->totalBytes, 64ull << 20);
  EXPECT_LE(m->availableBytes, m->totalBytes);
  EXPECT_LE(m->loadPercent, 100u);

  for (std::uint32_t code : {2u, 5u, 87u, 1063u}) {
    const std::string text = WindowsSystemInfo::errorText(code);
    ASSERT_GT(text.size(), 3u) << code;
    EXPECT_EQ(text.back(), '\n') << code;
    EXPECT_EQ(text.find('\r'), std::string::npos) << code;
    EXPECT_NE(text, WindowsSystemInfo::errorText(code == 2 ? 5 : 2));
  }
  EXPECT_EQ(WindowsSystemInfo::errorText(0x2000ABCD), "(Error 536914893)");
}

TEST(WindowsClock, AWaitEndsAtItsTimeOrAtOnceWhenWoken) {
  WindowsClock clock;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(clock.waitForStop(100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);

  std::thread stopper([&clock] {
    std::this_thread::sleep_for(200ms);
    clock.wake();
  });
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(clock.waitForStop(std::chrono::milliseconds(300000)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  stopper.join();
  // A stop also ends every later wait, but not a plain sleep.
  EXPECT_FALSE(clock.waitForStop(std::chrono::milliseconds(300000)));
  start = std::chrono::steady_clock::now();
  clock.sleepFor(100ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
}

TEST(WindowsEventLog, TheMessageFileShowsTheInsertionStringAsItStands) {
  const std::wstring dll = toWide(wintest::windowsPath(TAVLEVAGT_MESSAGE_DLL));
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  const std::wstring message = toWide("** Fejl: Kan ikke l\xC3\xA6se datamappen \"C:\\x\" (5)\n");
  DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(message.c_str())};
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      module, kEventId, 0, reinterpret_cast<LPWSTR>(&text), 0, reinterpret_cast<va_list*>(args));
  ASSERT_GT(n, 0u) << GetLastError();
  EXPECT_EQ(std::wstring(text, n), message);
  LocalFree(text);
  // No other message: every event is identifier 1.
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           module, 2, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  FreeLibrary(module);
}

}  // namespace
}  // namespace tv::win
