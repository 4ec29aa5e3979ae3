// Every receive outcome and the link supervision, against a real peer socket on 127.0.0.1.
#include <gtest/gtest.h>

#include <climits>

#include "torvane/checksum.h"
#include "torvane/packing.h"
#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

class RecvTest : public TransportTest {
 protected:
  // A client of `peer` at the given lengths; `port` is where the peer reaches it. The local port
  // is a fixed one, as in real use.
  std::unique_ptr<UDP> Client(int send, int recv, RecvEnum mode = nonBlock, bool autoDc = false) {
    auto udp =
        std::make_unique<UDP>(UnusedPort(), "127.0.0.1", peer.port(), send, recv, autoDc, mode);
    port = BoundPort(udp->socketfd);
    return udp;
  }
  std::unique_ptr<UDP> Server(int send, int recv, RecvEnum mode = nonBlock, bool autoDc = false) {
    auto udp = std::make_unique<UDP>(UnusedPort(), send, recv, autoDc, mode, false);
    port = BoundPort(udp->socketfd);
    return udp;
  }
  // Sends and waits until the datagram is queued at the endpoint.
  void Deliver(const UDP& udp, const std::vector<uint8_t>& d) {
    peer.SendTo(BoundPort(udp.socketfd), d);
    ASSERT_TRUE(WaitReadable(udp.socketfd));
  }

  Peer peer;
  uint16_t port = 0;
};

}  // namespace

TEST_F(RecvTest, ValidLowStateIsPublishedAndUnpacked) {
  auto udp = Client(614, 807);
  const auto d = LowStateDatagram(3);
  Deliver(*udp, d);
  EXPECT_EQ(udp->Recv(), 0);
  EXPECT_EQ(udp->udpState.RecvCount, 1u);
  EXPECT_TRUE(udp->accessible);
  EXPECT_EQ(CopyOut(*udp), d);
  LowState state{};
  udp->GetRecv(state);
  LowState_refine packed;
  std::memcpy(&packed, d.data(), sizeof packed);
  LowState expected{};
  refineState(expected, packed);
  EXPECT_EQ(Bytes(state), Bytes(expected));
}

TEST_F(RecvTest, ChecksumFormsPerLevel) {
  auto high = Client(129, 1087);
  // High level: scrambled accepted, plain rejected.
  Deliver(*high, Datagram(1087, 0xEE, 1, true));
  EXPECT_EQ(high->Recv(), 0);
  const auto plain = Datagram(1087, 0xEE, 2, false);
  Deliver(*high, plain);
  EXPECT_EQ(high->Recv(), -3);
  EXPECT_EQ(high->udpState.RecvCRCError, 1u);
  EXPECT_EQ(CopyOut(*high), Datagram(1087, 0xEE, 1, true));  // unchanged
  HighState state{};
  high->GetRecv(state);
  EXPECT_EQ(Bytes(state), Datagram(1087, 0xEE, 1, true));

  // Low level: plain only; the scrambled form is a checksum error.
  auto low = Client(614, 807);
  Deliver(*low, Datagram(807, 0xFF, 1, true));
  EXPECT_EQ(low->Recv(), -3);
  Deliver(*low, Datagram(807, 0xFF, 1, false));
  EXPECT_EQ(low->Recv(), 0);

  // Developer mode: high level takes either form, low level still only the plain one.
  char diag[] = "[openDiagMode]";
  high->SetSend(diag);
  Deliver(*high, plain);
  EXPECT_EQ(high->Recv(), 0);
  Deliver(*high, Datagram(1087, 0xEE, 4, true));
  EXPECT_EQ(high->Recv(), 0);
  Deliver(*low, Datagram(807, 0xFF, 5, true));
  EXPECT_EQ(low->Recv(), -3);
  // The level byte is not compared with the endpoint's level: a plain-checksummed "low" datagram
  // of the high length is valid here.
  Deliver(*high, Datagram(1087, 0x00, 6, false));
  EXPECT_EQ(high->Recv(), 0);
}

TEST_F(RecvTest, BadHeaderIsRejectedWithoutCounter) {
  auto udp = Client(129, 1087);
  auto d = HighStateDatagram();
  d[1] = 0xEE;  // FE EE
  Deliver(*udp, d);
  EXPECT_EQ(udp->Recv(), -1);
  const UDPState s = udp->udpState;
  EXPECT_EQ(s.RecvCount + s.RecvCRCError + s.RecvLoseError, 0u);
  EXPECT_FALSE(udp->accessible);
}

