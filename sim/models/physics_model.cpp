#include "models/physics_model.h"

#include "models/battery.h"
#include "models/joint_ranges.h"
#include "models/physics_engine.h"

#include <mujoco/mujoco.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace torvane_sim {
namespace {

constexpr const char* kLegs[] = {"FR", "FL", "RR", "RL"};
constexpr const char* kJoints[] = {"hip", "thigh", "calf"};
constexpr double kMaxStep = 0.001;  // [s]
constexpr double kSettle = 0.5;     // [s] of physics before the first state, to lie still

// MuJoCo's own handlers write a log file into the working directory; the emulator prints one
// line on standard error instead, and an error (out of memory in the engine) ends the process.
void OnWarning(const char* msg) {
  std::fprintf(stderr, "torvane-sim: physics: %s\n", msg);
}
void OnError(const char* msg) {
  std::fprintf(stderr, "torvane-sim: physics error: %s\n", msg);
  std::exit(1);
}

using Point = std::array<double, 3>;

Point At(const mjtNum* p) {
  return {p[0], p[1], p[2]};
}

// `p`, a point in the frame of `body`, in the frame of `ancestor`; false if `ancestor` is not
// one of the bodies `body` hangs from.
bool PointIn(const mjModel* m, int body, Point p, int ancestor, Point& out) {
  while (body != ancestor) {
    if (body <= 0) return false;  // reached the world
    mjtNum turned[3];
    mju_rotVecQuat(turned, p.data(), m->body_quat + 4 * body);
    for (int k = 0; k < 3; ++k) p[k] = m->body_pos[3 * body + k] + turned[k];
    body = m->body_parentid[body];
  }
  out = p;
  return true;
}

double Distance(const Point& a, const Point& b) {
  const double x = b[0] - a[0], y = b[1] - a[1], z = b[2] - a[2];
  return std::sqrt(x * x + y * y + z * z);
}

// The model at `path`, its text first rewritten for the terrain where that needs it.
mjModel* LoadModel(const std::string& path, const Terrain& terrain, char* message, int size,
                   std::string& error) {
  if (terrain.kind != TerrainKind::kSteps && terrain.kind != TerrainKind::kRough) {
    return mj_loadXML(path.c_str(), nullptr, message, size);
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string xml = text.str();
  if (!in) {
    error = "cannot read physics model " + path;
    return nullptr;
  }
  if (!WriteTerrain(xml, terrain, error)) return nullptr;
  // Loaded from memory, under the file's own name.
  std::unique_ptr<mjVFS> vfs(new mjVFS);
  mj_defaultVFS(vfs.get());
  const std::string name = path.substr(path.find_last_of('/') + 1);
  mjModel* m = nullptr;
  if (mj_makeEmptyFileVFS(vfs.get(), name.c_str(), static_cast<int>(xml.size())) == 0) {
    const int file = mj_findFileVFS(vfs.get(), name.c_str());
    std::memcpy(vfs->filedata[file], xml.data(), xml.size());
    m = mj_loadXML(name.c_str(), vfs.get(), message, size);
  }
  mj_deleteVFS(vfs.get());
  return m;
}

}  // namespace

std::unique_ptr<LowLevelModel> LoadPhysicsLowLevel(const std::string& path,
                                                   TORVANE::LeggedType type, double period,
                                                   std::string& error,
                                                   const PhysicsConditions& conditions) {
  return PhysicsModel::Load(path, type, period, error, conditions);
}

std::unique_ptr<PhysicsModel> PhysicsModel::Load(const std::string& path, TORVANE::LeggedType type,
                                                 double period, std::string& error,
                                                 const PhysicsConditions& conditions) {
  mju_user_warning = OnWarning;
  mju_user_error = OnError;
  std::unique_ptr<PhysicsModel> model(new PhysicsModel(conditions));
  char message[512] = {0};
  model->m_ = LoadModel(path, conditions.terrain, message, sizeof message, error);
  if (model->m_ == nullptr && !error.empty()) return nullptr;
  if (model->m_ == nullptr) {
    // The parser's account spans lines; the emulator's messages are one line each.
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& ch : text) {
      if (ch == '\n') ch = ' ';
    }
    error = "cannot load physics model " + path + ": " + text;
    return nullptr;
  }
  model->d_ = mj_makeData(model->m_);
  if (model->d_ == nullptr || !model->Bind(type, period, error) || !model->Measure(error)) {
    return nullptr;
  }
  ShapeTerrain(model->m_, conditions.terrain, conditions.seed);
  ChangeModel(model->m_, model->trunk_, model->dof_, conditions);
  mj_setConst(model->m_, model->d_);
  model->LieDown();
  return model;
}

