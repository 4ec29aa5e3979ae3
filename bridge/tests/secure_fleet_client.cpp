// A participant of the secure fleet test, on host C, in one of five roles. Its DDS Security comes
// from ROS 2's variables (ROS_SECURITY_ENABLE, ROS_SECURITY_KEYSTORE,
// ROS_SECURITY_ENCLAVE_OVERRIDE) as any ROS 2 node's does; without them it has no identity.
//   secure_fleet_client operator NS        drives the robot forward on its cmd_vel; exit 0 if it
//                                          walked
//   secure_fleet_client intruder NS        publishes cmd_vel at 50 Hz for 2 s if its own stack
//                                          lets it; says what it could do; exit 0
//   secure_fleet_client watch NS           reads joint_states and odom until SIGINT; exit 0 if
//                                          the robot stayed where it was
//   secure_fleet_client monitor NS yes|no  reads joint_states for up to 10 s; exit 0 if it read
//                                          them (yes) or read nothing (no)
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ros_client.h"
#include "security.h"

using namespace torvane_bridge_test;
using Clock = std::chrono::steady_clock;

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

// A participant with the security the environment asks for (null QoS: none).
dds_entity_t Join(const std::string& ns) {
  dds_qos_t* qos = nullptr;
  std::string enclave, error;
  if (!torvane_bridge::NodeSecurityQos(ns, std::getenv, qos, enclave, error)) {
    std::printf("secure_fleet_client: %s\n", error.c_str());
    return -1;
  }
  const bool secure = qos != nullptr;
  const char* env = std::getenv("ROS_DOMAIN_ID");
  const dds_domainid_t domain = env != nullptr && *env != '\0' ? std::atoi(env) : 0;
  const dds_entity_t participant = dds_create_participant(domain, qos, nullptr);
  if (qos != nullptr) dds_delete_qos(qos);
  std::printf("secure_fleet_client: %s participant%s%s\n",
              secure ? enclave.c_str() : "unauthenticated", participant < 0 ? " refused: " : "",
              participant < 0 ? dds_strretcode(participant) : "");
  std::fflush(stdout);
  return participant;
}

template <typename F>
bool Within(double seconds, F&& step) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (step()) return true;
  }
  return false;
}