TEST_F(RecvTest, NothingQueued) {
  auto drain = Client(129, 1087);
  EXPECT_EQ(drain->Recv(), -1);
  EXPECT_EQ(drain->udpState.RecvLoseError, 1u);
  auto single = Client(129, 1087, block);
  EXPECT_EQ(single->Recv(), -1);
  EXPECT_EQ(single->udpState.RecvLoseError, 0u);
}

TEST_F(RecvTest, DrainPublishesOnlyTheLast) {
  auto udp = Client(614, 807);
  for (uint32_t seed = 1; seed <= 5; ++seed)
    peer.SendTo(BoundPort(udp->socketfd), LowStateDatagram(seed));
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  EXPECT_EQ(udp->Recv(), 0);
  EXPECT_EQ(udp->udpState.RecvCount, 1u);
  EXPECT_EQ(CopyOut(*udp), LowStateDatagram(5));
  // A single-read endpoint takes them one per call.
  auto single = Client(614, 807, block);
  for (uint32_t seed = 1; seed <= 3; ++seed)
    peer.SendTo(BoundPort(single->socketfd), LowStateDatagram(seed));
  ASSERT_TRUE(WaitReadable(single->socketfd));
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    EXPECT_EQ(single->Recv(), 0);
    EXPECT_EQ(CopyOut(*single), LowStateDatagram(seed));
  }
}

TEST_F(RecvTest, ShortAndLongDatagrams) {
  auto udp = Client(129, 1087);
  const auto d = HighStateDatagram(9);
  Deliver(*udp, std::vector<uint8_t>(d.begin(), d.begin() + 1000));  // rest stays zero
  EXPECT_EQ(udp->Recv(), -3);
  auto longer = d;
  longer.resize(1500, 0xAA);  // cut to 1087 bytes, then valid
  Deliver(*udp, longer);
  EXPECT_EQ(udp->Recv(), 0);
  EXPECT_EQ(CopyOut(*udp), d);
}

TEST_F(RecvTest, ServerLearnsItsClientFromTheFirstDatagram) {
  auto udp = Server(129, 1087);
  EXPECT_EQ(udp->Recv(), -4);  // nothing taken
  EXPECT_EQ(udp->udpState.RecvLoseError, 1u);
  Deliver(*udp, HighStateDatagram(2));
  const Captured c = Capture([&] { EXPECT_EQ(udp->Recv(), 0); });
  EXPECT_EQ(c.out, "[UDP Connected] client! Client IP:127.0.0.1 port:" +
                       std::to_string(peer.port()) + "\n");
  EXPECT_TRUE(udp->connected);
  EXPECT_TRUE(udp->accessible);
  EXPECT_EQ(udp->targetIP, "127.0.0.1");
  EXPECT_EQ(udp->targetPort, peer.port());
  EXPECT_EQ(udp->Send(), 129);
  EXPECT_EQ(peer.Receive().size(), 129u);
  // A learned client that sends garbage next: the check decides as for any client.
  Deliver(*udp, std::vector<uint8_t>(1087, 0));
  EXPECT_EQ(udp->Recv(), -1);
}

