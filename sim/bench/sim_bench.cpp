// The emulator's speed, printed as a Markdown section: the physics model's real-time factor
// at 1 kHz on one core beside the simple joint model's, and the answer latency of torvane-sim
// in lockstep with each engine, measured in the same run.
//   sim_bench [simulated-seconds] [lockstep-cycles]
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <mujoco/mujoco.h>

#include "clock/monotonic_clock.h"
#include "models/leg_model.h"
#include "models/physics_engine.h"
#include "models/physics_model.h"
#include "program/model_path.h"
#include "torvane/udp.h"

extern char** environ;

namespace {

using torvane_sim::MotorTarget;

using torvane_clock::Now;

// CPU time of this thread, in seconds.
double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// A command that stands the robot up from lying and holds it: the work of a real session.
TORVANE::LowCmd_refine StandCommand(float a) {
  TORVANE::LowCmd_refine cmd{};
  const float stand[3] = {0.0f, 0.67f, -1.3f}, lying[3] = {0.0f, 2.2f, -2.58f};
  for (int j = 0; j < 12; ++j) {
    TORVANE::MotorCmd_refine& m = cmd.motorCmd[j];
    m.mode = 10;
    m.q = (1 - a) * lying[j % 3] + a * stand[j % 3];
    m.Kp = 80 * 32;
    m.Kd = 2 * 16;
  }
  return cmd;
}

struct Speed {
  double wall = 0, cpu = 0;  // simulated seconds per wall second, per second on the CPU
};

Speed RealTimeFactor(torvane_sim::LowLevelModel& model, double simulated, double period) {
  TORVANE::LowState_refine state{};
  const int periods = static_cast<int>(simulated / period);
  const double start = Now(), start_cpu = ThreadCpu();
  for (int i = 0; i < periods; ++i) {
    if (i % 50 == 0) {
      model.Command(torvane_sim::LegTargets(StandCommand(std::min(1.0f, i * 0.0005f))));
    }
    model.Step();
    model.Fill(state);
  }
  return {simulated / (Now() - start), simulated / (ThreadCpu() - start_cpu)};
}

// The same model, from the same laid-down start, and the same stand-up in a bare loop: mj_step
// and a PD law on the actuators, nothing of the emulator's (no unpacking of targets, no state
// filled). The baseline of the emulator's own cost per period.
Speed BareStepLoop(const torvane_sim::PhysicsModel& start, double simulated, double period) {
  mjModel* m = mj_copyModel(nullptr, start.engine_model());
  mjData* d = mj_copyData(nullptr, m, start.engine_data());
  const int substeps = std::max(1, static_cast<int>(std::lround(period / m->opt.timestep)));
  const float stand[3] = {0.0f, 0.67f, -1.3f}, lying[3] = {0.0f, 2.2f, -2.58f};
  const int periods = static_cast<int>(simulated / period);
  const int actuators = std::min(12, m->nu);
  const double start_wall = Now(), start_cpu = ThreadCpu();
  for (int i = 0; i < periods; ++i) {
    const float a = std::min(1.0f, static_cast<float>(i / 50 * 50) * 0.0005f);
    for (int k = 0; k < substeps; ++k) {
      for (int j = 0; j < actuators; ++j) {
        const int joint = m->actuator_trnid[2 * j];
        const double q = d->qpos[m->jnt_qposadr[joint]], dq = d->qvel[m->jnt_dofadr[joint]];
        const double target = (1 - a) * lying[j % 3] + a * stand[j % 3];
        d->ctrl[j] = 80 * (target - q) - 2 * dq;
      }
      mj_step(m, d);
    }
  }
  const Speed speed{simulated / (Now() - start_wall), simulated / (ThreadCpu() - start_cpu)};
  mj_deleteData(d);
  mj_deleteModel(m);
  return speed;
}

struct Latency {
  double median_us = 0, p99_us = 0;
  bool ok = false;
};

// Round trips of `cycles` low-level commands to torvane-sim in lockstep with `engine`.
Latency LockstepLatency(const std::string& sim, const char* engine, int cycles, uint16_t port) {
  Latency result;
  const std::string port_text = std::to_string(port);
  std::vector<std::string> args = {sim,          "--level", "low",      "--lockstep",
                                   "--port",     port_text, "--engine", engine,
                                   "--duration", "120",     "--rate",   "1000"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) return result;
  std::string seen;
  char buf[512];
  while (seen.find("level on") == std::string::npos) {  // until it listens
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) break;
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
  }
  if (seen.find("level on") != std::string::npos) {
    TORVANE::UDP udp(TORVANE::LOW_LEVEL_FLAG, static_cast<uint16_t>(port + 1), "127.0.0.1", port);
    TORVANE::LowCmd cmd{};
    udp.InitCmdData(cmd);
    std::vector<double> times;
    for (int i = 0; i < cycles; ++i) {
      for (int j = 0; j < 12; ++j) {
        cmd.motorCmd[j].Kp = 80;
        cmd.motorCmd[j].Kd = 2;
        cmd.motorCmd[j].q = j % 3 == 1 ? 0.67f : (j % 3 == 2 ? -1.3f : 0.0f);
      }
      const double start = Now();
      udp.SetSend(cmd);
      udp.Send();
      pollfd p{udp.socketfd, POLLIN, 0};
      if (poll(&p, 1, 1000) != 1) break;
      udp.Recv();
      times.push_back(Now() - start);
    }
    if (static_cast<int>(times.size()) == cycles) {
      std::sort(times.begin(), times.end());
      result.median_us = times[times.size() / 2] * 1e6;
      result.p99_us = times[times.size() * 99 / 100] * 1e6;
      result.ok = true;
    }
  }
  kill(pid, SIGINT);
  while (read(out[0], buf, sizeof buf) > 0) {
  }
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const double simulated = argc > 1 ? std::atof(argv[1]) : 20.0;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 5000;
  const double period = 0.001;
  const std::string model_path = torvane_sim::FindModel("quadruped.xml");
  std::string error;
  auto physics =
      torvane_sim::LoadPhysicsLowLevel(model_path, TORVANE::LeggedType::Zorvan, period, error);
  if (!physics) {
    std::fprintf(stderr, "sim_bench: %s\n", error.c_str());
    return 1;
  }
  const Speed rtf_physics = RealTimeFactor(*physics, simulated, period);
  auto fresh =
      torvane_sim::LoadPhysicsLowLevel(model_path, TORVANE::LeggedType::Zorvan, period, error);
  const Speed rtf_bare = fresh && fresh->physics() != nullptr
                             ? BareStepLoop(*fresh->physics(), simulated, period)
                             : Speed{};
  torvane_sim::LegModel simple(TORVANE::LeggedType::Zorvan, period);
  const Speed rtf_simple = RealTimeFactor(simple, simulated, period);

  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : "./sim_bench";
  dir = dir.substr(0, dir.rfind('/'));
  const uint16_t port = static_cast<uint16_t>(40000 + getpid() % 20000);
  const Latency lat_physics = LockstepLatency(dir + "/torvane-sim", "physics", cycles, port);
  const Latency lat_simple = LockstepLatency(dir + "/torvane-sim", "simple", cycles, port);

