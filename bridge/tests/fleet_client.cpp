// The third host of the fleet test: a ROS 2-style DDS client that discovers two robots by their
// namespaces, reads both robots' joint states, then walks robot A forward and robot B sideways,
// each on its own cmd_vel, and checks that each moved only as it was told.
//   fleet_client NS_A NS_B      exit 0 when all holds, 1 otherwise (one line per finding)
#include <chrono>
#include <cmath>
#include <cstdio>

#include "ros_client.h"

using namespace torvane_bridge_test;
using Clock = std::chrono::steady_clock;

namespace {

struct Pose {
  double x = 0, y = 0, vx = 0;
};

template <typename F>
bool Within(double seconds, F&& step) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (step()) return true;
  }
  return false;
}

// Commands `mover` for `seconds` at 50 Hz while reading both robots' odometry.
void Drive(RosClient& mover, double vx, double vy, double seconds, RosClient& a, Pose& pa,
           RosClient& b, Pose& pb) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    mover.SendTwist(vx, vy, 0.0);
    a.ReadOdom(pa.x, pa.y, pa.vx, 10);
    b.ReadOdom(pb.x, pb.y, pb.vx, 10);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fleet_client NS_A NS_B\n");
    return 2;
  }
  // Domain from ROS_DOMAIN_ID like any ROS 2 node (unset: 0).
  const char* env = std::getenv("ROS_DOMAIN_ID");
  const dds_domainid_t domain = env != nullptr && *env != '\0' ? std::atoi(env) : 0;
  const dds_entity_t participant = dds_create_participant(domain, nullptr, nullptr);
  if (participant < 0) {
    std::printf("fleet_client: no participant: %s\n", dds_strretcode(participant));
    return 1;
  }
  RosClient a(participant, argv[1]), b(participant, argv[2]);
  int failures = 0;
  const auto check = [&](bool ok, const char* what) {
    std::printf("fleet_client: %s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!ok) ++failures;
    return ok;
  };

  std::array<double, 12> qa{}, qb{};
  const bool found_a = Within(30, [&] { return a.ReadJoints(qa, 200); });
  const bool found_b = Within(30, [&] { return b.ReadJoints(qb, 200); });
  check(found_a, "robot A's joint_states arrive");
  check(found_b, "robot B's joint_states arrive");
  if (!found_a || !found_b) return 1;
  check(std::fabs(qa[1] - 0.67) < 0.1 && std::fabs(qb[1] - 0.67) < 0.1,
        "both report a standing thigh angle");
  if (!check(a.WaitCommandReader(true, 20000) && b.WaitCommandReader(true, 20000),
             "both bridges' cmd_vel readers match")) {
    return 1;
  }
  Pose pa, pb;
  if (!check(Within(10, [&] { return a.ReadOdom(pa.x, pa.y, pa.vx, 100); }) &&
                 Within(10, [&] { return b.ReadOdom(pb.x, pb.y, pb.vx, 100); }),
             "both robots' odom arrives")) {
    return 1;
  }
  const Pose a0 = pa, b0 = pb;
  Drive(a, 0.5, 0.0, 1.5, a, pa, b, pb);  // A forward
  Drive(b, 0.0, 0.4, 1.5, a, pa, b, pb);  // B sideways; A has stopped getting commands
  // Let both settle on the safe command, then read where they ended.
  Within(1.0, [&] {
    a.ReadOdom(pa.x, pa.y, pa.vx, 20);
    b.ReadOdom(pb.x, pb.y, pb.vx, 20);
    return false;
  });
  std::printf("fleet_client: A moved (%.3f, %.3f), B moved (%.3f, %.3f)\n", pa.x - a0.x,
              pa.y - a0.y, pb.x - b0.x, pb.y - b0.y);
  check(pa.x - a0.x > 0.3, "robot A walked forward on its own cmd_vel");
  check(std::fabs(pa.y - a0.y) < 0.02, "robot A did not follow robot B's cmd_vel");
  check(pb.y - b0.y > 0.2, "robot B walked sideways on its own cmd_vel");
  check(std::fabs(pb.x - b0.x) < 0.02, "robot B did not follow robot A's cmd_vel");
  dds_delete(participant);
  return failures == 0 ? 0 : 1;
}
