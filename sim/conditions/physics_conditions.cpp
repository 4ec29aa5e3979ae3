#include "conditions/physics_conditions.h"

#include <mujoco/mujoco.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace torvane_sim {
namespace {

constexpr double kFieldHalf = 10.0;   // [m] the height field spans 20 m by 20 m
constexpr double kFieldCell = 0.05;   // [m] between its heights
constexpr double kStepsFrom = 0.5;    // [m] ahead of the start, where the first step rises
constexpr double kLyingReach = 0.45;  // [m] from the trunk's centre to its feet lying down

int FieldPoints() {
  return static_cast<int>(std::lround(2 * kFieldHalf / kFieldCell)) + 1;
}

double FieldTop(const Terrain& terrain) {
  if (terrain.kind == TerrainKind::kRough) return terrain.a;
  const double steps = std::ceil((kFieldHalf - kStepsFrom) / terrain.b);
  return terrain.a * steps;
}

}  // namespace

bool WriteTerrain(std::string& xml, const Terrain& terrain, std::string& error) {
  if (terrain.kind != TerrainKind::kSteps && terrain.kind != TerrainKind::kRough) return true;
  const size_t floor = xml.find("<geom name=\"floor\"");
  const size_t floor_end = floor == std::string::npos ? floor : xml.find("/>", floor);
  const size_t world = xml.find("<worldbody>");
  if (floor_end == std::string::npos || world == std::string::npos || world > floor) {
    error = "physics model: no plane geom named floor in its worldbody for --terrain";
    return false;
  }
  char field[256], ground[256];
  std::snprintf(field, sizeof field,
                "<asset><hfield name=\"terrain\" nrow=\"%d\" ncol=\"%d\" size=\"%g %g %g 0.1\"/>"
                "</asset>\n  ",
                FieldPoints(), FieldPoints(), kFieldHalf, kFieldHalf, FieldTop(terrain));
  std::snprintf(ground, sizeof ground,
                "<geom name=\"floor\" type=\"hfield\" hfield=\"terrain\" contype=\"1\" "
                "conaffinity=\"1\" rgba=\"0.8 0.8 0.8 1\"/>");
  xml.replace(floor, floor_end + 2 - floor, ground);
  xml.insert(world, field);
  return true;
}

void ShapeTerrain(mjModel* m, const Terrain& terrain, uint64_t seed) {
  const int floor = mj_name2id(m, mjOBJ_GEOM, "floor");
  if (floor < 0) return;
  if (terrain.kind == TerrainKind::kSlope) {
    // Turned about y so that the ground rises along +x through the start.
    const double half = -0.5 * terrain.a * M_PI / 180.0;
    mjtNum* q = m->geom_quat + 4 * floor;
    q[0] = std::cos(half);
    q[1] = 0;
    q[2] = std::sin(half);
    q[3] = 0;
    m->geom_sameframe[floor] = 0;  // or the engine keeps taking the world's own frame
    return;
  }
  if (m->nhfield < 1 || m->geom_type[floor] != mjGEOM_HFIELD) return;
  const int field = m->geom_dataid[floor];
  const int rows = m->hfield_nrow[field], cols = m->hfield_ncol[field];
  float* data = m->hfield_data + m->hfield_adr[field];
  const double top = m->hfield_size[4 * field + 2];
  RandomStream random(seed, kTerrainStream);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      double h = 0;
      if (terrain.kind == TerrainKind::kRough) {
        h = terrain.a * random.Uniform();
      } else {
        const double x = -kFieldHalf + c * 2 * kFieldHalf / (cols - 1);
        if (x >= kStepsFrom) h = terrain.a * (1 + std::floor((x - kStepsFrom) / terrain.b));
      }
      data[r * cols + c] = static_cast<float>(std::min(1.0, h / top));
    }
  }
}

double StartLift(const Terrain& terrain) {
  switch (terrain.kind) {
    case TerrainKind::kSlope:
      return std::tan(std::fabs(terrain.a) * M_PI / 180.0) * kLyingReach;
    case TerrainKind::kRough:
      return terrain.a;
    default:
      return 0;
  }
}

void ChangeModel(mjModel* m, int trunk, const std::array<int, 12>& dofs,
                 const PhysicsConditions& conditions) {
  for (int j = 0; j < 12; ++j) {
    const MotorChange& motor = conditions.motors[j];
    if (!std::isnan(motor.armature)) m->dof_armature[dofs[j]] = motor.armature;
    if (!std::isnan(motor.friction)) m->dof_frictionloss[dofs[j]] = motor.friction;
  }
  const BodyChange& body = conditions.body;
  if (!std::isnan(body.trunk_mass)) {
    const double scale = body.trunk_mass / m->body_mass[trunk];
    m->body_mass[trunk] = body.trunk_mass;
    for (int k = 0; k < 3; ++k) m->body_inertia[3 * trunk + k] *= scale;
  }
  if (body.com[0] != 0 || body.com[1] != 0 || body.com[2] != 0) {
    for (int k = 0; k < 3; ++k) m->body_ipos[3 * trunk + k] += body.com[k];
    m->body_sameframe[trunk] = 0;
  }
  if (!std::isnan(body.ground_friction)) {
    // A contact takes the larger sliding friction of its two geoms: the ground's coefficient is
    // given to every geom, the feet's included.
    for (int g = 0; g < m->ngeom; ++g) m->geom_friction[3 * g] = body.ground_friction;
  }
}

PushSchedule::PushSchedule(const Pushes& pushes, uint64_t seed)
    : pushes_(pushes), random_(seed, kPushStream) {
  std::stable_sort(pushes_.at.begin(), pushes_.at.end(),
                   [](const Push& a, const Push& b) { return a.t < b.t; });
  if (pushes_.every_s > 0) next_random_ = pushes_.every_s * (0.5 + random_.Uniform());
}

bool PushSchedule::Due(double t, std::array<double, 3>& dv) {
  bool due = false;
  dv = {0, 0, 0};
  for (; next_ < pushes_.at.size() && pushes_.at[next_].t <= t; ++next_) {
    const Push& p = pushes_.at[next_];
    dv[0] += p.vx;
    dv[1] += p.vy;
    dv[2] += p.vz;
    due = true;
  }
  while (pushes_.every_s > 0 && next_random_ <= t) {
    const double heading = 2 * M_PI * random_.Uniform();
    dv[0] += pushes_.size * std::cos(heading);
    dv[1] += pushes_.size * std::sin(heading);
    next_random_ += pushes_.every_s * (0.5 + random_.Uniform());
    due = true;
  }
  return due;
}

}  // namespace torvane_sim