// One 1-byte datagram "!" used to make a server connect to its sender and send every later
// command there.
TEST_F(RecvTest, StrayDatagramTeachesAServerNothing) {
  auto udp = Server(129, 1087, nonBlock, /*autoDc=*/true);
  Peer stranger;
  stranger.SendTo(port, "!", 1);
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  EXPECT_EQ(Capture([&] { EXPECT_EQ(udp->Recv(), -1); }).out, "");
  EXPECT_FALSE(udp->connected);
  EXPECT_EQ(udp->targetIP, "");
  EXPECT_EQ(udp->Send(), 0);
  EXPECT_FALSE(stranger.HasPending());

  // Several rejected in one call: the last one's check is the result, each checksum counted.
  auto plain = Datagram(1087, 0xEE, 1, false);  // high level wants the scrambled form
  stranger.SendTo(port, plain);
  stranger.SendTo(port, "!", 1);
  stranger.SendTo(port, plain);
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  EXPECT_EQ(udp->Recv(), -3);
  EXPECT_EQ(udp->udpState.RecvCRCError, 2u);
  EXPECT_EQ(udp->udpState.RecvLoseError, 0u);  // datagrams were read
  EXPECT_FALSE(udp->connected);
  EXPECT_EQ(udp->Recv(), -4);  // nothing read
  EXPECT_EQ(udp->udpState.RecvLoseError, 1u);

  // A rejected one, then the robot's valid one, then more of the robot's: the robot is learned
  // and the drain goes on to its last datagram.
  stranger.SendTo(port, plain);
  peer.SendTo(port, HighStateDatagram(2));
  peer.SendTo(port, HighStateDatagram(3));
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  const Captured c = Capture([&] { EXPECT_EQ(udp->Recv(), 0); });
  EXPECT_EQ(c.out, "[UDP Connected] client! Client IP:127.0.0.1 port:" +
                       std::to_string(peer.port()) + "\n");
  EXPECT_EQ(udp->targetPort, peer.port());
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(3));
  EXPECT_EQ(udp->udpState.RecvCRCError, 3u);
  EXPECT_EQ(udp->udpState.RecvCount, 1u);
  EXPECT_EQ(udp->supervision.disconnectCount, 0);
  EXPECT_EQ(udp->Send(), 129);
  EXPECT_EQ(peer.Receive().size(), 129u);
  EXPECT_FALSE(stranger.HasPending());
}

TEST_F(RecvTest, ServerInSingleReadModeNeverLearns) {
  auto udp = Server(129, 1087, block);
  for (int i = 0; i < 3; ++i) {
    Deliver(*udp, HighStateDatagram());
    EXPECT_EQ(udp->Recv(), -4);
  }
  EXPECT_FALSE(udp->connected);
  EXPECT_EQ(udp->udpState.RecvLoseError, 0u);
}

TEST_F(RecvTest, AccessibleAndDropAfterThreshold) {
  auto udp = Client(129, 1087, nonBlock, /*autoDc=*/true);
  Deliver(*udp, HighStateDatagram());
  ASSERT_EQ(udp->Recv(), 0);
  ASSERT_TRUE(udp->accessible);
  for (int i = 1; i <= 500; ++i) ASSERT_EQ(udp->Recv(), -1) << i;
  EXPECT_TRUE(udp->accessible);  // the 500th silent call keeps it
  EXPECT_EQ(udp->udpState.RecvLoseError, 500u);
  const Captured c = Capture([&] { EXPECT_EQ(udp->Recv(), 1); });
  EXPECT_EQ(c.out, "[UDP Disconnected] client! socketfd:" + std::to_string(udp->socketfd) +
                       " Old Client IP:127.0.0.1 port:" + std::to_string(peer.port()) + "\n");
  EXPECT_EQ(c.err, "");
  EXPECT_FALSE(udp->accessible);
  EXPECT_FALSE(udp->connected);
  EXPECT_TRUE(udp->supervision.relistenWindow);
  EXPECT_EQ(CopyOut(*udp), std::vector<uint8_t>(1087, 0));  // cleared
  EXPECT_EQ(udp->udpState.RecvLoseError, 500u);             // the drop counts nothing
  EXPECT_EQ(udp->Send(), 0);
}

TEST_F(RecvTest, AccessibleClearsWithoutAutoDisconnect) {
  auto udp = Client(129, 1087);
  Deliver(*udp, HighStateDatagram());
  ASSERT_EQ(udp->Recv(), 0);
  udp->SetAccessibleTime(0.001f, 0.003f);  // 3 calls
  for (int i = 0; i < 3; ++i) udp->Recv();
  EXPECT_TRUE(udp->accessible);
  EXPECT_EQ(udp->Recv(), -1);
  EXPECT_FALSE(udp->accessible);
  EXPECT_TRUE(udp->connected);
}

TEST_F(RecvTest, SupervisionCountersSaturate) {
  auto udp = Client(129, 1087, block, /*autoDc=*/true);
  transportState.disconnectThreshold = INT_MAX;
  for (int i = 0; i < 100010; ++i) udp->Recv();
  EXPECT_EQ(udp->supervision.idleCount, 100000);
  EXPECT_EQ(udp->supervision.disconnectCount, 100000);
  EXPECT_TRUE(udp->connected);
}

