// The emulator these tests run: torvane-sim of this build, through the same emulator as the
// tests themselves in a cross build.
#pragma once

#include <string>
#include <vector>

// The emulator that runs torvane-sim in a cross build (its program and arguments, each followed
// by a comma); empty for a native one.
#ifndef TORVANE_SIM_LAUNCHER
#define TORVANE_SIM_LAUNCHER
#endif

inline std::vector<std::string> SimCommand() {
  return {TORVANE_SIM_LAUNCHER TORVANE_SIM_PATH};
}
