// The robot models by the names every program takes for --model, with the numbers the SDK's
// LeggedType gives them. common/ does not see the SDK, so the numbers are written here and each
// program that turns one into a LeggedType pins the agreement with ModelsNumberedAs where it
// sees both.
#pragma once

#include <cstddef>

#include "command_line/command_line.h"

namespace torvane_cli {

struct RobotModel {
  const char* name;
  int number;
};
inline constexpr RobotModel kRobotModels[] = {
    {"zorvan", 0}, {"pellix", 1}, {"tamrin", 2}, {"vesko", 3}};
inline constexpr size_t kRobotModelCount = sizeof kRobotModels / sizeof kRobotModels[0];

// True when `numbers` (an enumeration's values, in the order of the table) match the table:
//   static_assert(torvane_cli::ModelsNumberedAs({E::Zorvan, E::Pellix, E::Tamrin, E::Vesko}));
template <typename E, size_t N>
constexpr bool ModelsNumberedAs(const E (&numbers)[N]) {
  if (N != kRobotModelCount) return false;
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<int>(numbers[i]) != kRobotModels[i].number) return false;
  }
  return true;
}

// The --model row: "--model NAME", one of the names ("--model must be zorvan, pellix, tamrin or
// vesko, not: cat"), its number stored into `out`.
template <typename T>
Option Model(const char* help, T& out) {
  Choices choices;
  for (const RobotModel& m : kRobotModels) choices.emplace_back(m.name, m.number);
  return Choice("--model", "NAME", help, std::move(choices), out);
}

}  // namespace torvane_cli