PhysicsModel::~PhysicsModel() {
  if (d_ != nullptr) mj_deleteData(d_);
  if (m_ != nullptr) mj_deleteModel(m_);
}

bool PhysicsModel::Bind(TORVANE::LeggedType type, double period, std::string& error) {
  auto id = [&](int kind, const std::string& name) {
    const int i = mj_name2id(m_, kind, name.c_str());
    if (i < 0 && error.empty()) error = "physics model lacks " + name;
    return i;
  };
  const std::array<JointRange, 12> ranges = LegJointRanges(type);
  for (int leg = 0; leg < 4; ++leg) {
    for (int j = 0; j < 3; ++j) {
      const int slot = 3 * leg + j;
      const std::string name = std::string(kLegs[leg]) + "_" + kJoints[j];
      const int joint = id(mjOBJ_JOINT, name);
      actuator_[slot] = id(mjOBJ_ACTUATOR, name);
      if (joint < 0 || actuator_[slot] < 0) return false;
      joint_[slot] = joint;
      qpos_[slot] = m_->jnt_qposadr[joint];
      dof_[slot] = m_->jnt_dofadr[joint];
      // The hard stops are the ranges of the model played.
      const double lower = ranges[slot].lower, upper = ranges[slot].upper;
      m_->jnt_limited[joint] = 1;
      m_->jnt_range[2 * joint] = lower;
      m_->jnt_range[2 * joint + 1] = upper;
      temperature_[slot] = 30.0;
    }
    foot_site_[leg] = id(mjOBJ_SITE, std::string(kLegs[leg]) + "_foot");
    const int touch = id(mjOBJ_SENSOR, std::string(kLegs[leg]) + "_touch");
    if (foot_site_[leg] < 0 || touch < 0) return false;
    touch_adr_[leg] = m_->sensor_adr[touch];
  }
  const int quat = id(mjOBJ_SENSOR, "imu_quat"), gyro = id(mjOBJ_SENSOR, "imu_gyro"),
            acc = id(mjOBJ_SENSOR, "imu_acc");
  trunk_ = id(mjOBJ_BODY, "trunk");
  if (quat < 0 || gyro < 0 || acc < 0 || trunk_ < 0) return false;
  if (m_->nq < 19 || m_->jnt_type[0] != mjJNT_FREE) {
    error = "physics model: the trunk needs a free joint first";
    return false;
  }
  quat_adr_ = m_->sensor_adr[quat];
  gyro_adr_ = m_->sensor_adr[gyro];
  acc_adr_ = m_->sensor_adr[acc];
  substeps_ = std::max(1, static_cast<int>(std::ceil(period / kMaxStep - 1e-9)));
  m_->opt.timestep = period / substeps_;
  return true;
}

