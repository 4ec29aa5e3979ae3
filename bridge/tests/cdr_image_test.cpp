// The serialized form of every type the bridge publishes or takes, byte for byte, against
// images written out by hand from ROS 2's message definitions: the 4-byte encapsulation header
// (plain CDR, little-endian: 00 01 00 00), then each field in definition order, aligned to its
// own size from the start of the body (8 for float64), strings as a uint32 length counting the
// NUL, then the characters and the NUL, sequences as a uint32 count then the elements.
// Published samples are taken from the bridge's own writers on their rt/ topics, in a domain
// that sees nothing beyond this process.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "dds_link.h"
#include "dds_test_util.h"
#include "geometry_msgs.h"
#include "messages.h"
#include "nav_msgs.h"
#include "sensor_msgs.h"

using namespace torvane_bridge;
using namespace torvane_bridge_test;

namespace {

const timespec kStamp = {1700000000, 500000000};  // sec 0x6553F100, nanosec 0x1DCD6500

class CdrImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { domain_ = dds_create_domain(TestDomain(), ProcessOnlyConfig()); }
  static void TearDownTestSuite() { dds_delete(domain_); }
  void SetUp() override {
    ASSERT_GT(domain_, 0);
    participant_ = dds_create_participant(TestDomain(), nullptr, nullptr);
    ASSERT_GT(participant_, 0);
  }
  void TearDown() override { dds_delete(participant_); }

  // A reader with ROS 2's default subscription QoS: reliable, keep-last 10, volatile, no data
  // representation given.
  dds_entity_t RosReader(const dds_topic_descriptor_t* type, const char* topic_name,
                         dds_entity_t* topic_out = nullptr) {
    const dds_entity_t topic = dds_create_topic(participant_, type, topic_name, nullptr, nullptr);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
    const dds_entity_t reader = dds_create_reader(participant_, topic, qos, nullptr);
    dds_delete_qos(qos);
    if (topic_out != nullptr) *topic_out = topic;
    return reader;
  }

  // Delivers a hand-written image to the bridge's command reader through a writer of the same
  // topic, and returns what the bridge takes from it.
  template <typename T>
  bool DeliverImage(DdsLink& link, const dds_topic_descriptor_t* type, const char* topic_name,
                    const T& prime, const std::vector<uint8_t>& image, T& taken) {
    dds_entity_t topic = 0;
    const dds_entity_t probe = RosReader(type, topic_name, &topic);
    const dds_entity_t writer = dds_create_writer(participant_, topic, nullptr, nullptr);
    // One typed sample first: its serialized form tells which sertype to build the image with.
    if (dds_write(writer, &prime) != DDS_RETCODE_OK) return false;
    ddsi_serdata* typed = nullptr;
    dds_sample_info_t info;
    if (dds_takecdr(probe, &typed, 1, &info, DDS_ANY_STATE) != 1) return false;
    const ddsi_sertype* sertype = typed->type;
    int primes = link.TakeCommands(DDS_SECS(5), [](const void*) {});
    if (primes != 1) return false;
    ddsrt_iovec_t iov;
    iov.iov_base = const_cast<uint8_t*>(image.data());
    iov.iov_len = static_cast<ddsrt_iov_len_t>(image.size());
    ddsi_serdata* sd = ddsi_serdata_from_ser_iov(sertype, SDK_DATA, 1, &iov, image.size());
    ddsi_serdata_unref(typed);
    if (sd == nullptr || dds_writecdr(writer, sd) != DDS_RETCODE_OK) return false;
    bool got = false;
    link.TakeCommands(DDS_SECS(5), [&](const void* s) {
      taken = *static_cast<const T*>(s);  // shallow: only fixed-size fields are read after
      got = true;
    });
    return got;
  }

  static dds_entity_t domain_;
  dds_entity_t participant_ = 0;
};
dds_entity_t CdrImage::domain_ = 0;

void Encapsulation(std::vector<uint8_t>& v) {
  Bytes(v, {0x00, 0x01, 0x00, 0x00});  // encapsulation: plain CDR, little-endian; options 0
}

