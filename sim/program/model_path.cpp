#include "program/model_path.h"

#include <unistd.h>

#include <climits>

namespace torvane_sim {
namespace {

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

}  // namespace

std::string FindModel(const std::string& name) {
  const std::string bin = ProgramDirectory();
  for (const std::string& dir : {bin + "/models", bin + "/../share/torvane/models"}) {
    const std::string path = dir + "/" + name;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return "";
}

}  // namespace torvane_sim
