// The executable on a generated live school when things go wrong around it:
// a snapshot that cannot be read, a stop signal in the middle of a job, a
// full disk at the write-back, and kill -9 at random points of the job.
// Whatever happens, the snapshot is the old one or the new one, no job is
// marked done that was not, and a job taken up again ends exactly as one that
// was never interrupted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "binary_support.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kJob = "brovalt-1001";

// A live school (IDrift=Ja) of that many pupils in the data folder: the job
// and the snapshot from examples/generate_school.py, the example settings.
void generateSchool(const TempFolder& data, int pupils) {
  const std::string command = std::string(TAVLEVAGT_PYTHON3) + " " + TAVLEVAGT_SCHOOL_GENERATOR +
                              " --pupils " + std::to_string(pupils) +
                              " --staff 20 --sequence 1001 --out " + data.path() + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(TAVLEVAGT_EXAMPLE_SETTINGS, std::ios::binary);
  std::stringstream settings;
  settings << in.rdbuf();
  data.write("Tavlevagt.ini",
             std::regex_replace(settings.str(), std::regex("IDrift=Nej"), "IDrift=Ja"));
}

// The snapshot without the values that tell the time of a run.
std::string withoutTimes(const std::string& ldif) {
  static const std::regex times("(^|\n)(whenChanged|whenCreated|pwdLastSet): [^\n]*");
  return std::regex_replace(ldif, times, "$1");
}

bool exists(const TempFolder& folder, const std::string& name) {
  return fs::exists(fs::symlink_status(folder.file(name)));
}

// The names below the folder that are temporary write-back files.
std::vector<std::string> temporaryFiles(const TempFolder& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder.path())) {
    const std::string n = e.path().filename().string();
    if (n.starts_with("directory.ldif.") || n.starts_with("hentes-")) names.push_back(n);
  }
  return names;
}

// Runs "-d" detached and returns its exit code; output receives what it wrote.
int runDebug(const Installed& inst, std::string* output = nullptr) {
  pid_t pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
  const int code = waitFor(pid, seconds(300));
  if (code == -1) kill(pid, SIGKILL);
  if (output != nullptr) *output = inst.root.read("out.txt");
  return code;
}

// Makes the data folder a fresh copy of the school.
void reset(const Installed& inst, const TempFolder& school) {
  for (const auto& e : fs::directory_iterator(inst.data.path())) fs::remove_all(e.path());
  for (const auto& e : fs::directory_iterator(school.path())) {
    fs::copy(e.path(), inst.data.file(e.path().filename().string()));
  }
}

struct LiveSchool : ::testing::Test {
  void SetUp() override { ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), ""); }
  Installed inst;
};

TEST_F(LiveSchool, ASnapshotThatCannotBeReadLeavesTheJobWaitingAndSaysWhere) {
  TempFolder school;
  generateSchool(school, 20);
  const std::string good = school.read("directory.ldif");
  const std::string jobBytes = school.read(std::string(kJob) + ".dat");
  const struct {
    const char* what;
    std::function<void()> damage;
    std::string told;
  } cases[] = {
      {"a garbage line", [&] { inst.data.write("directory.ldif", good + "garbage\n"); },
       "\"attribute: value\" expected"},
      {"cut off in a record",
       [&] { inst.data.write("directory.ldif", good.substr(0, good.size() / 2)); },
       "kan ikke læses: line "},
      {"a second version line",
       [&] { inst.data.write("directory.ldif", "version: 1\n\n" + good + "version: 1\n"); },
       "a record must begin with \"dn:\""},
      {"missing", [&] { fs::remove(inst.data.file("directory.ldif")); }, "findes ikke"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset(inst, school);
    c.damage();
    const std::string damaged =
        exists(inst.data, "directory.ldif") ? inst.data.read("directory.ldif") : "";
    std::string out;
    EXPECT_EQ(runDebug(inst, &out), 1);
    EXPECT_NE(out.find("** Fejl: Kataloget kan ikke bruges: Katalogfilen " +
                       inst.data.file("directory.ldif")),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(c.told), std::string::npos) << out;
    EXPECT_TRUE(inst.data.read(std::string(kJob) + ".dat") == jobBytes) << "the job changed";
    EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".behandler"));
    EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".slut"));
    EXPECT_TRUE((exists(inst.data, "directory.ldif") ? inst.data.read("directory.ldif") : "") ==
                damaged)
        << "the snapshot changed";
  }
}