bool PhysicsModel::Measure(std::string& error) {
  for (int leg = 0; leg < 4; ++leg) {
    const int hip = joint_[3 * leg], thigh = joint_[3 * leg + 1], calf = joint_[3 * leg + 2];
    const int foot_body = m_->site_bodyid[foot_site_[leg]];
    LegGeometry& g = geometry_.legs[leg];
    // The knee in the thigh's frame, the foot in the calf's.
    Point knee, foot;
    if (!PointIn(m_, m_->jnt_bodyid[hip], At(m_->jnt_pos + 3 * hip), trunk_, g.hip) ||
        !PointIn(m_, m_->jnt_bodyid[calf], At(m_->jnt_pos + 3 * calf), m_->jnt_bodyid[thigh],
                 knee) ||
        !PointIn(m_, foot_body, At(m_->site_pos + 3 * foot_site_[leg]), m_->jnt_bodyid[calf],
                 foot)) {
      error = std::string("physics model: the ") + kLegs[leg] +
              " leg's hip, thigh, calf and foot do not hang from the trunk in turn";
      return false;
    }
    if (m_->body_geomnum[foot_body] == 0) {
      error = std::string("physics model: ") + kLegs[leg] + "_foot is on a body without a geom";
      return false;
    }
    g.thigh = Distance(At(m_->jnt_pos + 3 * thigh), knee);
    g.calf = Distance(At(m_->jnt_pos + 3 * calf), foot);
    // The foot touches the floor with the last geom of its body.
    const int foot_geom = m_->body_geomadr[foot_body] + m_->body_geomnum[foot_body] - 1;
    g.foot_radius = m_->geom_size[3 * foot_geom];
  }
  const int height = mj_name2id(m_, mjOBJ_NUMERIC, "standing_height");
  geometry_.standing_height = height >= 0 && m_->numeric_size[height] == 1
                                  ? m_->numeric_data[m_->numeric_adr[height]]
                                  : NAN;
  return true;
}

void PhysicsModel::LieDown() {
  mj_resetData(m_, d_);
  // The trunk's belly on the floor, hips straight, each thigh sloping down from the hip to a
  // knee on the floor and each calf folded forward flat on the floor: gravity presses every
  // part of the leg into the floor, so the robot lies still for as long as it is left alone.
  double belly = 0.06;
  const int trunk_geom = m_->body_geomadr[trunk_];
  if (trunk_geom >= 0 && m_->geom_type[trunk_geom] == mjGEOM_BOX) {
    belly = m_->geom_size[3 * trunk_geom + 2];
  }
  d_->qpos[2] = belly;
  for (int leg = 0; leg < 4; ++leg) {
    const int thigh = 3 * leg + 1, calf = 3 * leg + 2;
    const int knee_body = m_->jnt_bodyid[m_->dof_jntid[dof_[calf]]];
    const double radius = geometry_.legs[leg].foot_radius;
    d_->qpos[qpos_[3 * leg]] = 0.0;
    // Bisection over the thigh: the knee rises as the thigh turns back towards level.
    double lo = 0.0, hi = 0.5 * M_PI;
    for (int k = 0; k < 40; ++k) {
      const double mid = 0.5 * (lo + hi);
      d_->qpos[qpos_[thigh]] = mid;
      mj_kinematics(m_, d_);
      (d_->xpos[3 * knee_body + 2] < radius ? lo : hi) = mid;
    }
    d_->qpos[qpos_[thigh]] = hi;
    // A calf whose stop comes before flat rests near its stop instead, its foot on the floor.
    const int calf_joint = m_->dof_jntid[dof_[calf]];
    d_->qpos[qpos_[calf]] = std::max(-0.5 * M_PI - hi, m_->jnt_range[2 * calf_joint] + 0.1);
  }
  // Where a foot reaches below the floor, the trunk rests higher, on its feet.
  mj_kinematics(m_, d_);
  double lift = 0;
  for (int leg = 0; leg < 4; ++leg) {
    lift = std::max(lift, geometry_.legs[leg].foot_radius - d_->site_xpos[3 * foot_site_[leg] + 2]);
  }
  d_->qpos[2] += lift + 0.001 + StartLift(conditions_.terrain);
  for (MotorTarget& t : targets_) t = MotorTarget{};
  const int settle = static_cast<int>(kSettle / m_->opt.timestep);
  for (int k = 0; k < settle; ++k) mj_step(m_, d_);
  mj_forward(m_, d_);
}

