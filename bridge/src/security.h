// DDS Security for the bridge: a keystore laid out as ROS 2's SROS2 lays one out, checked here
// before the participant exists, then handed to Cyclone DDS's security plugins as participant
// QoS properties. Off unless asked for; once asked for, the bridge never runs open.
#pragma once

#include <dds/dds.h>

#include <functional>
#include <string>
#include <vector>

namespace torvane_bridge {

struct Options;

// Where the bridge's identity and permissions come from.
struct SecurityConfig {
  bool enabled = false;
  std::string keystore;     // the keystore's root (public/, private/, enclaves/)
  std::string enclave;      // "/torvane/robot_a/bridge"
  std::string enclave_dir;  // <keystore>/enclaves/torvane/robot_a/bridge
  std::string note;         // a line worth printing before starting (empty: none)
};

// An environment variable's value, or null when unset (tests pass their own).
using EnvLookup = std::function<const char*(const char*)>;

// The enclave the bridge uses when none is named: /torvane/<namespace>/bridge, or
// /torvane/bridge without a namespace.
std::string DefaultEnclave(const std::string& ros_namespace);

// True for an enclave path as ROS 2 writes one: '/' then tokens of letters, digits and '_'.
bool ValidEnclave(const std::string& enclave);

// Combines --security/--enclave with ROS_SECURITY_ENABLE, ROS_SECURITY_KEYSTORE,
// ROS_SECURITY_ENCLAVE_OVERRIDE and ROS_SECURITY_STRATEGY (the options win). Returns false with
// one line in `error` when they ask for security and cannot give it.
bool ResolveSecurity(const Options& options, const EnvLookup& env, SecurityConfig& out,
                     std::string& error);

// The six files of an enclave, their certificates' dates and chains, the key against its
// certificate, both signed documents against the permissions CA, and (strict) that the
// governance refuses unauthenticated participants, controls joining and encrypts every topic
// in `topics`. Returns false with one line naming the file and what is wrong.
bool CheckKeystore(const SecurityConfig& config, uint32_t domain,
                   const std::vector<std::string>& topics, std::string& error);

// Full paths of Cyclone DDS's authentication, access control and cryptography plugins, looked
// up beside the DDS library this process loaded. Returns false when one is missing.
bool FindSecurityPlugins(std::string& auth, std::string& access, std::string& crypto,
                         std::string& error);

// Adds the dds.sec.* properties of `config` to `qos` (a participant's QoS).
void SetSecurityProperties(const SecurityConfig& config, const std::string& auth,
                           const std::string& access, const std::string& crypto, dds_qos_t* qos);

// All of the above for the bridge: returns a participant QoS (caller deletes it) or null with
// security off; false with one line in `error` when security is asked for and not possible.
bool PrepareSecurity(const Options& options, const EnvLookup& env, dds_qos_t*& participant_qos,
                     SecurityConfig& config, std::string& error);

// A ROS 2 node's security from ROS 2's variables alone (no keystore check: tests and benchmarks
// also run participants with odd keystores): a participant QoS in `qos` (caller deletes it), or
// null with security off; `enclave` names the enclave used. False with one line in `error`.
bool NodeSecurityQos(const std::string& ros_namespace, const EnvLookup& env, dds_qos_t*& qos,
                     std::string& enclave, std::string& error);

// Holds Cyclone DDS's log messages while it lives instead of printing them: the security plugins
// say there why they refuse a participant, and the refusal is to be one line.
class DdsLogCapture {
 public:
  DdsLogCapture();
  ~DdsLogCapture();
  DdsLogCapture(const DdsLogCapture&) = delete;
  DdsLogCapture& operator=(const DdsLogCapture&) = delete;
  // The first message logged, without its line end ("" if none).
  const std::string& first() const { return first_; }

 private:
  static void Sink(void* self, const dds_log_data_t* data);
  std::string first_;
};

}  // namespace torvane_bridge
