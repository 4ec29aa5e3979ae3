#include "dds_link.h"

#include "geometry_msgs.h"
#include "nav_msgs.h"
#include "ros_names.h"
#include "sensor_msgs.h"

namespace torvane_bridge {
namespace {

const dds_data_representation_id_t kXcdr1[] = {DDS_DATA_REPRESENTATION_XCDR1};

}  // namespace

dds_qos_t* CreateWriterQos() {
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, 0);
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 1);
  dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  dds_qset_data_representation(qos, 1, kXcdr1);
  return qos;
}

dds_qos_t* CreateReaderQos() {
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
  // Deep enough that every sample between two takes is looked at (and a bad one counted).
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 16);
  dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  dds_qset_data_representation(qos, 1, kXcdr1);
  return qos;
}

DdsLink::~DdsLink() {
  if (participant_ > 0) dds_delete(participant_);  // deletes everything it owns
}

bool DdsLink::Open(uint32_t domain, const std::string& ros_namespace, bool high_level,
                   std::string& error, const dds_qos_t* participant_qos) {
  participant_ =
      dds_create_participant(static_cast<dds_domainid_t>(domain), participant_qos, nullptr);
  if (participant_ < 0) {
    error = std::string("cannot join DDS domain ") + std::to_string(domain) +
            (participant_qos != nullptr ? " with the security keystore: " : ": ") +
            dds_strretcode(participant_);
    return false;
  }
  struct Out {
    Stream stream;
    const char* name;
    const dds_topic_descriptor_t* type;
  };
  const Out outs[] = {
      {Stream::kJointStates, "joint_states", &sensor_msgs_msg_dds__JointState__desc},
      {Stream::kImu, "imu", &sensor_msgs_msg_dds__Imu__desc},
      {Stream::kOdom, "odom", &nav_msgs_msg_dds__Odometry__desc},
  };
  dds_qos_t* wqos = CreateWriterQos();
  for (const Out& o : outs) {
    if (o.stream == Stream::kOdom && !high_level) continue;
    const std::string topic_name = TopicName(ros_namespace, o.name);
    const dds_entity_t topic =
        dds_create_topic(participant_, o.type, topic_name.c_str(), nullptr, nullptr);
    const dds_entity_t writer =
        topic < 0 ? topic : dds_create_writer(participant_, topic, wqos, nullptr);
    if (writer < 0) {
      dds_delete_qos(wqos);
      error = "cannot create the writer of " + topic_name + ": " + dds_strretcode(writer);
      return false;
    }
    writers_[static_cast<int>(o.stream)] = writer;
  }
  dds_delete_qos(wqos);

  const std::string in_name = TopicName(ros_namespace, high_level ? "cmd_vel" : "joint_commands");
  const dds_topic_descriptor_t* in_type =
      high_level ? &geometry_msgs_msg_dds__Twist__desc : &sensor_msgs_msg_dds__JointState__desc;
  const dds_entity_t topic =
      dds_create_topic(participant_, in_type, in_name.c_str(), nullptr, nullptr);
  dds_qos_t* rqos = CreateReaderQos();
  reader_ = topic < 0 ? topic : dds_create_reader(participant_, topic, rqos, nullptr);
  dds_delete_qos(rqos);
  if (reader_ < 0) {
    error = "cannot create the reader of " + in_name + ": " + dds_strretcode(reader_);
    return false;
  }
  waitset_ = dds_create_waitset(participant_);
  const dds_entity_t cond = dds_create_readcondition(reader_, DDS_ANY_STATE);
  if (waitset_ < 0 || cond < 0 || dds_waitset_attach(waitset_, cond, 0) < 0) {
    error = "cannot create the waitset of " + in_name;
    return false;
  }
  return true;
}

bool DdsLink::Write(Stream stream, const void* sample) {
  const dds_entity_t w = writers_[static_cast<int>(stream)];
  return w > 0 && dds_write(w, sample) == DDS_RETCODE_OK;
}

int DdsLink::TakeCommands(dds_duration_t timeout,
                          const std::function<void(const void*)>& on_sample) {
  const dds_return_t woke = dds_waitset_wait(waitset_, nullptr, 0, timeout);
  if (woke < 0) return woke;
  int handed = 0;
  for (;;) {
    void* samples[16] = {nullptr};
    dds_sample_info_t infos[16];
    const dds_return_t n = dds_take(reader_, samples, infos, 16, 16);
    if (n <= 0) {
      if (n < 0) return n;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!infos[i].valid_data) continue;
      on_sample(samples[i]);
      ++handed;
    }
    dds_return_loan(reader_, samples, n);
    if (n < 16) break;
  }
  return handed;
}

int DdsLink::Matched(Stream stream) const {
  const dds_entity_t w = writers_[static_cast<int>(stream)];
  dds_publication_matched_status_t st{};
  if (w <= 0 || dds_get_publication_matched_status(w, &st) < 0) return 0;
  return static_cast<int>(st.current_count);
}

}  // namespace torvane_bridge