int Operator(dds_entity_t participant, const std::string& ns) {
  RosClient robot(participant, ns);
  std::array<double, 12> q{};
  double x0 = 0, y0 = 0, vx = 0;
  if (!Within(30, [&] { return robot.ReadJoints(q, 200); }) ||
      !robot.WaitCommandReader(true, 20000) ||
      !Within(10, [&] { return robot.ReadOdom(x0, y0, vx, 100); })) {
    std::printf("operator: FAILED: the robot's topics did not match\n");
    return 1;
  }
  int written = 0;
  double x = x0, y = y0;
  const auto end = Clock::now() + std::chrono::milliseconds(1500);
  while (Clock::now() < end) {
    written += robot.SendTwist(0.5, 0.0, 0.0) ? 1 : 0;
    robot.ReadOdom(x, y, vx, 20);
  }
  Within(1.0, [&] {
    robot.ReadOdom(x, y, vx, 20);
    return false;
  });
  std::printf("operator: wrote %d, robot moved (%.3f, %.3f)\n", written, x - x0, y - y0);
  const bool ok = x - x0 > 0.3;
  std::printf("operator: %s: the permitted operator's cmd_vel moved the robot\n",
              ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

int Intruder(dds_entity_t participant, const std::string& ns) {
  const std::string name = torvane_bridge::TopicName(ns, "cmd_vel");
  const dds_entity_t topic = dds_create_topic(participant, &geometry_msgs_msg_dds__Twist__desc,
                                              name.c_str(), nullptr, nullptr);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  const dds_entity_t writer =
      topic < 0 ? topic : dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  if (writer < 0) {
    std::printf("intruder: its own stack refused a writer of %s: %s\n", name.c_str(),
                dds_strretcode(writer));
    return 0;
  }
  // Give discovery every chance a permitted participant would need, then write regardless.
  dds_publication_matched_status_t st{};
  Within(5, [&] {
    dds_get_publication_matched_status(writer, &st);
    return st.current_count > 0;
  });
  int written = 0;
  auto next = Clock::now();
  for (int i = 0; i < 100; ++i) {  // 50 Hz for 2 s
    geometry_msgs_msg_dds__Twist_ t{};
    t.linear = {0.5, 0.4, 0.0};
    t.angular = {0.0, 0.0, 1.0};
    written += dds_write(writer, &t) == DDS_RETCODE_OK ? 1 : 0;
    next += std::chrono::milliseconds(20);
    while (Clock::now() < next) {
      timespec ts{0, 1000000};
      nanosleep(&ts, nullptr);
    }
  }
  dds_get_publication_matched_status(writer, &st);
  std::printf("intruder: wrote %d samples of %s, matched %u reader(s)\n", written, name.c_str(),
              static_cast<unsigned>(st.current_count));
  return 0;
}

int Watch(dds_entity_t participant, const std::string& ns) {
  RosClient robot(participant, ns);
  std::array<double, 12> q0{}, q{};
  double x0 = 0, y0 = 0, vx = 0;
  if (!Within(30, [&] { return robot.ReadJoints(q0, 200); }) ||
      !Within(10, [&] { return robot.ReadOdom(x0, y0, vx, 100); })) {
    std::printf("watch: FAILED: the robot's joint_states and odom did not arrive\n");
    return 1;
  }
  std::printf("watch: baseline\n");
  std::fflush(stdout);
  double joints = 0, body = 0, x = x0, y = y0;
  long samples = 0;
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (g_stop == 0 && Clock::now() < end) {
    if (robot.ReadJoints(q, 50)) {
      ++samples;
      for (int i = 0; i < 12; ++i) joints = std::max(joints, std::fabs(q[i] - q0[i]));
    }
    if (robot.ReadOdom(x, y, vx, 10)) body = std::max(body, std::hypot(x - x0, y - y0));
  }
  std::printf("watch: %ld joint_states read; joints moved at most %.4f rad, body %.4f m\n", samples,
              joints, body);
  const bool ok = samples > 0 && joints < 0.02 && body < 0.02;
  std::printf("watch: %s: the robot stayed where it was\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

int Monitor(dds_entity_t participant, const std::string& ns, bool expect) {
  RosClient robot(participant, ns);
  std::array<double, 12> q{};
  const bool read = Within(10, [&] { return robot.ReadJoints(q, 200); });
  std::printf("monitor: %s: %s %s\n", read == expect ? "ok" : "FAILED",
              read ? "read" : "read nothing of",
              torvane_bridge::TopicName(ns, "joint_states").c_str());
  return read == expect ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string role = argc >= 3 ? argv[1] : "";
  const bool monitor = role == "monitor" && argc == 4 &&
                       (std::strcmp(argv[3], "yes") == 0 || std::strcmp(argv[3], "no") == 0);
  if (!monitor && !(argc == 3 && (role == "operator" || role == "intruder" || role == "watch"))) {
    std::fprintf(stderr,
                 "usage: secure_fleet_client operator|intruder|watch NS\n"
                 "       secure_fleet_client monitor NS yes|no\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::string ns;
  torvane_bridge::NormaliseNamespace(argv[2], ns);
  const dds_entity_t participant = Join(ns);
  if (participant < 0) return role == "intruder" ? 0 : 1;
  int status = 1;
  if (role == "operator") status = Operator(participant, ns);
  if (role == "intruder") status = Intruder(participant, ns);
  if (role == "watch") status = Watch(participant, ns);
  if (monitor) status = Monitor(participant, ns, std::strcmp(argv[3], "yes") == 0);
  std::fflush(stdout);
  dds_delete(participant);
  return status;
}
