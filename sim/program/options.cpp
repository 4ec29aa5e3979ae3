#include "program/options.h"

#include <cstdio>
#include <cstring>

#include "command_line/command_line.h"
#include "command_line/robot_models.h"
#include "conditions/condition_options.h"

namespace torvane_sim {
namespace {

static_assert(
    torvane_cli::ModelsNumberedAs({TORVANE::LeggedType::Zorvan, TORVANE::LeggedType::Pellix,
                                   TORVANE::LeggedType::Tamrin, TORVANE::LeggedType::Vesko}),
    "the command line's model numbers are the SDK's LeggedType");

const char kDescription[] =
    "\n"
    "Emulates the robot's controller on one UDP port: learns its client from the first command,\n"
    "answers with state datagrams and drops the client after a second of silence.\n"
    "\n";

// The fault shares, each 0..1 of the state datagrams.
torvane_cli::Option Share(const char* name, const char* help, double& out) {
  return torvane_cli::Decimal(name, "P", help, torvane_cli::Between(0, 1), out);
}

// "WxH", each even (the encoder's colour planes are half size) and at most 4096.
bool TakeVideoSize(const char* value, int& width, int& height) {
  int w = 0, h = 0, used = 0;
  if (std::sscanf(value, "%4dx%4d%n", &w, &h, &used) != 2 || value[used] != '\0') return false;
  if (w < 16 || h < 16 || w > 4096 || h > 4096 || w % 2 != 0 || h % 2 != 0) return false;
  width = w;
  height = h;
  return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& out) {
  using namespace torvane_cli;
  bool level_given = false;
  Option engine = Choice("--engine",
#if TORVANE_SIM_PHYSICS
                         "E",
                         "physics (default): rigid bodies on a floor; at the high level a\n"
                         "built-in controller stands and trots; simple: the plain joint\n"
                         "model (low) and velocity-following body model (high)",
#else
                         "simple",
                         "the plain joint model (low) and velocity-following body model\n"
                         "(high), the only engine: built without MuJoCo, so no physics",
#endif
                         {{"physics", static_cast<int>(Engine::kPhysics)},
                          {"simple", static_cast<int>(Engine::kSimple)}},
                         out.engine);
  if (!TORVANE_SIM_PHYSICS) {
    engine.take = [choose = engine.take](const char* value, Problem& problem) {
      if (std::strcmp(value, "physics") != 0) return choose(value, problem);
      problem = {"--engine physics is not available", "built without MuJoCo"};
      return false;
    };
  }
  std::vector<Option> rows = {
    Choice("--level", "high|low", "protocol level (required)", {{"high", 1}, {"low", 0}},
           [&](int high) {
             out.high_level = high != 0;
             level_given = true;
           }),
    Address("--address", "A", "IPv4 address to listen on (default 127.0.0.1)", out.address),
    // 0: a port of the system's choosing.
    Port("--port", "P", "UDP port to listen on (default 8082)", out.port, 0),
    Decimal("--rate", "HZ", "state rate (default 500); physics steps at 1 kHz or finer",
            Between(1, 10000, "Hz"), out.rate_hz),
    Flag("--lockstep", "exactly one state datagram in answer to each command", out.lockstep),
    Decimal("--duration", "S", "stop after S seconds (default: run until SIGINT/SIGTERM)", Above(0),
            out.duration_s),
    Model("zorvan|pellix|tamrin|vesko: joint limits (default zorvan)", out.model),
    engine,
#if TORVANE_SIM_PHYSICS
    Text("--mjcf", "FILE", "physics model to load (default: the installed quadruped.xml)",
         out.mjcf),
#endif
    File("--log", "FILE",
         "write the robot's motion as CSV, one row per state period,\n"
         "from the first command",
         out.log_path),
    Whole("--seed", "N", "seed of the fault injection and the conditions (default 1)", 0,
          UINT64_MAX, out.seed),
    Share("--drop", "share of state datagrams not sent (0..1)", out.faults.drop),
    Share("--corrupt-crc", "share sent with a wrong checksum", out.faults.corrupt_crc),
    Share("--corrupt-header", "share sent with a wrong header", out.faults.corrupt_header),
    Share("--truncate", "share sent cut short", out.faults.truncate),
    Share("--duplicate", "share sent twice", out.faults.duplicate),
    Flag("--trace",
         "print a line per answered command:\n"
         "answer <n> <fault> <state digest> <command digest>\n"
         "(FNV-1a 64 of the state before the fault, and of the command)",
         out.trace),
    Stop("--version", "the emulator's version",
         [] { std::printf("torvane-sim %s\n", TORVANE_SIM_VERSION); }),
    File("--pcap", "FILE", "write every datagram sent and received to FILE (pcap)", out.pcap_path),
    File("--replay", "FILE",
         "play the robot's side of the capture FILE back to the first\n"
         "client, at its recorded timing (--level is taken from FILE)",
         out.replay_path),
    File("--video", "FILE",
         "film the run from the first command offscreen into FILE (MP4,\n"
         "needs ffmpeg), the camera following the trunk, one frame per\n"
         "1/fps of simulated time",
         out.video_path),
    Decimal("--video-fps", "F", "frames per second of simulated time (default 30)", Between(1, 240),
            out.video_fps),
    Checked("--video-size", "WxH", "frame size in pixels, even numbers (default 640x480)",
            "not an even WxH from 16x16 to 4096x4096",
            [&out](const char* v) { return TakeVideoSize(v, out.video_width, out.video_height); }),
    Flag("--view", "open a window that follows the robot (needs a display)", out.view),
  };
  // The conditions the robot meets, one row each, and the file that gives them together.
  const std::vector<Option> conditions = ConditionRows(out.conditions);
  rows.insert(rows.end(), conditions.begin(), conditions.end());
  rows.push_back(ScenarioRow(conditions));
  CommandLine cli({"torvane-sim", "--level high|low [options]", kDescription, 25, ""},
                  std::move(rows));
  const int parsed = cli.Parse(argc, argv);
  if (parsed != kRun) return parsed;
  if (!out.replay_path.empty()) {
    if (out.lockstep || out.faults.total() > 0.0) {
      return cli.Fail("--replay plays the capture as recorded; it takes no",
                      "--lockstep or faults");
    }
  } else if (!level_given) {
    return cli.Fail("missing option", "--level high|low");
  }
  out.level_given = level_given;
  if (!out.video_path.empty() || out.view) {
    const char* which = out.view ? "--view" : "--video";
    if (!TORVANE_SIM_VIEW) return cli.Fail(which, "not available: built without OpenGL");
    if (!out.replay_path.empty()) return cli.Fail("--replay shows no robot; it takes no", which);
    if (out.engine != Engine::kPhysics) {
      return cli.Fail("--video and --view draw the physics robot; not with", "--engine simple");
    }
  }
  if (out.faults.total() > 1.0 + 1e-12) return cli.Fail("fault shares add up to more than", "1");
  const std::string physical = out.conditions.physics.FirstGiven();
  if (out.engine == Engine::kSimple && !physical.empty()) {
    return cli.Fail("the simple engine has no physics for", physical);
  }
  if (!out.replay_path.empty() && (out.conditions.any_signal() || !physical.empty())) {
    return cli.Fail("--replay plays the capture as recorded; it takes no", "conditions");
  }
  return 0;
}

}  // namespace torvane_sim