void Stamp(std::vector<uint8_t>& v) {
  Bytes(v, {0x00, 0xF1, 0x53, 0x65});  // 0  header.stamp.sec 1700000000
  Bytes(v, {0x00, 0x65, 0xCD, 0x1D});  // 4  header.stamp.nanosec 500000000
}

std::string Hex(const std::vector<uint8_t>& v) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < v.size(); ++i) {
    std::snprintf(b, sizeof b, "%02x%c", v[i], (i % 16 == 15) ? '\n' : ' ');
    s += b;
  }
  return s;
}

}  // namespace

TEST_F(CdrImage, JointStatesAsPublished) {
  DdsLink link;
  std::string error;
  ASSERT_TRUE(link.Open(TestDomain(), "r1", false, error)) << error;
  const dds_entity_t reader =
      RosReader(&sensor_msgs_msg_dds__JointState__desc, "rt/r1/joint_states");
  std::array<TORVANE::MotorState, 20> motors{};
  for (int s = 0; s < 20; ++s) {
    motors[s].q = 0.25f * s;  // slot 12..19 must not appear
    motors[s].dq = -0.5f * s;
    motors[s].tauEst = 1.0f + s;
  }
  JointStateMessage msg;
  msg.Fill(motors, kStamp);
  ASSERT_TRUE(link.Write(Stream::kJointStates, &msg.msg()));

  std::vector<uint8_t> want;
  Encapsulation(want);
  Stamp(want);
  Bytes(want, {0x01, 0x00, 0x00, 0x00});  // 8   header.frame_id length 1: ""
  Bytes(want, {0x00, 0x00, 0x00, 0x00});  // 12  its NUL, 3 bytes to align the count
  Bytes(want, {0x0C, 0x00, 0x00, 0x00});  // 16  name: 12 strings
  Bytes(want, {0x0D, 0x00, 0x00, 0x00});  // 20  "FR_hip_joint", 13 with the NUL
  Text(want, "FR_hip_joint");             // 24..36
  Bytes(want, {0, 0, 0});                 // 37  align
  U32(want, 15);                          // 40
  Text(want, "FR_thigh_joint");           // 44..58
  Bytes(want, {0});                       // 59
  U32(want, 14);                          // 60
  Text(want, "FR_calf_joint");            // 64..77
  Bytes(want, {0, 0});                    // 78
  U32(want, 13);                          // 80
  Text(want, "FL_hip_joint");             // 84..96
  Bytes(want, {0, 0, 0});                 // 97
  U32(want, 15);                          // 100
  Text(want, "FL_thigh_joint");           // 104..118
  Bytes(want, {0});                       // 119
  U32(want, 14);                          // 120
  Text(want, "FL_calf_joint");            // 124..137
  Bytes(want, {0, 0});                    // 138
  U32(want, 13);                          // 140
  Text(want, "RR_hip_joint");             // 144..156
  Bytes(want, {0, 0, 0});                 // 157
  U32(want, 15);                          // 160
  Text(want, "RR_thigh_joint");           // 164..178
  Bytes(want, {0});                       // 179
  U32(want, 14);                          // 180
  Text(want, "RR_calf_joint");            // 184..197
  Bytes(want, {0, 0});                    // 198
  U32(want, 13);                          // 200
  Text(want, "RL_hip_joint");             // 204..216
  Bytes(want, {0, 0, 0});                 // 217
  U32(want, 15);                          // 220
  Text(want, "RL_thigh_joint");           // 224..238
  Bytes(want, {0});                       // 239
  U32(want, 14);                          // 240
  Text(want, "RL_calf_joint");            // 244..257
  Bytes(want, {0, 0});                    // 258 align the count
  Bytes(want, {0x0C, 0x00, 0x00, 0x00});  // 260 position: 12 doubles, already 8-aligned at 264
  Bytes(want, {0, 0, 0, 0, 0, 0, 0, 0});  // 264 position[0] 0.0
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xD0, 0x3F});       // 272 position[1] 0.25
  for (int s = 2; s < 12; ++s) F64(want, 0.25 * s);  // 280..359
  U32(want, 12);                                     // 360 velocity: 12 doubles
  Bytes(want, {0, 0, 0, 0});                         // 364 align to 8
  for (int s = 0; s < 12; ++s) F64(want, -0.5 * s);  // 368..463
  U32(want, 12);                                     // 464 effort: 12 doubles
  Bytes(want, {0, 0, 0, 0});                         // 468 align to 8
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});       // 472 effort[0] 1.0
  for (int s = 1; s < 12; ++s) F64(want, 1.0 + s);   // 480..567
  ASSERT_EQ(want.size(), 4u + 568u);

  const std::vector<uint8_t> got = TakeSerialized(reader);
  EXPECT_EQ(got, want) << "got\n" << Hex(got) << "\nwant\n" << Hex(want);
}