TEST_F(RecvTest, RelistenWindowDiscardsTenCallsThenLearns) {
  auto udp = Client(129, 1087, nonBlock, /*autoDc=*/true);
  udp->SetDisconnectTime(0.001f, 0.002f);  // dropped on the 3rd silent call
  udp->Recv();
  udp->Recv();
  ASSERT_EQ(udp->Recv(), 1);
  const uint64_t losses = udp->udpState.RecvLoseError;  // the two silent calls before the drop
  Peer newcomer;
  for (int call = 1; call <= 10; ++call) {
    newcomer.SendTo(port, HighStateDatagram(call));
    ASSERT_TRUE(WaitReadable(udp->socketfd));
    ASSERT_EQ(udp->Recv(), -4) << "call " << call;
  }
  EXPECT_EQ(udp->udpState.RecvLoseError, losses);  // discarded datagrams are not losses
  EXPECT_EQ(udp->udpState.RecvCount, 0u);
  newcomer.SendTo(port, HighStateDatagram(11));
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  const Captured c = Capture([&] { EXPECT_EQ(udp->Recv(), 0); });
  EXPECT_EQ(c.out, "[UDP Connected] client! Client IP:127.0.0.1 port:" +
                       std::to_string(newcomer.port()) + "\n");
  EXPECT_EQ(udp->targetPort, newcomer.port());
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(11));
}

// A dropped client's first datagram used to be learned from even when it was garbage, and the
// disconnect count, still above the threshold, dropped the new client on the very next call.
TEST_F(RecvTest, InvalidFirstDatagramAfterDropTeachesNothing) {
  auto udp = Client(129, 1087, nonBlock, /*autoDc=*/true);
  udp->SetDisconnectTime(0.001f, 0.001f);  // threshold 1
  udp->Recv();
  ASSERT_EQ(udp->Recv(), 1);
  for (int i = 0; i < 10; ++i) udp->Recv();  // window passes
  Deliver(*udp, std::vector<uint8_t>(1087, 0x11));
  EXPECT_EQ(udp->Recv(), -1);  // read, rejected, not learned
  EXPECT_FALSE(udp->connected);
  EXPECT_EQ(udp->Send(), 0);
  Deliver(*udp, HighStateDatagram(3));
  EXPECT_EQ(
      Capture([&] { EXPECT_EQ(udp->Recv(), 0); }).out,
      "[UDP Connected] client! Client IP:127.0.0.1 port:" + std::to_string(peer.port()) + "\n");
  EXPECT_TRUE(udp->connected);
  EXPECT_EQ(udp->Recv(), -1);  // silent, but the new client's counts started afresh
  EXPECT_TRUE(udp->connected);
  EXPECT_EQ(udp->Recv(), 1);  // the threshold still holds for it
}

TEST_F(RecvTest, TimedPathExpiresDrainsAndChecks) {
  auto udp = Client(129, 1087, blockTimeout);
  EXPECT_EQ(udp->Recv(), -2);
  EXPECT_EQ(udp->udpState.RecvLoseError, 1u);
  Deliver(*udp, HighStateDatagram(1));
  peer.SendTo(port, HighStateDatagram(2));
  ASSERT_TRUE(WaitReadable(udp->socketfd));
  EXPECT_EQ(udp->Recv(), 0);
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(2));  // drained to the last
  EXPECT_TRUE(udp->accessible);
  EXPECT_EQ(udp->supervision.idleCount, 0);
  auto bad = HighStateDatagram(3);
  bad[500] ^= 1;
  Deliver(*udp, bad);
  EXPECT_EQ(udp->Recv(), -3);
  bad[0] = 0;
  Deliver(*udp, bad);
  EXPECT_EQ(udp->Recv(), -1);
  EXPECT_EQ(udp->udpState.RecvCRCError, 1u);
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(2));
}

