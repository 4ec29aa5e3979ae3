#include <torvane/torvane.h>

#include <cstdio>

int main() {
  TORVANE::LowCmd cmd{};
  TORVANE::LowCmd_refine packed{};
  TORVANE::refineCmd(packed, cmd);
  const uint32_t zero = 0;
  if (TORVANE::crc32(&zero, 1) != 0xC704DD7Bu) return 1;
  std::puts("consumer ok");
  return 0;
}