void PhysicsModel::Step() {
  const double h = m_->opt.timestep;
  double load = 0;
  std::array<double, 3> push;
  if (pushes_.Due(time_s_, push)) {
    // The free joint's linear velocity is in the world frame.
    for (int k = 0; k < 3; ++k) d_->qvel[k] += push[k];
  }
  for (int k = 0; k < substeps_; ++k) {
    for (int j = 0; j < 12; ++j) {
      const double* range = m_->actuator_ctrlrange + 2 * actuator_[j];
      const MotorChange& motor = conditions_.motors[j];
      const double dq = d_->qvel[dof_[j]], share = TorqueShare(motor, dq);
      const double tau = MotorTorque(AsBuilt(targets_[j], motor), d_->qpos[qpos_[j]], dq,
                                     share * range[0], share * range[1]);
      d_->ctrl[actuator_[j]] = tau;
      applied_[j] = tau;
    }
    mj_step(m_, d_);
  }
  for (int j = 0; j < 12; ++j) {
    const double dt = h * substeps_;
    temperature_[j] = Warmed(temperature_[j], applied_[j], dt);
    load += std::fabs(applied_[j] * d_->qvel[dof_[j]]);
  }
  charge_ = Drained(charge_, h * substeps_, load);
  time_s_ += h * substeps_;
}

double PhysicsModel::q(int slot) const {
  return d_->qpos[qpos_[slot]];
}

double PhysicsModel::dq(int slot) const {
  return d_->qvel[dof_[slot]];
}

double PhysicsModel::TargetQ(int slot) const {
  const MotorTarget& t = targets_[slot];
  if (t.mode != 10 || std::fabs(t.q) >= kPositionStop || t.kp == 0) return NAN;
  return t.q;
}

double PhysicsModel::FootForce(int leg) const {
  return d_->sensordata[touch_adr_[leg]];
}

double PhysicsModel::TotalMass() const {
  return m_->body_subtreemass[trunk_];
}

std::array<double, 3> PhysicsModel::FootInBody(int leg) const {
  const mjtNum* p = d_->site_xpos + 3 * foot_site_[leg];
  const mjtNum* o = d_->xpos + 3 * trunk_;
  const mjtNum* r = d_->xmat + 9 * trunk_;  // row-major body-to-world rotation
  const double w[3] = {p[0] - o[0], p[1] - o[1], p[2] - o[2]};
  return {r[0] * w[0] + r[3] * w[1] + r[6] * w[2], r[1] * w[0] + r[4] * w[1] + r[7] * w[2],
          r[2] * w[0] + r[5] * w[1] + r[8] * w[2]};
}

std::array<double, 3> PhysicsModel::FootVelocityInBody(int leg) const {
  mjtNum foot[6], trunk[6];
  mj_objectVelocity(m_, d_, mjOBJ_SITE, foot_site_[leg], foot, 0);
  mj_objectVelocity(m_, d_, mjOBJ_BODY, trunk_, trunk, 0);
  const std::array<double, 3> rel = FootInBody(leg);
  const mjtNum* r = d_->xmat + 9 * trunk_;
  // Trunk-frame velocity of the foot: world velocity difference minus the trunk's rotation
  // carrying the foot along, turned into the trunk frame.
  const double w[3] = {foot[3] - trunk[3], foot[4] - trunk[4], foot[5] - trunk[5]};
  std::array<double, 3> v = {r[0] * w[0] + r[3] * w[1] + r[6] * w[2],
                             r[1] * w[0] + r[4] * w[1] + r[7] * w[2],
                             r[2] * w[0] + r[5] * w[1] + r[8] * w[2]};
  const double om[3] = {r[0] * trunk[0] + r[3] * trunk[1] + r[6] * trunk[2],
                        r[1] * trunk[0] + r[4] * trunk[1] + r[7] * trunk[2],
                        r[2] * trunk[0] + r[5] * trunk[1] + r[8] * trunk[2]};
  v[0] -= om[1] * rel[2] - om[2] * rel[1];
  v[1] -= om[2] * rel[0] - om[0] * rel[2];
  v[2] -= om[0] * rel[1] - om[1] * rel[0];
  return v;
}