TEST_F(LiveSchool, InterruptAndHangupStopAfterTheJobInHand) {
  TempFolder school;
  generateSchool(school, 300);
  for (int signal : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    reset(inst, school);
    pid_t pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
    ASSERT_TRUE(waitUntil([&] { return exists(inst.data, std::string(kJob) + ".behandler"); },
                          seconds(120)));
    ASSERT_EQ(kill(pid, signal), 0);
    EXPECT_EQ(waitFor(pid, seconds(300)), 0);
    EXPECT_TRUE(exists(inst.data, std::string(kJob) + ".slut"));
    EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".behandler"));
    EXPECT_NE(cp1252ToUtf8(inst.data.read("Tavlevagt.log")).find("-Stopper Tavlevagt ver. "),
              std::string::npos);
  }
}

// How far a running job got: the size of its log, which it writes line by
// line as it goes (LogLevel=1 flushes each line).
std::uintmax_t logSize(const Installed& inst) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(inst.data.file("Tavlevagt.log"), ec);
  return ec ? 0 : size;
}

// Waits until done() or the process ended; false when it ended first.
bool waitWhileRunning(pid_t pid, const std::function<bool()>& done) {
  while (!done()) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// kill -9 at points spread over a live job: after each, the snapshot is the
// old one or the new one, never a mix; the next run reports the job left in
// progress; taken up again (by hand, or by itself with GenoptagAfbrudteJob),
// it ends with the snapshot of a run that was never interrupted. The points
// follow the job's own progress (how much of its log it wrote), not the
// clock, so a busy machine moves none of them.
TEST_F(LiveSchool, KilledAtRandomPointsTheJobIsReportedAndEndsAsIfNeverInterrupted) {
  constexpr int kPupils = 2000;
  TempFolder school;
  generateSchool(school, kPupils);
  const std::string before = school.read("directory.ldif");
  const std::string inProgress = std::string(kJob) + ".behandler";

  // The uninterrupted run, and how much log its job writes.
  reset(inst, school);
  pid_t pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
  ASSERT_TRUE(waitUntil([&] { return exists(inst.data, inProgress); }, seconds(120)));
  const std::uintmax_t logAtStart = logSize(inst);
  ASSERT_EQ(waitFor(pid, seconds(300)), 0);
  const std::uintmax_t jobLog = logSize(inst) - logAtStart;
  ASSERT_TRUE(exists(inst.data, std::string(kJob) + ".slut"));
  const std::string after = withoutTimes(inst.data.read("directory.ldif"));
  ASSERT_NE(after, withoutTimes(before));

  // Points from early in the job to its end, each moved a little by a fixed
  // seed, so every run of the test kills at the same points; the last kills
  // while the snapshot is being written back.
  std::mt19937 random(20220617);
  std::uniform_real_distribution<double> jitter(-0.03, 0.03);
  const double points[] = {0.05, 0.2, 0.4, 0.6, 0.85, 0.97, -1};
  int interrupted = 0;
  for (std::size_t i = 0; i < std::size(points); ++i) {
    const double at = points[i] < 0 ? points[i] : points[i] + jitter(random);
    SCOPED_TRACE(at < 0 ? std::string("killed at the write-back")
                        : "killed at " + std::to_string(at) + " of the job");
    reset(inst, school);
    const bool byItself = i % 2 == 0;
    if (byItself) {
      inst.data.write("Tavlevagt.ini", std::regex_replace(inst.data.read("Tavlevagt.ini"),
                                                          std::regex("\\[Tavlevagt\\]"),
                                                          "[Tavlevagt]\nGenoptagAfbrudteJob=Ja"));
    }
    pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
    ASSERT_TRUE(waitUntil([&] { return exists(inst.data, inProgress); }, seconds(120)));
    const std::uintmax_t start = logSize(inst);
    if (at < 0) {
      (void)waitWhileRunning(pid, [&] { return !temporaryFiles(inst.data).empty(); });
    } else {
      const auto target = start + static_cast<std::uintmax_t>(static_cast<double>(jobLog) * at);
      (void)waitWhileRunning(pid, [&] { return logSize(inst) >= target; });
    }
    kill(pid, SIGKILL);
    waitFor(pid, seconds(60));

    const std::string snapshot = inst.data.read("directory.ldif");
    EXPECT_TRUE(snapshot == before || withoutTimes(snapshot) == after)
        << "the snapshot is neither the old nor the new one";
    if (!exists(inst.data, inProgress)) {
      // The job was over before the kill came.
      EXPECT_TRUE(exists(inst.data, std::string(kJob) + ".slut"));
      continue;
    }
    ++interrupted;
    const std::string reported = "** Fejl: Jobbet " + inProgress + " blev afbrudt";
    std::string out;
    if (!byItself) {
      ASSERT_EQ(runDebug(inst, &out), 0) << out;
      const std::string log = cp1252ToUtf8(inst.data.read("Tavlevagt.log"));
      EXPECT_NE(log.find(reported + " og er ikke gjort færdigt. Omdøb filen til " + kJob + ".dat"),
                std::string::npos);
      ASSERT_TRUE(exists(inst.data, inProgress));
      fs::rename(inst.data.file(inProgress), inst.data.file(std::string(kJob) + ".dat"));
    }
    ASSERT_EQ(runDebug(inst, &out), 0) << out;
    if (byItself) {
      EXPECT_NE(cp1252ToUtf8(inst.data.read("Tavlevagt.log")).find(reported), std::string::npos);
    }
    EXPECT_TRUE(exists(inst.data, std::string(kJob) + ".slut"));
    EXPECT_FALSE(exists(inst.data, inProgress));
    EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".genoptaget"));
    EXPECT_TRUE(withoutTimes(inst.data.read("directory.ldif")) == after)
        << "the resumed job ended otherwise than the uninterrupted one";
    EXPECT_TRUE(temporaryFiles(inst.data).empty());
  }
  // The points lie inside the job whatever the machine's speed.
  EXPECT_GE(interrupted, 6);
}

