// The shared test support against values worked out by hand: the scramble, datagram framing,
// the port in the emulator's listening line, and the peer on a real socket.
#include <gtest/gtest.h>

#include "torvane_test/datagrams.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/reference_checksum.h"
#include "torvane_test/sim_process.h"

using namespace torvane_test;

TEST(ReferenceChecksum, EmptyInputAndOneZeroWord) {
  const uint8_t zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(BitwiseCrc(zero, 0), 0xFFFFFFFFu);
  // One zero word shifts the all-ones register through 32 steps of the polynomial.
  EXPECT_EQ(BitwiseCrc(zero, 1), 0xC704DD7Bu);
}

TEST(ReferenceChecksum, ScrambleIsMaskThenRotateRight8) {
  EXPECT_EQ(Scrambled(0x5B3D7E91u), 0u);
  EXPECT_EQ(Scrambled(0x5B3D7E91u ^ 0x000000FFu), 0xFF000000u);
  EXPECT_EQ(Scrambled(0x5B3D7E91u ^ 0x12345678u), 0x78123456u);
}

TEST(Datagrams, FramedAndStampedInTheLastFourBytes) {
  const auto low = LowStateDatagram(3);
  ASSERT_EQ(low.size(), 807u);
  EXPECT_EQ(low[0], 0xFE);
  EXPECT_EQ(low[1], 0xEF);
  EXPECT_EQ(low[2], 0xFF);
  EXPECT_EQ(ReadLE32(&low[803]), BitwiseCrc(low.data(), 200));
  const auto high = HighStateDatagram(3);
  ASSERT_EQ(high.size(), 1087u);
  EXPECT_EQ(high[2], 0xEE);
  EXPECT_EQ(ReadLE32(&high[1083]), Scrambled(BitwiseCrc(high.data(), 270)));
}

// The emulator's trace digest: FNV-1a's prime, over an offset basis of 1469598103934665603
// (the standard basis has one digit more); the trace and the tests must agree on it.
TEST(Datagrams, DigestIsTheTracesFnv1a) {
  EXPECT_EQ(Digest(nullptr, 0), 1469598103934665603ull);
  const uint8_t a = 'a';
  EXPECT_EQ(Digest(&a, 1), 0x44BD8AD473CD9906ull);
}

TEST(SimProcessLine, PortOfTheListeningLine) {
  EXPECT_EQ(ListeningPort("torvane-sim: low level on 127.0.0.1:40123, lockstep at 500 Hz"), 40123);
  EXPECT_EQ(ListeningPort("torvane-sim: replay of x.pcap: 3 low-level datagrams of 1.2.3.4:8082 "
                          "over 0.1 s, on 127.0.0.1:51000"),
            51000);  // where it listens, not the robot's address
  EXPECT_EQ(ListeningPort("UDP Initialized. socketfd: 3   Port: 0"), 0);
}

TEST(LoopbackPeer, SendsAndReceivesOnRealSockets) {
  Peer a, b;
  ASSERT_NE(a.port(), 0);
  EXPECT_EQ(BoundPort(a.fd()), a.port());
  a.SendTo(b.port(), std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(b.Receive(), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(b.HasPending());
  EXPECT_TRUE(b.Receive(0).empty());
}