// A server on the timed path could never learn a client, so it could never answer.
TEST_F(RecvTest, TimedServerLearnsItsClientFromAValidDatagram) {
  auto udp = Server(129, 1087, blockTimeout, /*autoDc=*/true);
  const std::vector<uint8_t> stray = {'!'};
  Deliver(*udp, stray);
  EXPECT_EQ(udp->Recv(), -1);
  auto bad = HighStateDatagram(1);
  bad[700] ^= 0x40;
  Deliver(*udp, bad);
  EXPECT_EQ(udp->Recv(), -3);
  EXPECT_EQ(udp->udpState.RecvCRCError, 1u);
  EXPECT_FALSE(udp->connected);
  EXPECT_EQ(udp->Send(), 0);

  Deliver(*udp, HighStateDatagram(2));
  const Captured c = Capture([&] { EXPECT_EQ(udp->Recv(), 0); });
  EXPECT_EQ(c.out, "[UDP Connected] client! Client IP:127.0.0.1 port:" +
                       std::to_string(peer.port()) + "\n");
  EXPECT_TRUE(udp->connected);
  EXPECT_TRUE(udp->accessible);
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(2));
  EXPECT_EQ(udp->Send(), 129);
  EXPECT_EQ(peer.Receive().size(), 129u);

  // Dropped after a silence, it discards for ten calls as the draining path does, then learns.
  udp->SetDisconnectTime(0.001f, 0.002f);
  udp->SetRecvTimeout(1);
  EXPECT_EQ(udp->Recv(), -2);
  EXPECT_EQ(udp->Recv(), -2);
  ASSERT_EQ(udp->Recv(), 1);
  for (int call = 1; call <= 10; ++call) {
    Deliver(*udp, HighStateDatagram(10 + call));
    ASSERT_EQ(udp->Recv(), -4) << "call " << call;
  }
  EXPECT_FALSE(udp->connected);
  Deliver(*udp, HighStateDatagram(30));
  EXPECT_EQ(
      Capture([&] { EXPECT_EQ(udp->Recv(), 0); }).out,
      "[UDP Connected] client! Client IP:127.0.0.1 port:" + std::to_string(peer.port()) + "\n");
  EXPECT_EQ(CopyOut(*udp), HighStateDatagram(30));
}

// A timed client whose robot answered every cycle used to be dropped once the disconnect count
// passed its threshold; every later Send then sent nothing and said so with a plain 0.
TEST_F(RecvTest, TimedClientThatKeepsAnsweringIsNeverDropped) {
  auto udp = Client(614, 807, blockTimeout, /*autoDc=*/true);
  udp->SetDisconnectTime(0.01f, 0.2f);  // 20 calls
  LowCmd cmd{};
  udp->InitCmdData(cmd);
  for (int cycle = 1; cycle <= 60; ++cycle) {
    udp->SetSend(cmd);
    ASSERT_EQ(udp->Send(), 614) << cycle;
    ASSERT_EQ(peer.Receive().size(), 614u);
    Deliver(*udp, LowStateDatagram(cycle));
    ASSERT_EQ(udp->Recv(), 0) << cycle;
    ASSERT_TRUE(udp->accessible);
  }
  EXPECT_TRUE(udp->connected);
  EXPECT_EQ(udp->udpState.RecvCount, 60u);
  // Silence still drops it.
  udp->SetRecvTimeout(1);
  for (int i = 1; i <= 20; ++i) ASSERT_EQ(udp->Recv(), -2) << i;
  EXPECT_EQ(udp->Recv(), 1);
}

// A timeout of a second or more is split into seconds and microseconds, so the wait really
// waits instead of failing at once.
TEST_F(RecvTest, LongTimeoutWaitsTheFullTime) {
  auto udp = Client(129, 1087, blockTimeout);
  udp->SetRecvTimeout(1000);
  EXPECT_EQ(udp->Recv(), -2);
  EXPECT_EQ(udp->udpState.RecvLoseError, 1u);
  Deliver(*udp, HighStateDatagram());
  EXPECT_EQ(udp->Recv(), 0);
}

// With the socket left blocking, a non-timed Recv still returns at once.
TEST_F(RecvTest, NonTimedRecvNeverBlocksOnABlockingSocket) {
  auto drain = Client(129, 1087, blockTimeout);
  drain->SetRecvTimeout(0);
  EXPECT_EQ(drain->Recv(), -1);
  EXPECT_EQ(drain->udpState.RecvLoseError, 1u);
  Deliver(*drain, HighStateDatagram());
  EXPECT_EQ(drain->Recv(), 0);

  UDP deferred(0, 129, 1087, false, nonBlock, true);
  deferred.SetRecvTimeout(0);  // before set-up: the socket stays blocking
  deferred.SetIpPort("127.0.0.1", peer.port());
  EXPECT_FALSE(fcntl(deferred.socketfd, F_GETFL) & O_NONBLOCK);
  deferred.drainAll = false;
  EXPECT_EQ(deferred.Recv(), -1);
}

