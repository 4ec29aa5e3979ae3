// ROS 2's naming on DDS: a topic /NS/NAME travels as "rt/NS/NAME", a message type
// pkg/msg/Name as "pkg::msg::dds_::Name_" (the generated descriptors carry those type names).
#pragma once

#include <array>
#include <string>

namespace torvane_bridge {

// The twelve leg joints in motor-slot order (slot = 3 * leg + joint): FR, FL, RR, RL legs;
// hip, thigh, calf joints. "FR_hip_joint" is slot 0, "RL_calf_joint" slot 11.
extern const std::array<const char*, 12> kJointNames;

// Slot 0..11 of a joint name, or -1 for a name that is not one of kJointNames.
int JointSlot(const char* name);

// Checks a namespace against ROS 2's rules (tokens of letters, digits and '_', none starting
// with a digit, separated by single '/') and writes it without leading '/' ("" and "/" give "").
// Returns false, leaving `out` alone, for anything else.
bool NormaliseNamespace(const std::string& text, std::string& out);

// "rt/" + namespace + "/" + name, or "rt/" + name in the root namespace.
std::string TopicName(const std::string& ros_namespace, const char* name);

// Prefix of the frame ids of a namespaced robot: "NS/" (or "" in the root namespace), so that
// several robots' odom and base_link frames stay apart.
std::string FramePrefix(const std::string& ros_namespace);

}  // namespace torvane_bridge
