// Fuzz target: any password job, read and reset against the memory
// directory, must end without touching memory it does not own, and whatever
// reaches the UNI-login program must be one login and one password that the
// line rules let through: a login of 1 to 24 characters with no special
// character and no blank or full stop at either end, a password of 1 to 20.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jobdata/job_reader.h"
#include "jobdata/job_text.h"
#include "password/password_jobs.h"
#include "platform/memory/memory_directory.h"
#include "ports/process_runner.h"
#include "runtime/runtime.h"
#include "support/fake_clock.h"
#include "text/text.h"

namespace tv::fuzz {

class CheckingRunner : public ProcessRunner {
 public:
  int calls = 0;
  ProcessResult run(const std::vector<std::string>& argv, const std::string&) override {
    ++calls;
    if (argv.size() != 3 || !endsWith(argv[0], "/script/Lodsvaerk.exe")) std::abort();
    const std::u32string login = toCodePoints(argv[1]);
    if (login.empty() || login.size() > 24) std::abort();
    for (char32_t c : login) {
      if (isSpecialChar(c) || c < 0x20) std::abort();
    }
    for (char32_t edge : {login.front(), login.back()}) {
      if (edge == U'.' || edge == U' ') std::abort();
    }
    const std::size_t pw = charCount(argv[2]);
    if (pw == 0 || pw > 20) std::abort();
    return {true, 0, 0, 0};
  }
  ProcessResult runForOutput(const std::vector<std::string>&, std::string&) override {
    std::abort();  // the password job asks no program for its output
  }
  void endAfterStop(std::chrono::milliseconds) override {}
};

struct PasswordJobWorld {
  test::FakeClock clock;
  Log log{Log::Options{"", "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr}};
  MemoryDirectory directory{MemoryDirectoryOptions{"DC=skole,DC=test", false, "", &clock}};
  CheckingRunner runner;
  Runtime rt{log, Ports{}, "/nonexistent-data-folder"};

  PasswordJobWorld() {
    clock.woken = true;  // a job's waits end at once
    rt.ports.directory = &directory;
    rt.ports.clock = &clock;
    rt.ports.processes = &runner;
    rt.settings.IDrift = true;
    rt.settings.LogLevel = 10;
    rt.trim.defaultNamingContext = "DC=skole,DC=test";
    (void)directory.loadLdif(
        "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
        "dn: CN=jens,DC=skole,DC=test\nobjectClass: user\ncn: jens\nsAMAccountName: jens\n"
        "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
        "userAccountControl: 512\n\n");
  }
};

inline PasswordJobWorld& passwordJobWorld() {
  static PasswordJobWorld world;
  return world;
}

inline void checkPasswordJob(std::string_view input) {
  PasswordJobWorld& world = passwordJobWorld();
  JobReader reader(world.log, std::string(input), "kodevalt-fuzz.behandler");
  processPasswordJob(world.rt, reader);
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tv::fuzz::checkPasswordJob(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
#endif
