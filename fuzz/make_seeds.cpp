// Seed corpora for the fuzzers: valid datagrams of both levels, built with the SDK, wrapped in
// the input formats the fuzzers read. Usage: make_seeds <recv-corpus-dir> <wire-corpus-dir>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "torvane/torvane.h"

using namespace TORVANE;

namespace {

std::vector<uint8_t> Stamped(size_t length, uint8_t level, bool scramble) {
  std::vector<uint8_t> d(length, 0);
  d[0] = HEAD[0];
  d[1] = HEAD[1];
  d[2] = level;
  for (size_t i = 3; i + 4 < length; ++i) d[i] = static_cast<uint8_t>(i * 13);
  const uint32_t crc =
      crc32(reinterpret_cast<const uint32_t*>(d.data()), covered_words(static_cast<int>(length)));
  std::memcpy(&d[length - 4], &crc, 4);
  if (scramble) encryptCRC(d.data(), nullptr, static_cast<uint32_t>(length));
  return d;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// config bytes, then: datagram, Recv, copy-out, datagram, Recv, Recv, send.
std::vector<uint8_t> RecvInput(uint8_t a, uint8_t b, const std::vector<uint8_t>& datagram) {
  std::vector<uint8_t> in = {a, b};
  for (int k = 0; k < 2; ++k) {
    in.push_back(0);
    in.push_back(static_cast<uint8_t>(datagram.size() >> 8));
    in.push_back(static_cast<uint8_t>(datagram.size()));
    in.insert(in.end(), datagram.begin(), datagram.end());
    in.push_back(1);
    in.push_back(3);
  }
  in.push_back(4);
  in.push_back(5);
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds <recv-corpus-dir> <wire-corpus-dir>\n");
    return 2;
  }
  const std::string recv_dir = argv[1], wire_dir = argv[2];
  const auto high = Stamped(1087, HIGH_LEVEL_FLAG, true);
  const auto low = Stamped(807, LOW_LEVEL_FLAG, false);
  // a: recv length index 7 (1087) or 6 (807), send length 129 (4) or 614 (5); b: modes, roles.
  int n = 0;
  for (uint8_t b : {0x00, 0x01, 0x02, 0x04, 0x0C, 0x1C, 0x9D}) {
    Write(recv_dir + "/high" + std::to_string(n), RecvInput(7 | 4 << 3, b, high));
    Write(recv_dir + "/low" + std::to_string(n), RecvInput(6 | 5 << 3, b, low));
    ++n;
  }
  Write(recv_dir + "/developer", RecvInput(0x80 | 7 | 4 << 3, 0, Stamped(1087, 0xEE, false)));
  Write(wire_dir + "/low_state", low);
  Write(wire_dir + "/high_state", high);
  LowCmd cmd{};
  UDP deferred(0, 129, 1087, false, nonBlock, true);  // no socket: only for InitCmdData
  deferred.InitCmdData(cmd);
  Write(wire_dir + "/low_cmd", std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&cmd),
                                                    reinterpret_cast<uint8_t*>(&cmd) + sizeof cmd));
  return 0;
}
