#include "conditions/condition_options.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "command_line/plain_number.h"

namespace torvane_sim {
namespace {

using torvane_cli::Checked;
using torvane_cli::Option;
using torvane_cli::Problem;

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(by, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// `fewest` to `most` decimal numbers separated by ':'.
bool Numbers(const std::string& text, size_t fewest, size_t most, std::vector<double>& out) {
  out.clear();
  for (const std::string& part : Split(text, ':')) {
    double v;
    if (!torvane_cli::ParseDecimal(part.c_str(), v)) return false;
    out.push_back(v);
  }
  return out.size() >= fewest && out.size() <= most;
}

Option LatencyRow(const char* name, const char* what, Latency& out) {
  const std::string words = std::string(name) + " must be MEAN[:JITTER], ms, 0 to 1000, not";
  return Checked(name, "MEAN[:JITTER]", what, words.c_str(), [&out](const char* value) {
    std::vector<double> v;
    if (!Numbers(value, 1, 2, v)) return false;
    for (double x : v) {
      if (x < 0 || x > 1000) return false;
    }
    out = Latency{v[0], v.size() > 1 ? v[1] : 0.0};
    return true;
  });
}

bool TakeNoise(const char* value, SensorNoise& out) {
  SensorNoise noise;
  for (const std::string& item : Split(value, ',')) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    const std::string part = item.substr(0, eq);
    NoiseChannel* channel = part == "q"      ? &noise.q
                            : part == "dq"   ? &noise.dq
                            : part == "gyro" ? &noise.gyro
                            : part == "acc"  ? &noise.acc
                            : part == "rpy"  ? &noise.rpy
                                             : nullptr;
    std::vector<double> v;
    if (channel == nullptr || !Numbers(item.substr(eq + 1), 1, 2, v)) return false;
    for (double x : v) {
      if (x < 0 || x > 100) return false;
    }
    *channel = NoiseChannel{v[0], v.size() > 1 ? v[1] : 0.0};
  }
  out = noise;
  return true;
}

bool TakeMotor(const char* value, std::array<MotorChange, 12>& out) {
  std::array<MotorChange, 12> motors{};
  for (std::string item : Split(value, ',')) {
    int first = 0, last = 11;
    const size_t slash = item.find('/');
    if (slash != std::string::npos) {
      uint64_t slot;
      if (!torvane_cli::ParseWhole(item.substr(0, slash).c_str(), slot) || slot > 11) return false;
      first = last = static_cast<int>(slot);
      item = item.substr(slash + 1);
    }
    const size_t eq = item.find('=');
    double v;
    if (eq == std::string::npos || !torvane_cli::ParseDecimal(item.substr(eq + 1).c_str(), v)) {
      return false;
    }
    const std::string part = item.substr(0, eq);
    const bool positive = part == "kp" || part == "kd" || part == "speed";
    if (positive ? !(v > 0 && v <= 1000) : !(v >= 0 && v <= 100)) return false;
    for (int j = first; j <= last; ++j) {
      MotorChange& m = motors[j];
      double* field = part == "kp"         ? &m.kp
                      : part == "kd"       ? &m.kd
                      : part == "armature" ? &m.armature
                      : part == "friction" ? &m.friction
                      : part == "speed"    ? &m.speed
                                           : nullptr;
      if (field == nullptr) return false;
      *field = v;
    }
  }
  out = motors;
  return true;
}

bool TakePushes(const char* value, std::vector<Push>& out) {
  std::vector<Push> pushes;
  for (const std::string& item : Split(value, ',')) {
    std::vector<double> v;
    if (!Numbers(item, 3, 4, v) || v[0] < 0) return false;
    for (size_t k = 1; k < v.size(); ++k) {
      if (std::fabs(v[k]) > 20) return false;
    }
    pushes.push_back(Push{v[0], v[1], v[2], v.size() > 3 ? v[3] : 0.0});
  }
  out = pushes;
  return true;
}

bool TakeTerrain(const char* value, Terrain& out) {
  const std::vector<std::string> parts = Split(value, ':');
  std::vector<double> v;
  const std::string rest = parts.size() > 1 ? std::string(value).substr(parts[0].size() + 1) : "";
  if (parts[0] == "flat" && parts.size() == 1) {
    out = Terrain{};
  } else if (parts[0] == "slope" && Numbers(rest, 1, 1, v) && std::fabs(v[0]) <= 30) {
    out = Terrain{TerrainKind::kSlope, v[0], 0};
  } else if (parts[0] == "steps" && Numbers(rest, 2, 2, v) && v[0] > 0 && v[0] <= 0.2 &&
             v[1] >= 0.1 && v[1] <= 2) {
    out = Terrain{TerrainKind::kSteps, v[0], v[1]};
  } else if (parts[0] == "rough" && Numbers(rest, 1, 1, v) && v[0] > 0 && v[0] <= 0.2) {
    out = Terrain{TerrainKind::kRough, v[0], 0};
  } else {
    return false;
  }
  return true;
}

bool Alike(const MotorChange& a, const MotorChange& b) {
  auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return same(a.kp, b.kp) && same(a.kd, b.kd) && same(a.armature, b.armature) &&
         same(a.friction, b.friction) && same(a.speed, b.speed);
}

}  // namespace

std::vector<Option> ConditionRows(Conditions& out) {
  PhysicsConditions& p = out.physics;
  return {
      LatencyRow("--latency-ms",
                 "delay of the states [ms] with normal jitter; counted in\n"
                 "whole periods, rounded to the nearest",
                 out.state_latency),
      LatencyRow("--command-latency-ms", "delay of the commands [ms], likewise",
                 out.command_latency),
      Checked("--noise", "PART=STD[:DRIFT],...",
              "sensor noise: PART q [rad], dq [rad/s], gyro [rad/s],\n"
              "acc [m/s^2] or rpy [rad]; STD of the noise, DRIFT of\n"
              "the bias's random walk per square root of a second",
              "--noise must be PART=STD[:DRIFT],... (q, dq, gyro, acc, rpy; 0 to 100), not",
              [&out](const char* value) { return TakeNoise(value, out.noise); }),
      Checked("--motor", "[SLOT/]PART=V,...",
              "motors as built (all, or slot 0..11): kp, kd gain\n"
              "multipliers; armature [kg m^2]; friction [N m]; speed\n"
              "[rad/s] where the torque limit falls to 0 (physics)",
              "--motor must be [SLOT/]PART=VALUE,... (kp, kd, armature, friction, speed), not",
              [&p](const char* value) { return TakeMotor(value, p.motors); }),
      torvane_cli::Decimal("--trunk-mass", "KG", "the trunk's mass [kg] (physics)",
                           torvane_cli::AboveAtMost(0, 100, "kg"), p.body.trunk_mass),
      Checked("--trunk-com", "X:Y:Z", "the trunk's centre of mass moved by [m] (physics)",
              "--trunk-com must be X:Y:Z, m, each -0.1 to 0.1, not",
              [&p](const char* value) {
                std::vector<double> v;
                if (!Numbers(value, 3, 3, v)) return false;
                for (double x : v) {
                  if (std::fabs(x) > 0.1) return false;
                }
                p.body.com = {v[0], v[1], v[2]};
                return true;
              }),
      torvane_cli::Decimal("--ground-friction", "MU",
                           "friction coefficient of the ground (physics)",
                           torvane_cli::AboveAtMost(0, 5), p.body.ground_friction),
      Checked("--push", "T:VX:VY[:VZ],...",
              "at T [s] change the trunk's velocity by VX, VY, VZ\n"
              "[m/s, world frame] (physics)",
              "--push must be T:VX:VY[:VZ],... (T 0 or more, s; each velocity within 20 m/s), not",
              [&p](const char* value) { return TakePushes(value, p.pushes.at); }),
      Checked("--push-every", "S:SIZE",
              "pushes of SIZE [m/s] in a random horizontal direction,\n"
              "every 0.5 S to 1.5 S [s] (physics)",
              "--push-every must be S:SIZE (S above 0, s; SIZE 0 to 20 m/s), not",
              [&p](const char* value) {
                std::vector<double> v;
                if (!Numbers(value, 2, 2, v) || !(v[0] > 0) || v[1] < 0 || v[1] > 20) return false;
                p.pushes.every_s = v[0];
                p.pushes.size = v[1];
                return true;
              }),
      Checked("--terrain", "KIND",
              "flat (default), slope:DEG rising ahead, steps:HEIGHT:DEPTH\n"
              "[m] from 0.5 m ahead, rough:ROUGHNESS [m] height field\n"
              "(physics)",
              "--terrain must be flat, slope:DEG (within 30), steps:HEIGHT:DEPTH (0 to 0.2, "
              "0.1 to 2 m) or rough:ROUGHNESS (0 to 0.2 m), not",
              [&p](const char* value) { return TakeTerrain(value, p.terrain); }),
  };
}

Option ScenarioRow(const std::vector<Option>& rows) {
  Option row;
  row.name = "--scenario";
  row.meta = "FILE";
  row.help =
      "the conditions from a JSON file, keyed by option name\n"
      "(sim/scenarios/); later options override it";
  row.take = [&rows](const char* path, Problem& problem) {
    std::ifstream in(path);
    if (!in) {
      problem = {"cannot read --scenario", path};
      return false;
    }
    nlohmann::json doc = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false,
                                               /*ignore_comments=*/true);
    if (doc.is_discarded() || !doc.is_object()) {
      problem = {"--scenario is no JSON object", path};
      return false;
    }
    for (auto item = doc.begin(); item != doc.end(); ++item) {
      const std::string name = "--" + item.key();
      const Option* option = nullptr;
      for (const Option& o : rows) {
        if (o.name == name) option = &o;
      }
      if (option == nullptr) {
        problem = {std::string("--scenario ") + path + " has an unknown condition", item.key()};
        return false;
      }
      std::string text;
      const nlohmann::json& v = item.value();
      if (v.is_string()) {
        text = v.get<std::string>();
      } else if (v.is_number()) {
        text = v.dump();
      } else if (v.is_array()) {
        for (const nlohmann::json& e : v) {
          text += (text.empty() ? "" : ",") + (e.is_string() ? e.get<std::string>() : e.dump());
        }
      } else {
        problem = {std::string("--scenario ") + path + " has no value of", item.key()};
        return false;
      }
      if (!option->take(text.c_str(), problem)) {
        problem.words = std::string("--scenario ") + path + ": " + problem.words;
        return false;
      }
    }
    return true;
  };
  return row;
}