// With two endpoints, valid datagrams on one used to keep the other accessible and connected
// however long it was silent, and a drop on one made every other server discard for ten calls.
TEST_F(RecvTest, EachEndpointSupervisesItsOwnLink) {
  auto a = Client(129, 1087, nonBlock, /*autoDc=*/true);
  auto b = Client(129, 1087, nonBlock, /*autoDc=*/true);
  a->SetDisconnectTime(1.0f, 5.0f);  // process-wide: 5 calls for both
  b->SetAccessibleTime(1.0f, 3.0f);  // 3 calls for both
  Deliver(*b, HighStateDatagram(1));
  ASSERT_EQ(b->Recv(), 0);
  for (int call = 1; call <= 5; ++call) {
    Deliver(*a, HighStateDatagram(call));
    ASSERT_EQ(a->Recv(), 0) << call;
    ASSERT_EQ(b->Recv(), -1) << call;
    EXPECT_EQ(b->accessible, call <= 3) << call;
  }
  EXPECT_EQ(a->supervision.idleCount, 0);
  EXPECT_EQ(b->supervision.idleCount, 5);
  Deliver(*a, HighStateDatagram(6));
  ASSERT_EQ(a->Recv(), 0);
  EXPECT_EQ(b->Recv(), 1);  // b's own sixth silent call drops it; a stays
  EXPECT_TRUE(a->connected);
  EXPECT_TRUE(a->accessible);
  EXPECT_TRUE(b->supervision.relistenWindow);
  EXPECT_FALSE(a->supervision.relistenWindow);

  // b's relisten window is b's own: a server beside it learns at once.
  auto server = Server(129, 1087);
  Deliver(*server, HighStateDatagram(7));
  EXPECT_EQ(Capture([&] { EXPECT_EQ(server->Recv(), 0); }).err, "");
  EXPECT_TRUE(server->connected);
  Deliver(*b, HighStateDatagram(8));
  EXPECT_EQ(b->Recv(), -4);  // still in its window
  EXPECT_EQ(server->supervision.idleCount, 0);
  EXPECT_EQ(b->supervision.relistenCount, 1);
}

// Linux releases an automatically assigned port when a drop dissolves the association: an
// endpoint bound to port 0 used to hear nothing more afterwards.
TEST_F(RecvTest, PortZeroEndpointKeepsItsPortAfterADrop) {
  for (const RecvEnum mode : {nonBlock, blockTimeout}) {
    SCOPED_TRACE(mode);
    UDP udp(0, "127.0.0.1", peer.port(), 129, 1087, /*autoDisconnect=*/true, mode);
    udp.SetDisconnectTime(0.001f, 0.001f);  // threshold 1
    const uint16_t assigned = BoundPort(udp.socketfd);
    ASSERT_NE(assigned, 0);
    udp.Send();
    ASSERT_EQ(peer.Receive().size(), 129u);
    udp.SetRecvTimeout(mode == blockTimeout ? 1 : -1);
    udp.Recv();
    const Captured c = Capture([&] { ASSERT_EQ(udp.Recv(), 1); });
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(BoundPort(udp.socketfd), assigned);
    EXPECT_EQ(udp.localPort, 0);
    // The robot goes on sending to the port it knows: after the window it is heard and learned.
    for (int call = 1; call <= 10; ++call) {
      peer.SendTo(assigned, HighStateDatagram(call));
      ASSERT_TRUE(WaitReadable(udp.socketfd)) << call;
      ASSERT_EQ(udp.Recv(), -4) << call;
    }
    peer.SendTo(assigned, HighStateDatagram(11));
    ASSERT_TRUE(WaitReadable(udp.socketfd));
    EXPECT_EQ(Capture([&] { EXPECT_EQ(udp.Recv(), 0); }).err, "");
    EXPECT_TRUE(udp.connected);
    EXPECT_EQ(udp.Send(), 129);
    EXPECT_EQ(peer.Receive().size(), 129u);
  }
}
