#include "program/options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace torvane_sim {
namespace {

const char kHelp[] =
    "usage: torvane-sim --level high|low [options]\n"
    "\n"
    "Emulates the robot's controller on one UDP port: learns its client from the first command,\n"
    "answers with state datagrams and drops the client after a second of silence.\n"
    "\n"
    "  --level high|low       protocol level (required)\n"
    "  --address A            IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port P               UDP port to listen on (default 8082)\n"
    "  --rate HZ              state rate (default 500); physics steps at 1 kHz or finer\n"
    "  --lockstep             exactly one state datagram in answer to each command\n"
    "  --duration S           stop after S seconds (default: run until SIGINT/SIGTERM)\n"
    "  --model NAME           zorvan|pellix|tamrin|vesko: joint limits (default zorvan)\n"
#if TORVANE_SIM_PHYSICS
    "  --engine E             physics (default): rigid bodies on a floor; at the high level a\n"
    "                         built-in controller stands and trots; simple: the plain joint\n"
    "                         model (low) and velocity-following body model (high)\n"
    "  --mjcf FILE            physics model to load (default: the installed quadruped.xml)\n"
#else
    "  --engine simple        the plain joint model (low) and velocity-following body model\n"
    "                         (high), the only engine: built without MuJoCo, so no physics\n"
#endif
    "  --log FILE             write the robot's motion as CSV, one row per state period\n"
    "  --seed N               seed of the fault injection (default 1)\n"
    "  --drop P               share of state datagrams not sent (0..1)\n"
    "  --corrupt-crc P        share sent with a wrong checksum\n"
    "  --corrupt-header P     share sent with a wrong header\n"
    "  --truncate P           share sent cut short\n"
    "  --duplicate P          share sent twice\n"
    "  --trace                print a line per answered command:\n"
    "                         answer <n> <fault> <state digest> <command digest>\n"
    "                         (FNV-1a 64 of the state before the fault, and of the command)\n"
    "  --version              the emulator's version\n"
    "  --pcap FILE            write every datagram sent and received to FILE (pcap)\n"
    "  --replay FILE          play the robot's side of the capture FILE back to the first\n"
    "                         client, at its recorded timing (--level is taken from FILE)\n"
    "  --help                 this text\n";

// Options that take a value, so that an unknown one is named as such and not as one missing
// its value.
const char* const kValued[] = {
    "--level",          "--address",  "--port",      "--rate", "--duration", "--model",
    "--engine",         "--mjcf",     "--log",       "--seed", "--drop",     "--corrupt-crc",
    "--corrupt-header", "--truncate", "--duplicate", "--pcap", "--replay"};

bool Valued(const char* arg) {
  for (const char* name : kValued) {
    if (std::strcmp(arg, name) == 0) return true;
  }
  return false;
}

bool ParseDouble(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(out);
}

bool ParseUnsigned(const char* text, uint64_t max, uint64_t& out) {
  if (*text == '-' || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

int Bad(const char* what, const char* value) {
  std::fprintf(stderr, "torvane-sim: %s: %s\n(see torvane-sim --help)\n", what, value);
  return 2;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& out) {
  bool level_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 1;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("torvane-sim %s\n", TORVANE_SIM_VERSION);
      return 1;
    }
    if (std::strcmp(arg, "--lockstep") == 0) {
      out.lockstep = true;
      continue;
    }
    if (std::strcmp(arg, "--trace") == 0) {
      out.trace = true;
      continue;
    }
    if (std::strncmp(arg, "--", 2) != 0) return Bad("unexpected argument", arg);
    if (!Valued(arg)) return Bad("unknown option", arg);
    if (i + 1 >= argc) return Bad("missing value for", arg);
    const char* value = argv[++i];
    double d = 0;
    uint64_t u = 0;
    if (std::strcmp(arg, "--level") == 0) {
      if (std::strcmp(value, "high") == 0) {
        out.high_level = true;
      } else if (std::strcmp(value, "low") == 0) {
        out.high_level = false;
      } else {
        return Bad("--level must be high or low, not", value);
      }
      level_given = true;
    } else if (std::strcmp(arg, "--address") == 0) {
      in_addr a{};
      if (inet_pton(AF_INET, value, &a) != 1) return Bad("not an IPv4 address", value);
      out.address = value;
    } else if (std::strcmp(arg, "--port") == 0) {
      if (!ParseUnsigned(value, 65535, u)) return Bad("not a port (0..65535)", value);
      out.port = static_cast<uint16_t>(u);
    } else if (std::strcmp(arg, "--rate") == 0) {
      if (!ParseDouble(value, d) || d < 1.0 || d > 10000.0) {
        return Bad("--rate must be 1 to 10000 Hz, not", value);
      }
      out.rate_hz = d;
    } else if (std::strcmp(arg, "--duration") == 0) {
      if (!ParseDouble(value, d) || d <= 0.0) return Bad("--duration must be above 0, not", value);
      out.duration_s = d;
    } else if (std::strcmp(arg, "--model") == 0) {
      static const char* const names[] = {"zorvan", "pellix", "tamrin", "vesko"};
      int found = -1;
      for (int k = 0; k < 4; ++k) {
        if (std::strcmp(value, names[k]) == 0) found = k;
      }
      if (found < 0) return Bad("unknown --model", value);
      out.model = static_cast<TORVANE::LeggedType>(found);
    } else if (std::strcmp(arg, "--engine") == 0) {
      if (std::strcmp(value, "physics") == 0) {
        if (!TORVANE_SIM_PHYSICS) {
          std::fputs("torvane-sim: --engine physics is not available: built without MuJoCo\n",
                     stderr);
          return 2;
        }
        out.engine = Engine::kPhysics;
      } else if (std::strcmp(value, "simple") == 0) {
        out.engine = Engine::kSimple;
      } else {
        return Bad("--engine must be physics or simple, not", value);
      }
    } else if (std::strcmp(arg, "--mjcf") == 0) {
      out.mjcf = value;
    } else if (std::strcmp(arg, "--log") == 0) {
      if (*value == '\0') return Bad("--log needs a file name", "\"\"");
      out.log_path = value;
    } else if (std::strcmp(arg, "--pcap") == 0 || std::strcmp(arg, "--replay") == 0) {
      if (*value == '\0') return Bad("missing file name for", arg);
      (arg[2] == 'p' ? out.pcap_path : out.replay_path) = value;
    } else if (std::strcmp(arg, "--seed") == 0) {
      if (!ParseUnsigned(value, UINT64_MAX, u)) return Bad("not a seed", value);
      out.seed = u;
    } else {
      double* share = nullptr;
      if (std::strcmp(arg, "--drop") == 0) share = &out.faults.drop;
      if (std::strcmp(arg, "--corrupt-crc") == 0) share = &out.faults.corrupt_crc;
      if (std::strcmp(arg, "--corrupt-header") == 0) share = &out.faults.corrupt_header;
      if (std::strcmp(arg, "--truncate") == 0) share = &out.faults.truncate;
      if (std::strcmp(arg, "--duplicate") == 0) share = &out.faults.duplicate;
      if (share == nullptr) return Bad("unknown option", arg);
      if (!ParseDouble(value, d) || d < 0.0 || d > 1.0) {
        return Bad("a share must be between 0 and 1, not", value);
      }
      *share = d;
    }
  }
  if (!out.replay_path.empty()) {
    if (out.lockstep || out.faults.total() > 0.0) {
      return Bad("--replay plays the capture as recorded; it takes no", "--lockstep or faults");
    }
  } else if (!level_given) {
    return Bad("missing option", "--level high|low");
  }
  out.level_given = level_given;
  if (out.faults.total() > 1.0 + 1e-12) return Bad("fault shares add up to more than", "1");
  return 0;
}

}  // namespace torvane_sim