// The disk runs full while the job is in hand: the job is not marked done,
// nothing of the snapshot or the job is lost, the failure is told, and the
// same job runs through once there is room again. The data folder lies on a
// small tmpfs, mounted in a mount namespace of its own: the test runs itself
// again inside one, so nothing is mounted where others can see it.
TEST_F(LiveSchool, AFullDiskMarksNothingDoneLosesNothingAndSaysSo) {
  if (std::getenv("TAVLEVAGT_INSIDE_PRIVATE_MOUNTS") == nullptr) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    TempFolder scratch;
    const std::string command =
        "TAVLEVAGT_INSIDE_PRIVATE_MOUNTS=1 unshare --mount --propagation private -- " + self +
        " --gtest_filter=LiveSchool.AFullDiskMarksNothingDoneLosesNothingAndSaysSo > " +
        scratch.file("inner.txt") + " 2>&1";
    const int status = std::system(command.c_str());
    const std::string inner = scratch.read("inner.txt");
    if (inner.find("unshare failed") != std::string::npos ||
        inner.find("[  SKIPPED ]") != std::string::npos) {
      GTEST_SKIP() << "no private mount namespace with a tmpfs may be made here (root and "
                      "CAP_SYS_ADMIN are needed): "
                   << inner.substr(0, 300);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << inner;
    return;
  }
  TempFolder school;
  generateSchool(school, 200);
  // The mount point replaces the installed data folder's content.
  if (::mount("tmpfs", inst.data.path().c_str(), "tmpfs", 0, "size=2m,mode=0700") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  reset(inst, school);
  const std::string job = inst.data.read(std::string(kJob) + ".dat");
  const std::string before = inst.data.read("directory.ldif");
  // Fill the disk but for a little room: enough for the job to start and
  // log, far too little for the new snapshot.
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(inst.data.path().c_str(), &vfs), 0);
  const std::uint64_t room = 48 * 1024;
  const std::uint64_t free = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  ASSERT_GT(free, room);
  inst.data.write("filler", std::string(free - room, 'x'));

  std::string out;
  EXPECT_EQ(runDebug(inst, &out), 1);
  EXPECT_NE(out.find("kan ikke gemmes: No space left on device"), std::string::npos) << out;
  EXPECT_NE(out.find("** Fejl: Jobbet " + std::string(kJob) + ".behandler er ikke gjort færdigt"),
            std::string::npos)
      << out;
  EXPECT_TRUE(inst.data.read(std::string(kJob) + ".dat") == job) << "the job changed";
  EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".behandler"));
  EXPECT_FALSE(exists(inst.data, std::string(kJob) + ".slut"));
  EXPECT_TRUE(inst.data.read("directory.ldif") == before) << "the snapshot changed";
  EXPECT_TRUE(temporaryFiles(inst.data).empty());

  // Room again: the job waiting is done, from the snapshot as it was.
  fs::remove(inst.data.file("filler"));
  EXPECT_EQ(runDebug(inst, &out), 0) << out;
  EXPECT_TRUE(exists(inst.data, std::string(kJob) + ".slut"));
  EXPECT_NE(inst.data.read("directory.ldif"), before);
  ::umount2(inst.data.path().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace tv::test
