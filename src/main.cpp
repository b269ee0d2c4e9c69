// The executable: wires the Linux adapters into the runtime and hands the
// command line to the entry. Everything the program does is decided there.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/app/directory_choice.h"
#include "platform/app/program.h"
#include "platform/curl/curl_http_client.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/posix/key_files.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_local_files.h"
#include "platform/posix/posix_process_runner.h"
#include "platform/posix/proc_system_info.h"
#include "platform/posix/process_facts.h"
#include "platform/posix/stop_signal.h"
#include "platform/posix/syslog_event_log.h"
#include "platform/posix/systemd_host.h"
#include "platform/smb/smb_file_server.h"
#include "service/command_line.h"
#include "text/paths.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const tv::CommandLine cl = tv::parseCommandLine(args);
  const bool console = tv::standardOutputIsTerminal();
  // The stop signals must be blocked before the first thread starts, so that
  // only the watcher ever takes them: as the service, and with "-d", where
  // Ctrl-C must not end the process in the middle of a job.
  if ((cl.mode == tv::CommandLine::Mode::kServiceOrUsage && !console) ||
      cl.mode == tv::CommandLine::Mode::kDebug) {
    (void)tv::StopSignal::block();
  }

  const auto absolute = [](const std::string& path) {
    std::error_code ec;
    return tv::utf8FromPath(std::filesystem::absolute(tv::pathFromUtf8(path), ec));
  };
  const std::string configRoot = cl.configRoot ? absolute(*cl.configRoot) : tv::kDefaultConfigRoot;
  const std::string unitFolder = cl.unitFolder ? absolute(*cl.unitFolder) : tv::kDefaultUnitFolder;

  tv::PosixClock clock;
  tv::SyslogEventLog events;
  tv::ProcSystemInfo system;
  tv::PosixProcessRunner processes;
  tv::PosixLocalFiles localFiles;
  tv::KeyFiles keys(configRoot);
  tv::CurlHttpClient http;
  tv::DirectoryChoice directory(tv::openLdapDirectory);

  tv::SystemdServiceHost::Options hostOptions;
  hostOptions.unitFolder = unitFolder;
  hostOptions.execStart = {tv::executablePath()};
  if (cl.configRoot)
    hostOptions.execStart.insert(hostOptions.execStart.end(), {"--config-root", configRoot});
  // systemd reads only its own unit folders; a private folder has no daemon to ask.
  if (cl.unitFolder) hostOptions.systemctl.clear();
  hostOptions.processes = &processes;
  hostOptions.notifySocket = tv::notifySocket();
  hostOptions.startedByManager = tv::startedBySystemd();
  tv::SystemdServiceHost host(hostOptions);

  const tv::PlatformAdapters adapters{&clock,      &events, &system, &processes,
                                      &localFiles, &keys,   &http,   &host};
  return tv::runProgram(cl, console, adapters, directory,
                        [](const std::string& credentials, std::string* why) {
                          return tv::openSmbFileServer(tv::SmbSettings{credentials}, why);
                        });
}