std::string PhysicsConditions::FirstGiven() const {
  if (any_motor()) return "--motor";
  if (!std::isnan(body.trunk_mass)) return "--trunk-mass";
  if (body.com[0] != 0 || body.com[1] != 0 || body.com[2] != 0) return "--trunk-com";
  if (!std::isnan(body.ground_friction)) return "--ground-friction";
  if (!pushes.at.empty()) return "--push";
  if (pushes.every_s > 0) return "--push-every";
  if (terrain.kind != TerrainKind::kFlat) return "--terrain";
  return "";
}

std::string Conditions::Summary() const {
  std::ostringstream s;
  auto sep = [&s]() -> std::ostringstream& {
    if (s.tellp() > 0) s << "; ";
    return s;
  };
  if (state_latency.any()) {
    sep() << "state latency " << state_latency.mean_ms << "+-" << state_latency.jitter_ms << " ms";
  }
  if (command_latency.any()) {
    sep() << "command latency " << command_latency.mean_ms << "+-" << command_latency.jitter_ms
          << " ms";
  }
  if (noise.any()) {
    sep() << "noise";
    const std::pair<const char*, const NoiseChannel*> channels[] = {{"q", &noise.q},
                                                                    {"dq", &noise.dq},
                                                                    {"gyro", &noise.gyro},
                                                                    {"acc", &noise.acc},
                                                                    {"rpy", &noise.rpy}};
    for (const auto& c : channels) {
      if (c.second->any()) s << " " << c.first << "=" << c.second->std << ":" << c.second->drift;
    }
  }
  const PhysicsConditions& p = physics;
  if (p.any_motor()) {
    sep() << "motors";
    bool all_alike = true;
    for (const MotorChange& m : p.motors) all_alike = all_alike && Alike(m, p.motors[0]);
    for (int j = 0; j < (all_alike ? 1 : 12); ++j) {
      const MotorChange& m = p.motors[j];
      if (!m.any()) continue;
      if (all_alike) {
        s << " all:";
      } else {
        s << " " << j << ":";
      }
      if (m.kp != 1) s << " kp*" << m.kp;
      if (m.kd != 1) s << " kd*" << m.kd;
      if (!std::isnan(m.armature)) s << " armature " << m.armature;
      if (!std::isnan(m.friction)) s << " friction " << m.friction;
      if (m.speed > 0) s << " speed " << m.speed;
    }
  }
  if (!std::isnan(p.body.trunk_mass)) sep() << "trunk mass " << p.body.trunk_mass << " kg";
  if (p.body.com[0] != 0 || p.body.com[1] != 0 || p.body.com[2] != 0) {
    sep() << "trunk com +" << p.body.com[0] << ":" << p.body.com[1] << ":" << p.body.com[2] << " m";
  }
  if (!std::isnan(p.body.ground_friction)) sep() << "ground friction " << p.body.ground_friction;
  for (const Push& push : p.pushes.at) {
    sep() << "push at " << push.t << " s by " << push.vx << ":" << push.vy << ":" << push.vz
          << " m/s";
  }
  if (p.pushes.every_s > 0) {
    sep() << "push " << p.pushes.size << " m/s every ~" << p.pushes.every_s << " s";
  }
  switch (p.terrain.kind) {
    case TerrainKind::kFlat:
      break;
    case TerrainKind::kSlope:
      sep() << "slope " << p.terrain.a << " deg";
      break;
    case TerrainKind::kSteps:
      sep() << "steps " << p.terrain.a << " m high, " << p.terrain.b << " m deep";
      break;
    case TerrainKind::kRough:
      sep() << "rough ground " << p.terrain.a << " m";
      break;
  }
  return s.tellp() > 0 ? s.str() : "none";
}

}  // namespace torvane_sim