TEST_F(CdrImage, ImuAsPublished) {
  DdsLink link;
  std::string error;
  ASSERT_TRUE(link.Open(TestDomain(), "r1", false, error)) << error;
  const dds_entity_t reader = RosReader(&sensor_msgs_msg_dds__Imu__desc, "rt/r1/imu");
  TORVANE::IMU imu{};
  imu.quaternion = {0.5f, -0.5f, 0.25f, 1.0f};  // w, x, y, z as the robot sends it
  imu.gyroscope = {0.125f, -2.0f, 4.0f};
  imu.accelerometer = {0.0f, 0.5f, 9.75f};
  imu.rpy = {7.0f, 7.0f, 7.0f};  // not published: ROS carries the orientation as a quaternion
  ImuMessage msg("r1/");
  msg.Fill(imu, kStamp);
  ASSERT_TRUE(link.Write(Stream::kImu, &msg.msg()));

  std::vector<uint8_t> want;
  Encapsulation(want);
  Stamp(want);
  Bytes(want, {0x0C, 0x00, 0x00, 0x00});           // 8   header.frame_id length 12
  Text(want, "r1/imu_link");                       // 12..23
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xE0, 0xBF});     // 24  orientation.x -0.5 (the robot's [1])
  F64(want, 0.25);                                 // 32  orientation.y
  F64(want, 1.0);                                  // 40  orientation.z
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xE0, 0x3F});     // 48  orientation.w 0.5 (the robot's [0])
  for (int i = 0; i < 9; ++i) F64(want, 0.0);      // 56  orientation_covariance: unknown
  F64(want, 0.125);                                // 128 angular_velocity.x
  F64(want, -2.0);                                 // 136 .y
  F64(want, 4.0);                                  // 144 .z
  for (int i = 0; i < 9; ++i) F64(want, 0.0);      // 152 angular_velocity_covariance
  F64(want, 0.0);                                  // 224 linear_acceleration.x
  F64(want, 0.5);                                  // 232 .y
  Bytes(want, {0, 0, 0, 0, 0, 0x80, 0x23, 0x40});  // 240 .z 9.75
  for (int i = 0; i < 9; ++i) F64(want, 0.0);      // 248 linear_acceleration_covariance
  ASSERT_EQ(want.size(), 4u + 320u);

  const std::vector<uint8_t> got = TakeSerialized(reader);
  EXPECT_EQ(got, want) << "got\n" << Hex(got) << "\nwant\n" << Hex(want);
}

