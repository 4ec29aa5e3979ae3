// A ROS 2 node's view of one robot behind a bridge, written on plain Cyclone DDS with ROS 2's
// default QoS (reliable, keep-last 10): reads joint_states and odom, publishes cmd_vel or
// joint_commands under rt/<namespace>/. For the bridge's tests.
#pragma once

#include <dds/dds.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "geometry_msgs.h"
#include "nav_msgs.h"
#include "ros_names.h"
#include "sensor_msgs.h"

namespace torvane_bridge_test {

class RosClient {
 public:
  RosClient(dds_entity_t participant, const std::string& ns) : participant_(participant) {
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
    using torvane_bridge::TopicName;
    joints_ = Reader(&sensor_msgs_msg_dds__JointState__desc, TopicName(ns, "joint_states"), qos);
    odom_ = Reader(&nav_msgs_msg_dds__Odometry__desc, TopicName(ns, "odom"), qos);
    cmd_vel_ = Writer(&geometry_msgs_msg_dds__Twist__desc, TopicName(ns, "cmd_vel"), qos);
    joint_cmd_ =
        Writer(&sensor_msgs_msg_dds__JointState__desc, TopicName(ns, "joint_commands"), qos);
    dds_delete_qos(qos);
  }

  bool ok() const { return joints_ > 0 && odom_ > 0 && cmd_vel_ > 0 && joint_cmd_ > 0; }

  // Waits up to timeout_ms for joint_states samples and keeps the newest positions. Returns
  // false if none came.
  bool ReadJoints(std::array<double, 12>& q, int timeout_ms) {
    bool got = false;
    TakeAll(joints_, timeout_ms, [&](const void* s) {
      const auto* js = static_cast<const sensor_msgs_msg_dds__JointState_*>(s);
      if (js->position._length != 12 || js->name._length != 12) return;
      for (int i = 0; i < 12; ++i) q[i] = js->position._buffer[i];
      got = true;
    });
    return got;
  }

  // Waits up to timeout_ms for odom samples and keeps the newest x, y and forward speed.
  bool ReadOdom(double& x, double& y, double& vx, int timeout_ms) {
    bool got = false;
    TakeAll(odom_, timeout_ms, [&](const void* s) {
      const auto* o = static_cast<const nav_msgs_msg_dds__Odometry_*>(s);
      x = o->pose.pose.position.x;
      y = o->pose.pose.position.y;
      vx = o->twist.twist.linear.x;
      got = true;
    });
    return got;
  }

  // Waits up to timeout_ms until the bridge's command reader has matched our writer, so that no
  // command is lost to discovery (the bridge reads best-effort).
  bool WaitCommandReader(bool high_level, int timeout_ms) {
    const dds_entity_t w = high_level ? cmd_vel_ : joint_cmd_;
    dds_set_status_mask(w, DDS_PUBLICATION_MATCHED_STATUS);
    const dds_entity_t ws = dds_create_waitset(participant_);
    dds_waitset_attach(ws, w, 0);
    dds_publication_matched_status_t st{};
    dds_get_publication_matched_status(w, &st);
    const dds_time_t end = dds_time() + DDS_MSECS(timeout_ms);
    while (st.current_count == 0 && dds_time() < end) {
      dds_waitset_wait_until(ws, nullptr, 0, end);
      dds_get_publication_matched_status(w, &st);
    }
    dds_delete(ws);
    return st.current_count > 0;
  }

  bool SendTwist(double vx, double vy, double wz) {
    geometry_msgs_msg_dds__Twist_ t{};
    t.linear = {vx, vy, 0.0};
    t.angular = {0.0, 0.0, wz};
    return dds_write(cmd_vel_, &t) == DDS_RETCODE_OK;
  }

  // Positions of the twelve leg joints in slot order, by name.
  bool SendJointPositions(const std::array<double, 12>& q) {
    std::array<char*, 12> names{};
    std::array<double, 12> pos = q;
    for (int s = 0; s < 12; ++s) names[s] = const_cast<char*>(torvane_bridge::kJointNames[s]);
    char empty[1] = {0};
    sensor_msgs_msg_dds__JointState_ js{};
    js.header.frame_id = empty;
    js.name = {12, 12, names.data(), false};
    js.position = {12, 12, pos.data(), false};
    return dds_write(joint_cmd_, &js) == DDS_RETCODE_OK;
  }

  // An unnamed joint_commands sample (slot order); an empty array leaves its field out.
  bool SendJointCommand(std::vector<double> q, std::vector<double> dq, std::vector<double> tau) {
    char empty[1] = {0};
    sensor_msgs_msg_dds__JointState_ js{};
    js.header.frame_id = empty;
    const auto field = [](std::vector<double>& v) {
      const auto n = static_cast<uint32_t>(v.size());
      return dds_sequence_double{n, n, v.data(), false};
    };
    js.position = field(q);
    js.velocity = field(dq);
    js.effort = field(tau);
    return dds_write(joint_cmd_, &js) == DDS_RETCODE_OK;
  }

  // A joint_commands sample with a NaN position, which the bridge must refuse.
  bool SendBadJointCommand() {
    std::array<double, 12> pos{};
    pos[4] = std::nan("");
    char empty[1] = {0};
    sensor_msgs_msg_dds__JointState_ js{};
    js.header.frame_id = empty;
    js.position = {12, 12, pos.data(), false};
    return dds_write(joint_cmd_, &js) == DDS_RETCODE_OK;
  }

 private:
  dds_entity_t Reader(const dds_topic_descriptor_t* type, const std::string& name,
                      const dds_qos_t* qos) {
    const dds_entity_t t = dds_create_topic(participant_, type, name.c_str(), nullptr, nullptr);
    return t < 0 ? t : dds_create_reader(participant_, t, qos, nullptr);
  }
  dds_entity_t Writer(const dds_topic_descriptor_t* type, const std::string& name,
                      const dds_qos_t* qos) {
    const dds_entity_t t = dds_create_topic(participant_, type, name.c_str(), nullptr, nullptr);
    return t < 0 ? t : dds_create_writer(participant_, t, qos, nullptr);
  }
  template <typename F>
  void TakeAll(dds_entity_t reader, int timeout_ms, F&& on_sample) {
    const dds_entity_t ws = dds_create_waitset(participant_);
    const dds_entity_t cond = dds_create_readcondition(reader, DDS_ANY_STATE);
    dds_waitset_attach(ws, cond, 0);
    dds_waitset_wait(ws, nullptr, 0, DDS_MSECS(timeout_ms));
    for (;;) {
      void* samples[32] = {nullptr};
      dds_sample_info_t infos[32];
      const dds_return_t n = dds_take(reader, samples, infos, 32, 32);
      if (n <= 0) break;
      for (int i = 0; i < n; ++i) {
        if (infos[i].valid_data) on_sample(samples[i]);
      }
      dds_return_loan(reader, samples, n);
      if (n < 32) break;
    }
    dds_delete(cond);
    dds_delete(ws);
  }

  dds_entity_t participant_;
  dds_entity_t joints_ = 0, odom_ = 0, cmd_vel_ = 0, joint_cmd_ = 0;
};

}  // namespace torvane_bridge_test
