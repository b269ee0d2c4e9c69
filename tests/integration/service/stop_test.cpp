// A stop with the real clock: the cycle in progress finishes, and the
// five-minute sleep after it is cut short.
#include <gtest/gtest.h>

#include <thread>

#include "platform/posix/key_files.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/systemd_host.h"
#include "runtime/runtime.h"
#include "service/registry.h"
#include "service/service_main.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

TEST(ServiceStop, AStopDuringACycleLetsTheJobFinishAndSkipsTheSleep) {
  TempFolder root;
  TempFolder data;
  PosixClock clock;
  RecordingEventLog events;
  Log log{Log::Options{"", "Tavlevagt.log", &clock, &events, nullptr, false, stderr}};
  KeyFiles keys(root.path());
  ASSERT_EQ(installKeys(log, keys, data.path()), 0);
  SystemdServiceHost::Options hostOptions;
  hostOptions.unitFolder = root.path();
  hostOptions.startedByManager = true;  // as systemd starts it
  SystemdServiceHost host(hostOptions);
  Ports ports;
  ports.clock = &clock;
  ports.keys = &keys;
  ports.host = &host;
  Runtime rt(log, ports, "");
  data.write("brovalt-1.dat", "job");

  EntryHooks hooks;
  hooks.handler = [](Runtime& r, const std::string& name) {
    // The stop arrives from another thread while the job is in hand.
    std::thread([&r] { controlHandler(r, 1); }).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    r.log.message(lvl::kFile, "job %s done\n", name.c_str());
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runEntry(rt, parseCommandLine({}), hooks), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(1));

  EXPECT_EQ(rt.state.load(), kStopped);
  EXPECT_EQ(data.read("brovalt-1.slut"), "job");
  std::string text = cp1252ToUtf8(data.read("Tavlevagt.log"));
  std::size_t stop = text.find("-Stopper Tavlevagt ver. 7.2.0");
  std::size_t done = text.find("job brovalt-1.behandler done\n");
  ASSERT_NE(stop, std::string::npos) << text;
  ASSERT_NE(done, std::string::npos) << text;
  EXPECT_LT(stop, done);
  EXPECT_TRUE(endsWith(text, " Flytter brovalt-1.behandler til brovalt-1.slut\n")) << text;
}

}  // namespace
}  // namespace tv::test
