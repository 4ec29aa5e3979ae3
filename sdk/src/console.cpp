#include "console.h"

#include <cstdarg>

namespace TORVANE {
namespace detail {

void Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace detail
}  // namespace TORVANE