  std::printf(
      "\n## torvane-sim: physics speed\n\n"
      "Real-time factor at 1 kHz (simulated seconds per wall second, one core; a stand-up and\n"
      "hold, %.0f simulated seconds, stepping and packing the state each period):\n\n"
      "| engine | real-time factor (wall) | on the CPU alone | goal |\n|---|---:|---:|---:|\n"
      "| physics (rigid bodies) | %.1f | %.1f | >= 20 |\n"
      "| simple joint model | %.0f | %.0f | - |\n\n"
      "The wall figure counts whatever else the machine runs meanwhile; the CPU figure counts\n"
      "only the emulator's own thread.\n\n"
      "The emulator's own cost per 1 kHz period beside a bare loop of mj_step and a PD law on\n"
      "the actuators, same model and start, same stand-up, same run (CPU time): bare real-time "
      "factor\n"
      "%.1f, emulator %.1f; cost ratio **%.2f** (goal <= 1.2).\n\n",
      simulated, rtf_physics.wall, rtf_physics.cpu, rtf_simple.wall, rtf_simple.cpu, rtf_bare.cpu,
      rtf_physics.cpu, rtf_physics.cpu > 0 ? rtf_bare.cpu / rtf_physics.cpu : 0.0);
  std::printf(
      "Answer latency in lockstep at 1 kHz on 127.0.0.1 (us, %d low-level command-to-state round\n"
      "trips, client included):\n\n"
      "| engine | median | 99th percentile |\n|---|---:|---:|\n",
      cycles);
  for (const auto& [name, lat] :
       {std::make_pair("physics", lat_physics), std::make_pair("simple", lat_simple)}) {
    if (lat.ok) {
      std::printf("| %s | %.1f | %.1f |\n", name, lat.median_us, lat.p99_us);
    } else {
      std::printf("| %s | failed | failed |\n", name);
    }
  }
  std::printf("\nThe difference between the two lines is the physics' own cost per answer.\n");
  return lat_physics.ok && lat_simple.ok ? 0 : 1;
}
