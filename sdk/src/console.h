// Console messages of the SDK: whole lines on standard output, flushed at once so that they
// interleave correctly with the caller's own output and survive an exit.
#pragma once

#include <cstdio>

namespace TORVANE {
namespace detail {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Line(const char* format, ...);

}  // namespace detail
}  // namespace TORVANE