TEST_F(CdrImage, OdometryAsPublished) {
  DdsLink link;
  std::string error;
  ASSERT_TRUE(link.Open(TestDomain(), "r1", true, error)) << error;
  const dds_entity_t reader = RosReader(&nav_msgs_msg_dds__Odometry__desc, "rt/r1/odom");
  TORVANE::HighState state{};
  state.position = {1.5f, -2.0f, 0.25f};
  state.velocity = {0.5f, 0.125f, 0.0f};
  state.yawSpeed = -0.75f;
  state.imu.quaternion = {1.0f, 0.0f, 0.0f, 0.0f};
  state.imu.gyroscope = {0.25f, 0.5f, 99.0f};  // z comes from yawSpeed
  OdometryMessage msg("r1/");
  msg.Fill(state, kStamp);
  ASSERT_TRUE(link.Write(Stream::kOdom, &msg.msg()));

  std::vector<uint8_t> want;
  Encapsulation(want);
  Stamp(want);
  Bytes(want, {0x08, 0x00, 0x00, 0x00});        // 8   header.frame_id length 8
  Text(want, "r1/odom");                        // 12..19
  Bytes(want, {0x0D, 0x00, 0x00, 0x00});        // 20  child_frame_id length 13
  Text(want, "r1/base_link");                   // 24..36
  Bytes(want, {0, 0, 0});                       // 37  align to 8
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F});  // 40  pose.pose.position.x 1.5
  F64(want, -2.0);                              // 48  .y
  F64(want, 0.25);                              // 56  .z
  F64(want, 0.0);                               // 64  pose.pose.orientation.x
  F64(want, 0.0);                               // 72  .y
  F64(want, 0.0);                               // 80  .z
  F64(want, 1.0);                               // 88  .w
  for (int i = 0; i < 36; ++i) F64(want, 0.0);  // 96  pose.covariance
  F64(want, 0.5);                               // 384 twist.twist.linear.x
  F64(want, 0.125);                             // 392 .y
  F64(want, 0.0);                               // 400 .z
  F64(want, 0.25);                              // 408 twist.twist.angular.x (gyroscope)
  F64(want, 0.5);                               // 416 .y
  Bytes(want, {0, 0, 0, 0, 0, 0, 0xE8, 0xBF});  // 424 .z -0.75 (yawSpeed)
  for (int i = 0; i < 36; ++i) F64(want, 0.0);  // 432 twist.covariance
  ASSERT_EQ(want.size(), 4u + 720u);

  const std::vector<uint8_t> got = TakeSerialized(reader);
  EXPECT_EQ(got, want) << "got\n" << Hex(got) << "\nwant\n" << Hex(want);
}

// cmd_vel: the image a ROS 2 publisher sends, and the bridge's reading of it.
TEST_F(CdrImage, TwistBothWays) {
  std::vector<uint8_t> image;
  Encapsulation(image);
  Bytes(image, {0, 0, 0, 0, 0, 0, 0xE0, 0x3F});  // 0  linear.x 0.5
  Bytes(image, {0, 0, 0, 0, 0, 0, 0xD0, 0xBF});  // 8  linear.y -0.25
  Bytes(image, {0, 0, 0, 0, 0, 0, 0x00, 0x00});  // 16 linear.z 0
  Bytes(image, {0, 0, 0, 0, 0, 0, 0x00, 0x00});  // 24 angular.x 0
  Bytes(image, {0, 0, 0, 0, 0, 0, 0x00, 0x00});  // 32 angular.y 0
  Bytes(image, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});  // 40 angular.z 1.0
  ASSERT_EQ(image.size(), 4u + 48u);

  // Encoding: a Twist written with the bridge's QoS serializes to the image.
  const dds_entity_t topic = dds_create_topic(participant_, &geometry_msgs_msg_dds__Twist__desc,
                                              "rt/r9/twist_probe", nullptr, nullptr);
  dds_qos_t* wq = CreateWriterQos();
  const dds_entity_t writer = dds_create_writer(participant_, topic, wq, nullptr);
  dds_delete_qos(wq);
  const dds_entity_t reader = dds_create_reader(participant_, topic, nullptr, nullptr);
  geometry_msgs_msg_dds__Twist_ twist{};
  twist.linear = {0.5, -0.25, 0.0};
  twist.angular = {0.0, 0.0, 1.0};
  ASSERT_EQ(dds_write(writer, &twist), DDS_RETCODE_OK);
  const std::vector<uint8_t> got = TakeSerialized(reader);
  EXPECT_EQ(got, image) << "got\n" << Hex(got);

  // Decoding: the bridge's cmd_vel reader takes the image as that Twist.
  DdsLink link;
  std::string error;
  ASSERT_TRUE(link.Open(TestDomain(), "r1", true, error)) << error;
  geometry_msgs_msg_dds__Twist_ prime{}, taken{};
  ASSERT_TRUE(DeliverImage(link, &geometry_msgs_msg_dds__Twist__desc, "rt/r1/cmd_vel", prime, image,
                           taken));
  EXPECT_EQ(taken.linear.x, 0.5);
  EXPECT_EQ(taken.linear.y, -0.25);
  EXPECT_EQ(taken.angular.z, 1.0);
}

