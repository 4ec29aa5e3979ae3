// One thread sends while another receives on the same endpoint: no datagram goes out torn and
// every published state is whole. Meant to run under the sanitizer presets as well.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "torvane/packing.h"
#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {
constexpr int kRounds = 2000;

// Every float of a state or command carries the round number, so a torn copy shows.
HighState StateFor(int round) {
  HighState s{};
  s.head = {0xFE, 0xEF};
  s.levelFlag = 0xEE;
  s.progress = static_cast<float>(round);
  for (auto& m : s.motorState) m.q = static_cast<float>(round);
  s.yawSpeed = static_cast<float>(round);
  return s;
}
}  // namespace

TEST(EndpointThreads, SenderAndReceiverRunSideBySide) {
  detail::ResetTransportState();
  Peer peer;
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  const uint16_t port = BoundPort(udp.socketfd);

  std::mutex m;
  std::condition_variable cv;
  int seen = -1;  // last round the receiver saw
  std::atomic<bool> failed{false};

  std::thread robot([&] {  // the peer: answers each command with the state of its round
    for (int i = 0; i < kRounds && !failed; ++i) {
      const auto cmd = peer.Receive();
      if (cmd.size() != 129 || ReadLE32(&cmd[125]) != BitwiseCrc(cmd.data(), 31)) {
        failed = true;
        break;
      }
      HighCmd c;
      std::memcpy(&c, cmd.data(), sizeof c);
      const int round = static_cast<int>(c.yawSpeed);
      if (c.bodyHeight != c.yawSpeed || c.velocity[1] != c.yawSpeed) failed = true;
      auto image = Bytes(StateFor(round));
      StoreLE32(&image[1083], Scrambled(BitwiseCrc(image.data(), 270)));
      peer.SendTo(port, image);
    }
  });

  std::thread receiver([&] {
    HighState state{};
    while (!failed) {
      if (!WaitReadable(udp.socketfd)) {
        failed = true;
        break;
      }
      if (udp.Recv() != 0) continue;
      udp.GetRecv(state);
      const int round = static_cast<int>(state.progress);
      for (const auto& ms : state.motorState) {
        if (ms.q != state.progress) failed = true;
      }
      {
        std::lock_guard<std::mutex> lock(m);
        seen = round;
      }
      cv.notify_all();
      if (round == kRounds - 1) break;
    }
    cv.notify_all();
  });

  HighCmd cmd{};
  udp.InitCmdData(cmd);
  for (int i = 0; i < kRounds && !failed; ++i) {
    cmd.yawSpeed = cmd.bodyHeight = cmd.velocity[1] = static_cast<float>(i);
    ASSERT_EQ(udp.SetSend(cmd), 0);
    ASSERT_EQ(udp.Send(), 129);
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return seen >= i || failed; })) {
      failed = true;
    }
  }
  receiver.join();
  robot.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(seen, kRounds - 1);
  EXPECT_EQ(udp.udpState.SendCount, static_cast<uint64_t>(kRounds));
}

// Two threads, each with its own low-level endpoint, packing and unpacking at once: the staging
// records are process-wide, and without their lock a send buffer held the other thread's command
// and a state came back mixed from two endpoints.
TEST(EndpointThreads, LowLevelStagingNeverCrossesEndpoints) {
#if defined(__SANITIZE_THREAD__)
  constexpr int kCalls = 5000;  // ThreadSanitizer reports the first unguarded overlap
#else
  constexpr int kCalls = 100000;
#endif
  detail::ResetTransportState();
  Peer peer;
  UDP a(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  UDP b(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  // Each endpoint publishes a state of its own first (Recv stays in this thread).
  for (UDP* udp : {&a, &b}) {
    peer.SendTo(BoundPort(udp->socketfd), LowStateDatagram(udp == &a ? 1 : 2));
    ASSERT_TRUE(WaitReadable(udp->socketfd));
    ASSERT_EQ(udp->Recv(), 0);
  }
  std::atomic<int> crossed{0};
  auto run = [&crossed](UDP& udp, float mark) {
    LowCmd cmd{};
    udp.InitCmdData(cmd);
    LowState expected{}, state{};
    LowState_refine packed_state;
    udp.GetRecv(reinterpret_cast<char*>(&packed_state));
    refineState(expected, packed_state);
    LowCmd_refine packed{};
    for (int i = 0; i < kCalls; ++i) {
      for (auto& m : cmd.motorCmd) m.q = mark + static_cast<float>(i);
      udp.SetSend(cmd);
      refineCmd(packed, cmd);  // the test's own record, not the staging one
      pthread_mutex_lock(&udp.sendMutex);
      const bool same_cmd = std::memcmp(udp.sendBuf.get(), &packed, sizeof packed) == 0;
      pthread_mutex_unlock(&udp.sendMutex);
      udp.GetRecv(state);
      const bool same_state = std::memcmp(&state, &expected, sizeof state) == 0;
      if (!same_cmd || !same_state) crossed++;
    }
  };
  std::thread other([&] { run(b, 0.5f); });
  run(a, 0.25f);
  other.join();
  EXPECT_EQ(crossed.load(), 0);
}
