// The bridge's added latency: this program plays the robot (a low-level state datagram to the
// bridge) and a ROS 2 subscriber of joint_states (waitset, reliable, keep-last 10) in one
// process, and times each state from just before its sendto to the matching sample's arrival.
// Each state carries its sequence number as joint 0's velocity
// (the positions stand the robot still, inside the guard's ranges).
//   bridge_latency ROBOT_PORT BRIDGE_PORT NAMESPACE SAMPLES [GAP_US [spin]]
// (GAP_US: mean time from one matched sample to the next state, default 1000; spin: wait for the
// next state busy, keeping this process's core occupied, instead of sleeping)
// prints "bridge_latency: samples N lost L median_us M p99_us P"; exit 1 if nothing arrived.
#include <arpa/inet.h>
#include <dds/dds.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clock/monotonic_clock.h"
#include "options.h"
#include "ros_names.h"
#include "security.h"
#include "sensor_msgs.h"
#include "torvane/checksum.h"
#include "torvane/packing.h"

namespace {

using torvane_clock::NowNs;

}  // namespace

// The DDS domain from ROS_DOMAIN_ID, as the bridge takes it.
static dds_domainid_t Domain() {
  uint32_t d = 0;
  torvane_bridge::ParseDomainId(std::getenv("ROS_DOMAIN_ID"), d);
  return static_cast<dds_domainid_t>(d);
}

int main(int argc, char** argv) {
  const bool spin = argc == 7 && std::strcmp(argv[6], "spin") == 0;
  if (argc < 5 || argc > 7 || (argc == 7 && !spin)) {
    std::fprintf(
        stderr, "usage: bridge_latency ROBOT_PORT BRIDGE_PORT NAMESPACE SAMPLES [GAP_US [spin]]\n");
    return 2;
  }
  const int robot_port = std::atoi(argv[1]), bridge_port = std::atoi(argv[2]);
  const int samples = std::atoi(argv[4]);
  const int64_t gap_ns = (argc >= 6 ? std::atoi(argv[5]) : 1000) * 1000ll;

  // With ROS 2's security variables set, a secure participant (the bench's DDS Security run).
  dds_qos_t* pp_qos = nullptr;
  std::string enclave, error;
  if (!torvane_bridge::NodeSecurityQos(argv[3], std::getenv, pp_qos, enclave, error)) {
    std::fprintf(stderr, "bridge_latency: %s\n", error.c_str());
    return 1;
  }
  const dds_entity_t pp = dds_create_participant(Domain(), pp_qos, nullptr);
  if (pp_qos != nullptr) dds_delete_qos(pp_qos);
  const std::string topic_name = torvane_bridge::TopicName(argv[3], "joint_states");
  const dds_entity_t topic = dds_create_topic(pp, &sensor_msgs_msg_dds__JointState__desc,
                                              topic_name.c_str(), nullptr, nullptr);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  const dds_entity_t reader = dds_create_reader(pp, topic, qos, nullptr);
  dds_delete_qos(qos);
  const dds_entity_t ws = dds_create_waitset(pp);
  const dds_entity_t cond = dds_create_readcondition(reader, DDS_ANY_STATE);
  dds_waitset_attach(ws, cond, 0);

  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in robot{}, bridge{};
  robot.sin_family = bridge.sin_family = AF_INET;
  robot.sin_addr.s_addr = bridge.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  robot.sin_port = htons(static_cast<uint16_t>(robot_port));
  bridge.sin_port = htons(static_cast<uint16_t>(bridge_port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&robot), sizeof robot) != 0) {
    std::perror("bridge_latency: bind");
    return 1;
  }
  // The bridge's commands are not read; a small buffer drops them instead of queueing them.
  const int small = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

  alignas(4) uint8_t image[sizeof(TORVANE::LowState_refine)];
  TORVANE::LowState_refine state{};
  state.head = TORVANE::HEAD;
  state.levelFlag = TORVANE::LOW_LEVEL_FLAG;
  state.imu.quaternion = {1.0f, 0.0f, 0.0f, 0.0f};
  // A robot standing still, every joint inside its range: a state that trips the bridge's guard
  // would have it print lines every cycle while it is being timed.
  for (int leg = 0; leg < 4; ++leg) {
    state.motorState[3 * leg].q = 0.0f;
    state.motorState[3 * leg + 1].q = 0.8f;
    state.motorState[3 * leg + 2].q = -1.5f;
  }

  // Wait until the subscriber sees the bridge's states (discovery), warming up on the way.
  std::vector<double> us;
  int lost = 0, consecutive_lost = 0;
  const int warmup = 200;
  for (int seq = 1; seq <= samples + warmup; ++seq) {
    state.motorState[0].dq = static_cast<float>(seq);
    std::memcpy(image, &state, sizeof image);
    const uint32_t crc = TORVANE::crc32(reinterpret_cast<const uint32_t*>(image),
                                        TORVANE::covered_words(sizeof image));
    std::memcpy(image + sizeof image - 4, &crc, 4);
    const int64_t t0 = NowNs();
    sendto(fd, image, sizeof image, 0, reinterpret_cast<sockaddr*>(&bridge), sizeof bridge);
    bool matched = false;
    const int64_t give_up = t0 + (seq <= warmup ? 100 : 500) * 1000000ll;
    while (!matched && NowNs() < give_up) {
      dds_waitset_wait_until(ws, nullptr, 0, give_up);
      void* buf[16] = {nullptr};
      dds_sample_info_t info[16];
      const int n = dds_take(reader, buf, info, 16, 16);
      const int64_t t1 = NowNs();
      for (int i = 0; i < n; ++i) {
        const auto* js = static_cast<const sensor_msgs_msg_dds__JointState_*>(buf[i]);
        if (info[i].valid_data && js->velocity._length > 0 &&
            js->velocity._buffer[0] == static_cast<double>(seq)) {
          matched = true;
          if (seq > warmup) us.push_back((t1 - t0) / 1000.0);
        }
      }
      if (n > 0) dds_return_loan(reader, buf, n);
    }
    if (!matched && seq > warmup) ++lost;
    consecutive_lost = matched ? 0 : consecutive_lost + 1;
    if (consecutive_lost == 50) break;  // no bridge, or it is gone
    // The next state a gap later, give or take half of it, not locked to the bridge's cycle.
    const int64_t next = NowNs() + gap_ns / 2 + (seq * 7919 % 1000) * gap_ns / 1000;
    if (spin) {
      while (NowNs() < next) {
      }
    } else if (gap_ns > 0) {
      torvane_clock::SleepUntilNs(next);
    }
  }
  dds_delete(pp);
  close(fd);
  if (us.empty()) {
    std::printf("bridge_latency: no sample arrived\n");
    return 1;
  }
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  std::printf("bridge_latency: samples %zu lost %d median_us %.1f p99_us %.1f\n", us.size(), lost,
              median, p99);
  return 0;
}
