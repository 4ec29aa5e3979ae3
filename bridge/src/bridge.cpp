#include "bridge.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "clock/monotonic_clock.h"
#include "ros_names.h"
#include "security.h"

namespace torvane_bridge {
namespace {

constexpr int kRecvTimeoutMs = 20;  // the receive thread looks at the stop flag this often

int64_t MonotonicNs() {
  return torvane_clock::NowNs();
}

void SleepUntilNs(int64_t deadline) {
  while (!torvane_clock::SleepUntilNs(deadline)) {
  }
}

void AtomicMax(std::atomic<uint64_t>& a, uint64_t v) {
  uint64_t cur = a.load(std::memory_order_relaxed);
  while (v > cur && !a.compare_exchange_weak(cur, v, std::memory_order_relaxed)) {
  }
}

CommandLimits LimitsOf(const Options& o) {
  CommandLimits l;
  l.stiffness = static_cast<float>(o.stiffness);
  l.damping = static_cast<float>(o.damping);
  l.max_speed = static_cast<float>(o.max_speed);
  l.max_yaw_rate = static_cast<float>(o.max_yaw_rate);
  return l;
}

}  // namespace

Bridge::Bridge(const Options& options)
    : options_(options),
      limits_(LimitsOf(options)),
      safety_(options.model),
      flight_log_(options.high_level, options.rate_hz, options.record_dir),
      imu_(FramePrefix(options.ros_namespace)),
      odom_(FramePrefix(options.ros_namespace)) {
  limits_.joints =
      JointBoundsOf(safety_, options.position_margin, options.max_effort, options.max_joint_speed);
}

Bridge::~Bridge() = default;

bool Bridge::Open() {
  const bool high = options_.high_level;
  // A client of the robot whose Recv waits for the next state (the timed receive path): the
  // receive thread wakes when a datagram arrives, not at the next cycle.
  udp_ = std::make_unique<TORVANE::UDP>(
      options_.local_port, options_.robot_address.c_str(), options_.robot_port,
      high ? TORVANE::HIGH_CMD_LENGTH : TORVANE::LOW_CMD_LENGTH,
      high ? TORVANE::HIGH_STATE_LENGTH : TORVANE::LOW_STATE_LENGTH, /*autoDisconnect=*/false,
      TORVANE::blockTimeout);
  udp_->SetRecvTimeout(kRecvTimeoutMs);
  // The endpoint reports set-up failures only on the console; a socket that is not bound to the
  // port asked for would talk from another one, so check.
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (udp_->socketfd < 0 ||
      getsockname(udp_->socketfd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
      ntohs(local.sin_port) != options_.local_port) {
    std::fprintf(stderr, "torvane-bridge: cannot use local UDP port %u\n",
                 static_cast<unsigned>(options_.local_port));
    return false;
  }
  udp_->InitCmdData(base_high_);
  udp_->InitCmdData(base_low_);
  safe_high_ = SafeHighCmd(base_high_);
  safe_low_ = SafeLowCmd(base_low_, limits_.damping);

  std::string error;
  dds_qos_t* participant_qos = nullptr;
  SecurityConfig security;
  bool opened = PrepareSecurity(options_, std::getenv, participant_qos, security, error);
  if (opened) {
    std::unique_ptr<DdsLogCapture> refusal;
    if (participant_qos != nullptr) refusal = std::make_unique<DdsLogCapture>();
    opened = dds_.Open(options_.domain, options_.ros_namespace, high, error, participant_qos);
    if (!opened && refusal && !refusal->first().empty()) error += " (" + refusal->first() + ")";
  }
  if (participant_qos != nullptr) dds_delete_qos(participant_qos);
  if (!opened) {
    std::fprintf(stderr, "torvane-bridge: %s\n", error.c_str());
    return false;
  }
  if (!security.note.empty()) std::printf("torvane-bridge: %s\n", security.note.c_str());
  if (security.enabled) {
    std::printf("torvane-bridge: DDS Security on (strict): enclave %s in %s\n",
                security.enclave.c_str(), security.keystore.c_str());
  }
  const std::string ns = TopicName(options_.ros_namespace, "");
  std::printf(
      "torvane-bridge: %s level, robot %s:%u from port %u, %g Hz; DDS domain %u, "
      "topics %s{joint_states,imu%s}\n",
      high ? "high" : "low", options_.robot_address.c_str(),
      static_cast<unsigned>(options_.robot_port), static_cast<unsigned>(options_.local_port),
      options_.rate_hz, options_.domain, ns.c_str(), high ? ",odom,cmd_vel" : ",joint_commands");
  std::fflush(stdout);
  return true;
}

void Bridge::RaisePriority(int priority, const char* thread) {
  if (priority <= 0) return;
  sched_param p{};
  p.sched_priority = priority;
  const int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
  if (err != 0) {
    std::fprintf(stderr, "torvane-bridge: %s thread stays at normal priority: %s\n", thread,
                 std::strerror(err));
  }
}

void Bridge::CycleLoop() {
  RaisePriority(options_.priority, "cycle");
  if (options_.priority > 0 && mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    // Without it a page fault can cost a cycle; the bridge runs all the same.
    std::fprintf(stderr, "torvane-bridge: memory not locked: %s\n", std::strerror(errno));
  }
  const bool high = options_.high_level;
  const int64_t period = static_cast<int64_t>(1e9 / options_.rate_hz);
  const int64_t deadline = static_cast<int64_t>(options_.deadline_s * 1e9);
  Command current;
  bool have_command = false;
  TORVANE::LowState state{};
  bool have_state = false;
  TORVANE::HighCmd high_cmd{};
  TORVANE::LowCmd low_cmd{};
  int64_t slot = MonotonicNs();
  while (!stop_.load(std::memory_order_relaxed)) {
    const int64_t now = MonotonicNs();
    if (now > slot) AtomicMax(tally_.max_late_us, static_cast<uint64_t>((now - slot) / 1000));
    if (now - slot >= period) {
      // Woke a whole period or more late: those slots are gone; start from the current one.
      const int64_t skipped = (now - slot) / period;
      if (tally_.missed.fetch_add(static_cast<uint64_t>(skipped), std::memory_order_relaxed) == 0) {
        tally_.first_missed.store(tally_.cycles.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
      }
      slot += skipped * period;
    }

    if (commands_.Take()) {
      current = commands_.Front();
      have_command = true;
    }
    const bool fresh = have_command && now - current.arrival_ns <= deadline;
    if (!fresh) tally_.safe_cycles.fetch_add(1, std::memory_order_relaxed);
    bool new_state = false, tripped = false;  // for the flight log
    if (high) {
      new_state = states_.Take();
      high_cmd = fresh ? current.high : safe_high_;
      udp_->SetSend(high_cmd);
    } else {
      if (states_.Take()) {
        state = states_.Front().low;
        have_state = true;
        new_state = true;
      }
      low_cmd = fresh ? current.low : safe_low_;
      // Every command goes through the guard; the protections judge measured values, so they
      // start with the first state.
      safety_.PositionLimit(low_cmd);
      if (have_state) {
        const int power = safety_.PowerProtect(low_cmd, state, options_.power_level);
        const int position = safety_.PositionProtect(low_cmd, state, options_.position_margin);
        tripped = power < 0 || position < 0;
        if (tripped) tally_.trips.fetch_add(1, std::memory_order_relaxed);
      }
      udp_->SetSend(low_cmd);
    }
    udp_->Send();
    tally_.cycles.fetch_add(1, std::memory_order_relaxed);
    const double time_s = static_cast<double>(now) * 1e-9;
    if (high) {
      flight_log_.Cycle(time_s, high_cmd, new_state, states_.Front().high);
    } else {
      flight_log_.Cycle(time_s, low_cmd, new_state, state, tripped);
    }
    slot += period;
    SleepUntilNs(slot);
  }
}

void Bridge::ReceiveLoop() {
  // Just below the cycle: Recv holds the socket lock that Send waits for, so this thread must not
  // be preempted by ordinary work while it holds it.
  RaisePriority(options_.priority > 1 ? options_.priority - 1 : options_.priority, "receive");
  const bool high = options_.high_level;
  State local;
  while (!stop_.load(std::memory_order_relaxed)) {
    const int result = udp_->Recv();
    if (result != 0) {
      if (result == -1 || result == -3) tally_.bad_states.fetch_add(1, std::memory_order_relaxed);
      continue;  // -2: nothing within the timeout
    }
    timespec stamp{};
    clock_gettime(CLOCK_REALTIME, &stamp);
    tally_.states.fetch_add(1, std::memory_order_relaxed);
    bool ok = true;
    if (high) {
      udp_->GetRecv(local.high);
      states_.Back().high = local.high;
      states_.Publish();
      joint_states_.Fill(local.high.motorState, stamp);
      imu_.Fill(local.high.imu, stamp);
      odom_.Fill(local.high, stamp);
      ok = dds_.Write(Stream::kJointStates, &joint_states_.msg());
      ok = dds_.Write(Stream::kImu, &imu_.msg()) && ok;
      ok = dds_.Write(Stream::kOdom, &odom_.msg()) && ok;
    } else {
      udp_->GetRecv(local.low);
      states_.Back().low = local.low;
      states_.Publish();
      joint_states_.Fill(local.low.motorState, stamp);
      imu_.Fill(local.low.imu, stamp);
      ok = dds_.Write(Stream::kJointStates, &joint_states_.msg());
      ok = dds_.Write(Stream::kImu, &imu_.msg()) && ok;
    }
    (ok ? tally_.published : tally_.publish_errors).fetch_add(1, std::memory_order_relaxed);
  }
}

void Bridge::OnCommand(const void* sample) {
  Command& c = commands_.Back();
  const char* why = "";
  JointCommandOutcome outcome;
  const bool ok =
      options_.high_level
          ? TwistToHighCmd(*static_cast<const geometry_msgs_msg_dds__Twist_*>(sample), limits_,
                           base_high_, c.high, &why)
          : JointCommandToLowCmd(*static_cast<const sensor_msgs_msg_dds__JointState_*>(sample),
                                 limits_, base_low_, c.low, &why, &outcome);
  if (!options_.high_level) joint_commands_.Count(outcome);
  if (!ok) {
    const uint64_t n = tally_.rejected.fetch_add(1, std::memory_order_relaxed) + 1;
    if ((n & (n - 1)) == 0) {  // the 1st, 2nd, 4th, ... so a flood cannot flood the console
      std::printf("torvane-bridge: command refused (%llu so far): %s\n",
                  static_cast<unsigned long long>(n), why);
      std::fflush(stdout);
    }
    return;
  }
  c.arrival_ns = MonotonicNs();
  commands_.Publish();
  tally_.commands.fetch_add(1, std::memory_order_relaxed);
}

int Bridge::Run(const volatile std::sig_atomic_t& stop) {
  flight_log_.Start();
  std::thread cycle(&Bridge::CycleLoop, this);
  std::thread receive(&Bridge::ReceiveLoop, this);
  const int64_t start = MonotonicNs();
  const int64_t duration = static_cast<int64_t>(options_.duration_s * 1e9);
  const auto handle = [this](const void* sample) { OnCommand(sample); };
  while (stop == 0 && (duration <= 0 || MonotonicNs() - start < duration)) {
    dds_.TakeCommands(DDS_MSECS(50), handle);
  }
  stop_.store(true);
  cycle.join();
  receive.join();
  flight_log_.Stop();  // after a write under way
  PrintTally();
  return 0;
}

void Bridge::PrintTally() const {
  const auto v = [](const std::atomic<uint64_t>& a) {
    return static_cast<unsigned long long>(a.load());
  };
  std::printf(
      "torvane-bridge: cycles %llu, missed %llu (first after cycle %llu), latest start %llu us "
      "late, safe %llu, guard trips %llu\n"
      "torvane-bridge: states %llu (rejected %llu), published %llu (errors %llu); commands %llu "
      "(refused %llu)\n",
      v(tally_.cycles), v(tally_.missed), v(tally_.first_missed), v(tally_.max_late_us),
      v(tally_.safe_cycles), v(tally_.trips), v(tally_.states), v(tally_.bad_states),
      v(tally_.published), v(tally_.publish_errors), v(tally_.commands), v(tally_.rejected));
  if (!options_.high_level) {
    std::printf("torvane-bridge: %s\n", joint_commands_.Line().c_str());
  }
  std::fflush(stdout);
}

}  // namespace torvane_bridge
