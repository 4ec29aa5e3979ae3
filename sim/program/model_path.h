// Where torvane-sim finds its physics models: beside the program in the build tree
// (<bin>/models/) or in the installed data directory (<prefix>/share/torvane/models/).
#pragma once

#include <string>

namespace torvane_sim {

// The path of model file `name` that exists, or empty if none does.
std::string FindModel(const std::string& name);

}  // namespace torvane_sim