// joint_commands without names: the twelve positions in slot order.
TEST_F(CdrImage, JointCommandsDecoded) {
  std::vector<uint8_t> image;
  Encapsulation(image);
  Stamp(image);
  Bytes(image, {0x01, 0x00, 0x00, 0x00});              // 8   header.frame_id length 1: ""
  Bytes(image, {0x00, 0x00, 0x00, 0x00});              // 12  its NUL and 3 bytes to align
  Bytes(image, {0x00, 0x00, 0x00, 0x00});              // 16  name: none
  Bytes(image, {0x0C, 0x00, 0x00, 0x00});              // 20  position: 12 doubles, 8-aligned at 24
  Bytes(image, {0, 0, 0, 0, 0, 0, 0xD0, 0xBF});        // 24 position[0] -0.25
  for (int s = 1; s < 12; ++s) F64(image, 0.125 * s);  // 32..119
  Bytes(image, {0x00, 0x00, 0x00, 0x00});              // 120 velocity: none
  Bytes(image, {0x00, 0x00, 0x00, 0x00});              // 124 effort: none
  ASSERT_EQ(image.size(), 4u + 128u);

  DdsLink link;
  std::string error;
  ASSERT_TRUE(link.Open(TestDomain(), "r1", false, error)) << error;
  sensor_msgs_msg_dds__JointState_ prime{};
  char empty[1] = {0};
  prime.header.frame_id = empty;
  bool got = false;
  std::array<double, 12> position{};
  // The sample's sequences belong to the reader's loan: read them inside the callback.
  dds_entity_t topic = 0;
  const dds_entity_t probe =
      RosReader(&sensor_msgs_msg_dds__JointState__desc, "rt/r1/joint_commands", &topic);
  const dds_entity_t writer = dds_create_writer(participant_, topic, nullptr, nullptr);
  ASSERT_EQ(dds_write(writer, &prime), DDS_RETCODE_OK);
  ddsi_serdata* typed = nullptr;
  dds_sample_info_t info;
  ASSERT_EQ(dds_takecdr(probe, &typed, 1, &info, DDS_ANY_STATE), 1);
  ASSERT_EQ(link.TakeCommands(DDS_SECS(5), [](const void*) {}), 1);
  ddsrt_iovec_t iov;
  iov.iov_base = image.data();
  iov.iov_len = static_cast<ddsrt_iov_len_t>(image.size());
  ddsi_serdata* sd = ddsi_serdata_from_ser_iov(typed->type, SDK_DATA, 1, &iov, image.size());
  ASSERT_NE(sd, nullptr);
  ASSERT_EQ(dds_writecdr(writer, sd), DDS_RETCODE_OK);
  link.TakeCommands(DDS_SECS(5), [&](const void* s) {
    const auto* js = static_cast<const sensor_msgs_msg_dds__JointState_*>(s);
    got = js->name._length == 0 && js->position._length == 12 && js->velocity._length == 0 &&
          js->effort._length == 0 && js->header.stamp.sec == 1700000000 &&
          js->header.stamp.nanosec == 500000000u;
    for (uint32_t i = 0; got && i < 12; ++i) position[i] = js->position._buffer[i];
  });
  EXPECT_TRUE(got);
  EXPECT_EQ(position[0], -0.25);
  EXPECT_EQ(position[11], 0.125 * 11);

  // Hostile images never reach the bridge: Cyclone refuses them when they are built.
  std::vector<uint8_t> short_image(image.begin(), image.end() - 12);  // cut inside position
  iov.iov_base = short_image.data();
  iov.iov_len = static_cast<ddsrt_iov_len_t>(short_image.size());
  EXPECT_EQ(ddsi_serdata_from_ser_iov(typed->type, SDK_DATA, 1, &iov, short_image.size()), nullptr);
  std::vector<uint8_t> long_count = image;
  long_count[4 + 20] = 0xFF;  // position claims 255 doubles
  iov.iov_base = long_count.data();
  iov.iov_len = static_cast<ddsrt_iov_len_t>(long_count.size());
  EXPECT_EQ(ddsi_serdata_from_ser_iov(typed->type, SDK_DATA, 1, &iov, long_count.size()), nullptr);
  ddsi_serdata_unref(typed);
}
