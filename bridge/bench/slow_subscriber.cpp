// A slow ROS 2 subscriber of joint_states and imu: reliable, keep-all, room for 10 samples,
// and it takes one sample every 100 ms, so its history is full and it refuses data almost all
// the time. What such a reader may cost the bridge is what the benchmark measures.
//   slow_subscriber NAMESPACE SECONDS
#include <dds/dds.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "options.h"
#include "ros_names.h"
#include "sensor_msgs.h"

// The DDS domain from ROS_DOMAIN_ID, as the bridge takes it.
static dds_domainid_t Domain() {
  uint32_t d = 0;
  torvane_bridge::ParseDomainId(std::getenv("ROS_DOMAIN_ID"), d);
  return static_cast<dds_domainid_t>(d);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: slow_subscriber NAMESPACE SECONDS\n");
    return 2;
  }
  const dds_entity_t pp = dds_create_participant(Domain(), nullptr, nullptr);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, 0);
  dds_qset_resource_limits(qos, 10, DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
  dds_entity_t readers[2];
  const char* names[2] = {"joint_states", "imu"};
  const dds_topic_descriptor_t* types[2] = {&sensor_msgs_msg_dds__JointState__desc,
                                            &sensor_msgs_msg_dds__Imu__desc};
  for (int i = 0; i < 2; ++i) {
    const std::string name = torvane_bridge::TopicName(argv[1], names[i]);
    const dds_entity_t t = dds_create_topic(pp, types[i], name.c_str(), nullptr, nullptr);
    readers[i] = dds_create_reader(pp, t, qos, nullptr);
  }
  dds_delete_qos(qos);
  const long ticks = std::atol(argv[2]) * 10;
  long taken = 0;
  for (long k = 0; k < ticks; ++k) {
    for (dds_entity_t r : readers) {
      void* buf[1] = {nullptr};
      dds_sample_info_t info[1];
      const int n = dds_take(r, buf, info, 1, 1);
      if (n > 0) {
        taken += n;
        dds_return_loan(r, buf, n);
      }
    }
    timespec t{0, 100000000};
    nanosleep(&t, nullptr);
  }
  std::printf("slow_subscriber: took %ld samples\n", taken);
  dds_delete(pp);
  return 0;
}
