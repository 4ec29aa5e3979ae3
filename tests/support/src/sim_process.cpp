#include "torvane_test/sim_process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace torvane_test {
namespace {

std::vector<std::string> Argv(const std::vector<std::string>& program, const std::string& level,
                              const std::vector<std::string>& extra, uint16_t port) {
  std::vector<std::string> args(program);
  args.insert(args.end(), {"--level", level, "--port", std::to_string(port), "--lockstep",
                           "--trace", "--duration", "900"});
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

}  // namespace

uint16_t ListeningPort(const std::string& line) {
  const size_t on = line.find(" on ");
  if (on == std::string::npos) return 0;
  const size_t colon = line.find(':', on);
  if (colon == std::string::npos) return 0;
  const unsigned long port = std::strtoul(line.c_str() + colon + 1, nullptr, 10);
  return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

SimProcess::SimProcess(const std::vector<std::string>& program, const std::string& level,
                       const std::vector<std::string>& extra, uint16_t port)
    : child_(Argv(program, level, extra, port)) {
  std::string line;
  if (child_.ReadUntil("level on", line, 20000)) port_ = ListeningPort(line);
}

std::string SimProcess::Answer(uint64_t* digest, uint64_t* command) {
  std::string line;
  while (ReadLine(line)) {
    if (line.rfind("answer ", 0) == 0) {
      char kind[16] = {0};
      unsigned long long n = 0, d = 0, c = 0;
      if (std::sscanf(line.c_str(), "answer %llu %15s %llx %llx", &n, kind, &d, &c) != 4) {
        return "";
      }
      if (digest != nullptr) *digest = d;
      if (command != nullptr) *command = c;
      return kind;
    }
    if (line.rfind("reject ", 0) == 0) return "reject";
  }
  return "";
}

int SimProcess::ExpectedResult(const std::string& kind) {
  if (kind == "ok" || kind == "duplicate") return 0;
  if (kind == "crc" || kind == "truncate") return -3;
  return -1;  // drop: nothing queued; header: the header check
}

std::string SimProcess::Stop() {
  if (!child_.running()) return "";
  const torvane_child::Ending ending = child_.Stop(SIGINT, 10000);
  ended_by_itself_ = ending.ended && !ending.killed;
  std::string rest;
  for (const std::string& line : child_.Remaining()) {
    if (line.rfind("torvane-sim:", 0) == 0) rest += line + "\n";
  }
  return rest;
}

}  // namespace torvane_test
