#include "ros_names.h"

#include <cstring>

namespace torvane_bridge {

const std::array<const char*, 12> kJointNames = {"FR_hip_joint", "FR_thigh_joint", "FR_calf_joint",
                                                 "FL_hip_joint", "FL_thigh_joint", "FL_calf_joint",
                                                 "RR_hip_joint", "RR_thigh_joint", "RR_calf_joint",
                                                 "RL_hip_joint", "RL_thigh_joint", "RL_calf_joint"};

int JointSlot(const char* name) {
  if (name == nullptr) return -1;
  for (int s = 0; s < 12; ++s) {
    if (std::strcmp(name, kJointNames[s]) == 0) return s;
  }
  return -1;
}

bool NormaliseNamespace(const std::string& text, std::string& out) {
  std::string ns = text;
  if (!ns.empty() && ns[0] == '/') ns.erase(0, 1);
  // A topic name of ROS 2 stays well under DDS's 256 characters with this.
  if (ns.size() > 200) return false;
  if (!ns.empty()) {
    bool token_start = true;
    for (char c : ns) {
      const bool digit = c >= '0' && c <= '9';
      const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || digit || c == '_';
      if (c == '/') {
        if (token_start) return false;  // "//" or a leading "//"
        token_start = true;
        continue;
      }
      if (!word || (token_start && digit)) return false;
      token_start = false;
    }
    if (token_start) return false;  // ends with '/'
  }
  out = ns;
  return true;
}

std::string TopicName(const std::string& ros_namespace, const char* name) {
  return ros_namespace.empty() ? std::string("rt/") + name : "rt/" + ros_namespace + "/" + name;
}

std::string FramePrefix(const std::string& ros_namespace) {
  return ros_namespace.empty() ? std::string() : ros_namespace + "/";
}

}  // namespace torvane_bridge
