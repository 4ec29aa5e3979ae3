#include "command_line/plain_number.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace torvane_cli {
namespace {

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

// Skips a run of digits; returns how many there were.
int Digits(const char*& p) {
  int n = 0;
  while (Digit(*p)) ++p, ++n;
  return n;
}

}  // namespace

bool ParseWhole(const char* text, uint64_t& out) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (!Digit(*p)) return false;
    const uint64_t d = static_cast<uint64_t>(*p - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool ParsePort(const char* text, uint16_t lowest, uint16_t& out) {
  uint64_t v = 0;
  if (!ParseWhole(text, v) || v < lowest || v > 65535) return false;
  out = static_cast<uint16_t>(v);
  return true;
}

bool ParseDecimal(const char* text, double& out) {
  if (text == nullptr) return false;
  // The shape first: strtod alone would take spaces, '+', hexadecimal, "nan" and "inf".
  const char* p = text;
  if (*p == '-') ++p;
  int mantissa = Digits(p);
  if (*p == '.') {
    ++p;
    mantissa += Digits(p);
  }
  if (mantissa == 0) return false;
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '-' || *p == '+') ++p;
    if (Digits(p) == 0) return false;
  }
  if (*p != '\0') return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end != p || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace torvane_cli
