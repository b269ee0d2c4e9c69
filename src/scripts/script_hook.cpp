#include "scripts/script_hook.h"

#include <algorithm>

#include "ports/process_runner.h"
#include "runtime/runtime.h"
#include "text/text.h"

namespace tv {
namespace {

std::string buildLine(const std::string& script, const std::vector<std::string>& args) {
  std::string line = script;
  for (const std::string& a : args) line += " " + a;
  return balanceQuotes(cutChars(line, kCommandLineChars));
}

}  // namespace

std::string balanceQuotes(std::string line) {
  if (std::count(line.begin(), line.end(), '"') % 2 != 0) line += '"';
  if (std::count(line.begin(), line.end(), '\'') % 2 != 0) line += '\'';
  return line;
}

std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> argv;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArgument) argv.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) argv.push_back(std::move(current));
  return argv;
}

void runScript(Runtime& rt, const std::string& script, const std::string& argument,
               const std::string& label) {
  std::string line = buildLine(script, {argument});
  if (rt.settings.IDrift) {
    rt.log.message(lvl::kFile, " Kører Script: %s \n", script.c_str());
    runCommand(rt, line, label);
  } else {
    rt.log.message(lvl::kFile, "IDrift = 0: Test af Script : %s\n", script.c_str());
  }
}

std::uint32_t runScript(Runtime& rt, const std::string& script, const std::string& first,
                        const std::string& second, const std::string& label) {
  return runCommand(rt, buildLine(script, {first, second}), label);
}

std::uint32_t runCommand(Runtime& rt, const std::string& commandLine, const std::string& label) {
  if (rt.settings.LogLevel > 0) {
    rt.log.message(lvl::kFile, "   %s %s\n", label.c_str(), commandLine.c_str());
  }
  std::vector<std::string> argv = splitCommandLine(commandLine);
  ProcessResult r;
  SystemError startError = systemError(std::errc::no_such_file_or_directory);  // nothing to start
  if (!argv.empty() && rt.ports.processes != nullptr) {
    r = rt.ports.processes->run(argv, rt.dataFolder);
    startError = platformError(r.startError);
  }
  if (!r.started) {
    Log::setLastError(startError);
    rt.log.message(66, "RunScript: ");
    return 0;
  }
  logEndedAfterStop(rt, r, argv.front());
  if (rt.settings.LogLevel > 0) {
    logWaitResult(rt.log, r.waitResult);
  }
  if (r.exitCode != 0 && r.exitCode != kStillActive) {
    rt.log.message(lvl::kFile, "** Fejl: RunScript - returkode fra program: %d\n",
                   static_cast<int>(r.exitCode));
  }
  return r.exitCode;
}

void logEndedAfterStop(Runtime& rt, const ProcessResult& result, const std::string& program) {
  if (!result.endedAfterStop) return;
  rt.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                 "** Fejl: %s kørte stadig, da fristen efter stop af tjenesten udløb, og er "
                 "afbrudt sammen med de programmer, det startede.\n",
                 program.c_str());
}

void logWaitResult(Log& log, std::uint32_t waitResult) {
  switch (waitResult) {
    case kWaitAbandoned:
      log.message(lvl::kFile, "** Fejl: WaitForSingleObject() returnerede WAIT_ABANDONED\n");
      break;
    case kWaitTimeout:
      log.message(lvl::kFile, "** Fejl: WaitForSingleObject() returnerede WAIT_TIMEOUT\n");
      break;
    case kWaitFailed:
      log.message(lvl::kFile, "** Fejl: WaitForSingleObject() returnerede WAIT_FAILED\n");
      break;
    default:
      log.message(lvl::kFile, "      ** Info: WaitForSingleObject() returnerede %ld\n",
                  static_cast<long>(waitResult));
  }
}

}  // namespace tv
