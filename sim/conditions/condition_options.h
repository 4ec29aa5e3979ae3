// The conditions on the emulator's command line, and the scenario file that gives them together.
#pragma once

#include <string>
#include <vector>

#include "command_line/command_line.h"
#include "conditions/conditions.h"

namespace torvane_sim {

// One row per condition, each storing into `out`.
std::vector<torvane_cli::Option> ConditionRows(Conditions& out);

// --scenario FILE: a JSON object whose keys are the names of `rows` without their dashes and
// whose values are what those options take, as text or number ("push" also as a list of
// pushes). Each value is taken by its row as if given at this point of the command line.
torvane_cli::Option ScenarioRow(const std::vector<torvane_cli::Option>& rows);

}  // namespace torvane_sim
