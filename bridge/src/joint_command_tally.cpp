#include "joint_command_tally.h"

#include <cstdio>

namespace torvane_bridge {
namespace {

void Add(std::atomic<uint64_t>& a) {
  a.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void JointCommandTally::Count(const JointCommandOutcome& outcome) {
  switch (outcome.refused) {
    case Refusal::kNone:
      Add(taken_);
      if (outcome.effort_clamped) Add(clamped_effort_);
      if (outcome.velocity_clamped) Add(clamped_velocity_);
      if (outcome.position_clamped) Add(clamped_position_);
      break;
    case Refusal::kNotANumber:
      Add(nan_);
      break;
    case Refusal::kMalformed:
      Add(malformed_);
      break;
    case Refusal::kEffort:
      Add(effort_);
      break;
    case Refusal::kVelocity:
      Add(velocity_);
      break;
    case Refusal::kPosition:
      Add(position_);
      break;
  }
}

std::string JointCommandTally::Line() const {
  const auto v = [](const std::atomic<uint64_t>& a) {
    return static_cast<unsigned long long>(a.load(std::memory_order_relaxed));
  };
  const unsigned long long refused =
      v(nan_) + v(malformed_) + v(effort_) + v(velocity_) + v(position_);
  char text[256];
  std::snprintf(text, sizeof text,
                "joint_commands: %llu taken, %llu refused (NaN %llu, malformed %llu, effort %llu, "
                "velocity %llu, position %llu), clamped: effort %llu, velocity %llu, position %llu",
                v(taken_), refused, v(nan_), v(malformed_), v(effort_), v(velocity_), v(position_),
                v(clamped_effort_), v(clamped_velocity_), v(clamped_position_));
  return text;
}

}  // namespace torvane_bridge