BodySample PhysicsModel::Body() const {
  BodySample b;
  const mjtNum* q = d_->qpos;
  b.x = q[0];
  b.y = q[1];
  b.z = q[2];
  b.vx = d_->qvel[0];
  b.vy = d_->qvel[1];
  b.vz = d_->qvel[2];
  const double w = q[3], x = q[4], y = q[5], z = q[6];
  b.roll = std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y));
  b.pitch = std::asin(std::clamp(2 * (w * y - z * x), -1.0, 1.0));
  b.yaw = std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z));
  // The free joint's angular velocity is in the trunk frame; the yaw rate is its world z part.
  const mjtNum* r = d_->xmat + 9 * trunk_;
  b.yaw_rate = r[6] * d_->qvel[3] + r[7] * d_->qvel[4] + r[8] * d_->qvel[5];
  return b;
}

template <typename State>
void PhysicsModel::FillSensors(State& out) const {
  const mjtNum* s = d_->sensordata;
  for (int k = 0; k < 4; ++k) out.imu.quaternion[k] = static_cast<float>(s[quat_adr_ + k]);
  for (int k = 0; k < 3; ++k) {
    out.imu.gyroscope[k] = static_cast<float>(s[gyro_adr_ + k]);
    out.imu.accelerometer[k] = static_cast<float>(s[acc_adr_ + k]);
  }
  const BodySample b = Body();
  out.imu.rpy = {static_cast<float>(b.roll), static_cast<float>(b.pitch),
                 static_cast<float>(b.yaw)};
  out.imu.temperature = 35;
  for (int j = 0; j < 12; ++j) {
    FillMotorState(out.motorState[j], targets_[j].mode, q(j), dq(j), d_->qacc[dof_[j]], applied_[j],
                   temperature_[j]);
  }
  FillBattery(out.bms, charge_);
  for (int leg = 0; leg < 4; ++leg) {
    // Newtons, as the contact sensors measure them.
    out.footForce[leg] = Saturate16(std::round(FootForce(leg)));
    out.footForceEst[leg] = out.footForce[leg];
  }
}

void PhysicsModel::Fill(TORVANE::LowState_refine& out) const {
  std::memset(&out, 0, sizeof out);
  out.head = TORVANE::HEAD;
  out.levelFlag = TORVANE::LOW_LEVEL_FLAG;
  FillSensors(out);
  out.tick = static_cast<uint32_t>(std::llround(time_s_ * 1000.0));
}

void PhysicsModel::Fill(TORVANE::HighState& out) const {
  std::memset(&out, 0, sizeof out);
  FillSensors(out);
  const BodySample body = Body();
  const double c = std::cos(body.yaw), s = std::sin(body.yaw);
  out.position = {static_cast<float>(body.x), static_cast<float>(body.y),
                  static_cast<float>(body.z)};
  out.bodyHeight = static_cast<float>(body.z);
  // Velocity in the trunk's heading frame, as commanded.
  out.velocity = {static_cast<float>(c * body.vx + s * body.vy),
                  static_cast<float>(-s * body.vx + c * body.vy), static_cast<float>(body.vz)};
  out.yawSpeed = static_cast<float>(body.yaw_rate);
  out.rangeObstacle = {5.0f, 5.0f, 5.0f, 5.0f};  // nothing in sight
  for (int leg = 0; leg < 4; ++leg) {
    const std::array<double, 3> p = FootInBody(leg), v = FootVelocityInBody(leg);
    out.footPosition2Body[leg] = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                                  static_cast<float>(p[2])};
    out.footSpeed2Body[leg] = {static_cast<float>(v[0]), static_cast<float>(v[1]),
                               static_cast<float>(v[2])};
  }
}

MotionRow PhysicsModel::Motion() const {
  MotionRow row;
  const BodySample b = Body();
  row.t = time_s_;
  row.x = b.x;
  row.y = b.y;
  row.z = b.z;
  row.yaw = b.yaw;
  for (int j = 0; j < 12; ++j) {
    row.q[j] = q(j);
    row.q_ref[j] = TargetQ(j);
  }
  for (int leg = 0; leg < 4; ++leg) row.force[leg] = FootForce(leg);
  return row;
}

}  // namespace torvane_sim
