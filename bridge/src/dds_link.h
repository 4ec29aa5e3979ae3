// The bridge's DDS side: one participant in the ROS 2 domain, the level's topics under
// rt/<namespace>/, writers for the robot's state and a reader for its commands.
//
// QoS: writers reliable, keep-last 1, volatile, so that ROS 2's default (reliable) readers and
// its sensor-data (best-effort) readers both match; readers best-effort, keep-last 16, which
// match reliable and best-effort publishers alike. Both use plain CDR (XCDR1), ROS 2's
// encoding. A writer never waits for a slow reader: keep-last drops what is not yet delivered.
#pragma once

#include <dds/dds.h>

#include <functional>
#include <string>

namespace torvane_bridge {

enum class Stream { kJointStates, kImu, kOdom };

// The QoS of the bridge's writers and readers (callers delete them with dds_delete_qos).
dds_qos_t* CreateWriterQos();
dds_qos_t* CreateReaderQos();

class DdsLink {
 public:
  DdsLink() = default;
  ~DdsLink();
  DdsLink(const DdsLink&) = delete;
  DdsLink& operator=(const DdsLink&) = delete;

  // Joins `domain` and creates joint_states and imu, plus odom and cmd_vel at the high level or
  // joint_commands at the low level. `participant_qos` (may be null) carries the security
  // properties. Returns false with a one-line reason in `error`.
  bool Open(uint32_t domain, const std::string& ros_namespace, bool high_level, std::string& error,
            const dds_qos_t* participant_qos = nullptr);

  // Publishes a sample of the stream's type. Returns false if DDS refused it.
  bool Write(Stream stream, const void* sample);

  // Waits up to `timeout` for command samples, then takes every one that arrived and hands
  // each valid one, oldest first, to `on_sample` (a cmd_vel Twist or a joint_commands
  // JointState). Returns the number handed over, or a negative DDS return code.
  int TakeCommands(dds_duration_t timeout, const std::function<void(const void*)>& on_sample);

  // Number of DDS readers matched with the stream's writer (for tests and start-up lines).
  int Matched(Stream stream) const;

 private:
  dds_entity_t participant_ = 0;
  dds_entity_t writers_[3] = {0, 0, 0};
  dds_entity_t reader_ = 0;
  dds_entity_t waitset_ = 0;
};

}  // namespace torvane_bridge
