// The link monitor: counts, the one-second window, gaps, and the lost and restored events, from
// made-up results and from a real endpoint whose peer falls silent.
#include "torvane/link_monitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "torvane/udp.h"
#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

struct Events {
  std::vector<std::string> seen;
  static void Note(LinkEvent event, const LinkMonitor& m, void* user) {
    static_cast<Events*>(user)->seen.push_back((event == LinkEvent::kLost ? "lost@" : "restored@") +
                                               std::to_string(m.Cycles()));
  }
};

}  // namespace

TEST(LinkMonitor, CountsGapsAndEvents) {
  LinkMonitor m(0.01, 0.05);  // 100 cycles a second; lost after 5 cycles without a state
  ASSERT_TRUE(m.Valid());
  EXPECT_EQ(m.WindowCycles(), 100u);
  EXPECT_EQ(m.LostAfterCycles(), 5u);
  EXPECT_DOUBLE_EQ(m.SuccessRate(), 1.0);
  Events events;
  m.SetCallback(&Events::Note, &events);

  for (int i = 0; i < 3; ++i) EXPECT_FALSE(m.Update(0));
  EXPECT_FALSE(m.Update(-1));
  EXPECT_FALSE(m.Update(-2));
  EXPECT_EQ(m.CyclesSinceValid(), 2u);
  EXPECT_DOUBLE_EQ(m.SecondsSinceValid(), 0.02);
  EXPECT_DOUBLE_EQ(m.SuccessRate(), 3.0 / 5.0);
  EXPECT_FALSE(m.Update(-3));
  EXPECT_FALSE(m.Update(-4));
  EXPECT_TRUE(m.Update(1));  // the fifth cycle in a row without a state; a drop is none either
  EXPECT_TRUE(m.Lost());
  EXPECT_TRUE(m.Update(-1));
  EXPECT_EQ(m.LongestGapCycles(), 6u);
  EXPECT_DOUBLE_EQ(m.LongestGapSeconds(), 0.06);
  EXPECT_FALSE(m.Update(0));
  EXPECT_FALSE(m.Lost());
  EXPECT_EQ(m.CyclesSinceValid(), 0u);
  EXPECT_FALSE(m.Update(-1));
  EXPECT_EQ(m.LongestGapCycles(), 6u);  // a shorter gap keeps the longest
  EXPECT_EQ(m.Cycles(), 11u);
  EXPECT_EQ(m.ValidCycles(), 4u);
  EXPECT_EQ(m.LostEvents(), 1u);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"lost@8", "restored@10"}));

  m.Reset();
  EXPECT_EQ(m.Cycles(), 0u);
  EXPECT_EQ(m.LongestGapCycles(), 0u);
  EXPECT_DOUBLE_EQ(m.SuccessRate(), 1.0);
  EXPECT_FALSE(m.Lost());
}

TEST(LinkMonitor, SuccessRateOverTheLastSecondOnly) {
  LinkMonitor m(0.002, 1.0);  // 500 cycles a second
  ASSERT_EQ(m.WindowCycles(), 500u);
  for (int i = 0; i < 1000; ++i) m.Update(-1);  // a silent second long gone
  for (int i = 0; i < 250; ++i) m.Update(-1);
  for (int i = 0; i < 250; ++i) m.Update(0);
  EXPECT_DOUBLE_EQ(m.SuccessRate(), 0.5);
  for (int i = 0; i < 250; ++i) m.Update(0);
  EXPECT_DOUBLE_EQ(m.SuccessRate(), 1.0);
  EXPECT_EQ(m.LongestGapCycles(), 1250u);
  EXPECT_EQ(m.LostEvents(), 1u);  // lost once, however long the silence
}

TEST(LinkMonitor, NeverAnsweringLinkIsLost) {
  LinkMonitor m(0.001, 0.0);  // lost after at least one cycle
  EXPECT_EQ(m.LostAfterCycles(), 1u);
  EXPECT_TRUE(m.Update(-4));
  EXPECT_EQ(m.LostEvents(), 1u);
}

TEST(LinkMonitor, RefusesAPeriodThatIsNotAboveZero) {
  for (double period : {0.0, -1.0, 1e-9}) {
    Captured c = Capture([&] {
      LinkMonitor m(period);
      EXPECT_FALSE(m.Valid());
      EXPECT_FALSE(m.Update(-1));
      EXPECT_EQ(m.Cycles(), 0u);
    });
    EXPECT_EQ(c.out.rfind("[Error] LinkMonitor: the period must be at least 1e-06 s, not ", 0), 0u)
        << c.out;
  }
}

// A real endpoint and a peer that answers, falls silent, and answers again: the monitor sees what
// Recv says.
TEST(LinkMonitor, FollowsARealEndpoint) {
  detail::ResetTransportState();
  Peer peer;
  Captured c = Capture([&] {
    UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
    const uint16_t port = BoundPort(udp.socketfd);
    LinkMonitor m(0.002, 0.01);  // lost after 5 silent cycles
    Events events;
    m.SetCallback(&Events::Note, &events);
    auto cycle = [&](bool answer) {
      if (answer) {
        peer.SendTo(port, HighStateDatagram(m.Cycles() + 1));
        ASSERT_TRUE(WaitReadable(udp.socketfd));
      }
      m.Update(udp.Recv());
    };
    for (int i = 0; i < 10; ++i) cycle(true);
    for (int i = 0; i < 7; ++i) cycle(false);
    EXPECT_TRUE(m.Lost());
    for (int i = 0; i < 3; ++i) cycle(true);
    EXPECT_FALSE(m.Lost());
    EXPECT_EQ(m.ValidCycles(), 13u);
    EXPECT_EQ(m.ValidCycles(), udp.udpState.RecvCount);
    EXPECT_EQ(m.LongestGapCycles(), 7u);
    EXPECT_DOUBLE_EQ(m.SuccessRate(), 13.0 / 20.0);
    EXPECT_EQ(events.seen, (std::vector<std::string>{"lost@15", "restored@18"}));
  });
}
