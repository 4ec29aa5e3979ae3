// Test helpers for the endpoint: the shared loopback peer and datagram builders, the endpoint's
// published copy, a fresh transport state per test, and captured console output.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "torvane/transport_state.h"
#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/reference_checksum.h"
#include "torvane_testing/transport_reset.h"

namespace torvane_test {

inline std::vector<uint8_t> CopyOut(TORVANE::UDP& udp) {
  std::vector<uint8_t> out(static_cast<size_t>(udp.recvLength));
  udp.GetRecv(reinterpret_cast<char*>(out.data()));
  return out;
}

// Every test starts from the start-of-process transport state.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { TORVANE::detail::ResetTransportState(); }
  void TearDown() override { TORVANE::detail::ResetTransportState(); }
};

// Captures standard output (and error) around a block; the SDK flushes every line.
struct Captured {
  std::string out, err;
};
template <typename F>
Captured Capture(F&& body) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  body();
  Captured c;
  c.out = ::testing::internal::GetCapturedStdout();
  c.err = ::testing::internal::GetCapturedStderr();
  return c;
}

}  // namespace torvane_test
