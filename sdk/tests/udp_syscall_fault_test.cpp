// Failures that a healthy loopback socket never produces: this binary interposes select() and
// connect(), so that a timed wait can fail with or without leaving the descriptor set, and a
// connect to a learned client, or the dissolve of a dropped one, can fail.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/select.h>

#include <cerrno>

#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {
enum class WaitFault { kNone, kFailClearingSet, kFailKeepingSet };
WaitFault g_fault = WaitFault::kNone;
int g_faulted_calls = 0;
bool g_connect_fails = false;
}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  using Connect = int (*)(int, const sockaddr*, socklen_t);
  static const auto real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
  if (g_connect_fails) {
    errno = EACCES;
    return -1;
  }
  return real(fd, address, length);
}

extern "C" int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      timeval* limit) {
  using Select = int (*)(int, fd_set*, fd_set*, fd_set*, timeval*);
  static const auto real = reinterpret_cast<Select>(dlsym(RTLD_NEXT, "select"));
  // Only the first wait of a Recv (the one with a non-zero limit) is faulted.
  const bool first_wait = limit != nullptr && (limit->tv_sec != 0 || limit->tv_usec != 0);
  if (g_fault != WaitFault::kNone && first_wait) {
    ++g_faulted_calls;
    if (g_fault == WaitFault::kFailClearingSet && readfds != nullptr) FD_ZERO(readfds);
    errno = EINTR;
    return -1;
  }
  return real(nfds, readfds, writefds, exceptfds, limit);
}

class TimedWaitTest : public TransportTest {
 protected:
  void TearDown() override {
    g_fault = WaitFault::kNone;
    g_connect_fails = false;
    TransportTest::TearDown();
  }
};
using ConnectFaultTest = TimedWaitTest;

TEST_F(TimedWaitTest, WaitReturnsWithoutReadableSocket) {
  Peer peer;
  UDP udp(0, "127.0.0.1", peer.port(), 129, 1087, false, blockTimeout);
  peer.SendTo(BoundPort(udp.socketfd), HighStateDatagram());
  ASSERT_TRUE(WaitReadable(udp.socketfd));
  g_fault = WaitFault::kFailClearingSet;
  EXPECT_EQ(udp.Recv(), -1);
  EXPECT_EQ(g_faulted_calls, 1);
  const UDPState s = udp.udpState;
  EXPECT_EQ(s.RecvCount + s.RecvCRCError + s.RecvLoseError, 0u);
  g_fault = WaitFault::kNone;
  EXPECT_EQ(udp.Recv(), 0);  // the datagram was left queued
}

TEST_F(TimedWaitTest, FailedWaitThatLeavesTheSetGoesOnToDrain) {
  Peer peer;
  UDP udp(0, "127.0.0.1", peer.port(), 129, 1087, false, blockTimeout);
  peer.SendTo(BoundPort(udp.socketfd), HighStateDatagram(4));
  ASSERT_TRUE(WaitReadable(udp.socketfd));
  g_fault = WaitFault::kFailKeepingSet;
  EXPECT_EQ(udp.Recv(), 0);
  EXPECT_EQ(CopyOut(udp), HighStateDatagram(4));
  // Nothing queued: the drain finds nothing, the zero buffer fails the header check.
  EXPECT_EQ(udp.Recv(), -1);
}

TEST_F(ConnectFaultTest, EveryConnectToASenderFails) {
  Peer peer;
  UDP udp(0, 129, 1087, false, nonBlock, false);
  peer.SendTo(BoundPort(udp.socketfd), HighStateDatagram(1));
  peer.SendTo(BoundPort(udp.socketfd), HighStateDatagram(2));
  ASSERT_TRUE(WaitReadable(udp.socketfd));
  g_connect_fails = true;
  const Captured c = Capture([&] { EXPECT_EQ(udp.Recv(), -4); });
  EXPECT_EQ(c.err,
            "[Error] Connect client failed: Permission denied\n"
            "[Error] Connect client failed: Permission denied\n");
  EXPECT_EQ(udp.udpState.RecvLoseError, 1u);  // nothing was taken
  EXPECT_FALSE(udp.connected);
  EXPECT_TRUE(udp.targetIP.empty());
  g_connect_fails = false;
  peer.SendTo(BoundPort(udp.socketfd), HighStateDatagram(3));
  ASSERT_TRUE(WaitReadable(udp.socketfd));
  EXPECT_EQ(udp.Recv(), 0);  // the next sender is learned as usual
  EXPECT_TRUE(udp.connected);
}

TEST_F(ConnectFaultTest, FailedDissolveStillDrops) {
  Peer peer;
  UDP udp(UnusedPort(), "127.0.0.1", peer.port(), 129, 1087, true, nonBlock);
  udp.SetDisconnectTime(1.0f, 1.0f);
  udp.Recv();
  g_connect_fails = true;
  const Captured c = Capture([&] { EXPECT_EQ(udp.Recv(), 1); });
  EXPECT_EQ(c.err, "[ERROR] Connect failed: Permission denied\n");
  EXPECT_NE(c.out.find("[UDP Disconnected] client!"), std::string::npos);
  EXPECT_FALSE(udp.connected);
}
