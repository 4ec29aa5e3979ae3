// Construction, set-up, setters, the send path, copy-out and tear-down of the endpoint.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <limits>

#include "torvane/checksum.h"
#include "torvane/packing.h"
#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

using EndpointTest = TransportTest;

namespace {

// What connecting a plain datagram socket to address:port fails with (strerror), or "" if it
// succeeds.
std::string PlainConnectError(in_addr_t address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  const bool failed = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0;
  const std::string reason = failed ? std::strerror(errno) : "";
  close(fd);
  return reason;
}

}  // namespace

TEST_F(EndpointTest, LevelConstructorPicksLengths) {
  Peer peer;
  UDP high(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  EXPECT_EQ(high.sendLength, 129);
  EXPECT_EQ(high.recvLength, 1087);
  EXPECT_TRUE(high.connected);
  EXPECT_FALSE(high.accessible);
  EXPECT_TRUE(high.drainAll);
  EXPECT_EQ(high.recvTimeoutMs, -1);
  EXPECT_FALSE(high.autoDisconnect);
  UDP low(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  EXPECT_EQ(low.sendLength, 614);
  EXPECT_EQ(low.recvLength, 807);
}

TEST(EndpointDeathTest, UnknownLevelEndsTheProcess) {
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the message goes to standard output; let the matcher see it
        UDP bad(0x00, 0, "127.0.0.1", 9);
      },
      ::testing::ExitedWithCode(255), "^Level Flag Error.\n$");
}

TEST_F(EndpointTest, InitPrintsOneLineAndSetsModes) {
  std::unique_ptr<UDP> udp;
  const Captured c = Capture([&] { udp.reset(new UDP(0, 129, 1087, false, nonBlock, false)); });
  EXPECT_EQ(c.out, "UDP Initialized. socketfd: " + std::to_string(udp->socketfd) + "   Port: 0\n");
  EXPECT_TRUE(fcntl(udp->socketfd, F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(udp->connected);
  EXPECT_TRUE(udp->targetIP.empty());

  UDP single(0, 129, 1087, false, block, false);
  EXPECT_FALSE(single.drainAll);
  EXPECT_EQ(single.recvTimeoutMs, -1);
  EXPECT_TRUE(fcntl(single.socketfd, F_GETFL) & O_NONBLOCK);

  UDP timed(0, 129, 1087, false, blockTimeout, false);
  EXPECT_TRUE(timed.drainAll);
  EXPECT_EQ(timed.recvTimeoutMs, 2);
  EXPECT_FALSE(fcntl(timed.socketfd, F_GETFL) & O_NONBLOCK);
  timed.SetRecvTimeout(-1);  // only the timeout changes, never the socket's mode
  EXPECT_EQ(timed.recvTimeoutMs, -1);
  EXPECT_FALSE(fcntl(timed.socketfd, F_GETFL) & O_NONBLOCK);

  UDP other(0, 129, 1087, false, static_cast<RecvEnum>(7), false);
  EXPECT_TRUE(other.drainAll);
  EXPECT_EQ(other.recvTimeoutMs, -1);
}

TEST_F(EndpointTest, SocketFailuresAreReportedAndSetUpGoesOn) {
  UDP first(0, 129, 1087, false, nonBlock, false);
  const uint16_t port = BoundPort(first.socketfd);
  std::unique_ptr<UDP> second;
  Captured c = Capture([&] { second.reset(new UDP(port, 129, 1087, false, nonBlock, false)); });
  EXPECT_EQ(c.err, "[Error] Bind client ip&port failed: Address already in use\n");
  EXPECT_NE(c.out.find("UDP Initialized."), std::string::npos);

  // 300.1.1.1 is no address: inet_addr gives the broadcast address, which a socket without
  // SO_BROADCAST may not connect to. Which error the kernel names depends on the routes (with
  // loopback only there is no route at all), so the message is held against a plain socket's.
  const std::string reason = PlainConnectError(inet_addr("300.1.1.1"), 9);
  ASSERT_FALSE(reason.empty()) << "connecting to the broadcast address succeeded";
  std::unique_ptr<UDP> client;
  c = Capture([&] { client.reset(new UDP(0, "300.1.1.1", 9, 129, 1087, false, nonBlock)); });
  EXPECT_EQ(c.err, "[Error] Connect failed: " + reason + "\n");
  EXPECT_EQ(c.out.substr(0, 21), "target IP:300.1.1.1\nU");
  EXPECT_TRUE(client->connected);
}

TEST_F(EndpointTest, DestructorMessages) {
  auto* server = new UDP(0, 129, 1087, false, nonBlock, false);
  Captured c = Capture([&] { delete server; });
  // Shutting down a never-connected datagram socket fails on Linux.
  EXPECT_EQ(c.out, "Closing UDP.\n[Error] Close UDP Failed.\n");

  Peer peer;
  auto* client = new UDP(0, "127.0.0.1", peer.port(), 129, 1087, false, nonBlock);
  c = Capture([&] { delete client; });
  EXPECT_EQ(c.out, "Closing UDP.\n");

  auto* deferred = new UDP(0, 129, 1087, false, nonBlock, true);
  EXPECT_EQ(deferred->socketfd, -1);
  c = Capture([&] { delete deferred; });
  EXPECT_EQ(c.out, "Closing UDP.\n");
}

TEST_F(EndpointTest, SendWithoutPeerSendsNothing) {
  UDP server(0, 129, 1087, false, nonBlock, false);
  EXPECT_EQ(server.Send(), 0);
  EXPECT_EQ(server.udpState.SendCount, 0u);
}

TEST_F(EndpointTest, SendBeforeSetSendTransmitsZeros) {
  Peer peer;
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  EXPECT_EQ(udp.Send(), 129);
  EXPECT_EQ(udp.udpState.SendCount, 1u);
  EXPECT_EQ(peer.Receive(), std::vector<uint8_t>(129, 0));
}

TEST_F(EndpointTest, HighCmdGoesOutByteExactWithPlainChecksum) {
  Peer peer;
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  HighCmd cmd{};
  udp.InitCmdData(cmd);
  cmd.mode = 2;
  cmd.velocity = {0.5f, -0.25f};
  cmd.wirelessRemote[39] = 0xAB;
  EXPECT_EQ(udp.SetSend(cmd), 0);
  auto image = Bytes(cmd);
  EXPECT_EQ(ReadLE32(&image[125]), BitwiseCrc(image.data(), 31));  // stamped into the record
  ASSERT_EQ(udp.Send(), 129);
  EXPECT_EQ(peer.Receive(), image);

  // [maskChkSum] scrambles what SetSend stamped; applied twice it scrambles twice.
  char mask[] = "[maskChkSum]";
  EXPECT_EQ(udp.SetSend(mask), 0);
  udp.Send();
  auto got = peer.Receive();
  EXPECT_EQ(ReadLE32(&got[125]), Scrambled(BitwiseCrc(image.data(), 31)));
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 125),
            std::vector<uint8_t>(image.begin(), image.begin() + 125));
  udp.SetSend(mask);
  udp.Send();
  EXPECT_EQ(ReadLE32(&peer.Receive()[125]), Scrambled(Scrambled(BitwiseCrc(image.data(), 31))));
  udp.SetSend(cmd);  // the next ordinary SetSend writes the plain checksum again
  udp.Send();
  EXPECT_EQ(peer.Receive(), image);
}

TEST_F(EndpointTest, LowCmdGoesOutPacked) {
  Peer peer;
  UDP udp(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  LowCmd cmd{};
  udp.InitCmdData(cmd);
  cmd.motorCmd[4].tau = 1.0f;
  cmd.motorCmd[4].Kp = 20.0f;
  const auto before = Bytes(cmd);
  EXPECT_EQ(udp.SetSend(cmd), 0);
  EXPECT_EQ(Bytes(cmd), before);  // the caller's record is left alone
  LowCmd_refine expected{};
  refineCmd(expected, cmd);
  ASSERT_EQ(udp.Send(), 614);
  const auto got = peer.Receive();
  EXPECT_EQ(got, Bytes(expected));
  EXPECT_EQ(ReadLE32(&got[610]), BitwiseCrc(got.data(), 152));
  EXPECT_EQ(got[22 + 27 * 4 + 9], 0x00);  // tau 1.0 -> 256 = 00 01
  EXPECT_EQ(got[22 + 27 * 4 + 10], 0x01);
}

TEST_F(EndpointTest, CommandTexts) {
  Peer peer;
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  // Before any other SetSend the mask works on the zero buffer, on its last four bytes only.
  char mask[] = "[maskChkSum] and more";
  EXPECT_EQ(udp.SetSend(mask), 0);
  std::vector<uint8_t> expected(129, 0);
  StoreLE32(&expected[125], Scrambled(0));
  udp.Send();
  EXPECT_EQ(peer.Receive(), expected);

  EXPECT_FALSE(transportState.developer);
  char diag[] = "[openDiagMode]whatever follows";
  EXPECT_EQ(udp.SetSend(diag), 0);
  EXPECT_TRUE(transportState.developer);
  EXPECT_FALSE(peer.HasPending());
  udp.Send();
  EXPECT_EQ(peer.Receive(), expected);  // the text was not staged

  char almost[] = "[maskChkSum";  // stops short of the command: a raw datagram of 12 bytes
  UDP raw(0, "127.0.0.1", peer.port(), 12, 16, false, nonBlock);
  EXPECT_EQ(raw.SetSend(almost), 0);
  EXPECT_EQ(ReadLE32(reinterpret_cast<uint8_t*>(almost) + 8),
            BitwiseCrc(reinterpret_cast<uint8_t*>(almost), 2));
}

TEST_F(EndpointTest, RawDatagramGetsChecksumInCallersBuffer) {
  Peer peer;
  UDP udp(0, "127.0.0.1", peer.port(), 11, 16, false, nonBlock);
  char buf[11] = {1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0};
  EXPECT_EQ(udp.SetSend(buf), 0);
  // 11 bytes: one covered word, bytes 4-6 covered by nothing, checksum at 7-10.
  EXPECT_EQ(ReadLE32(reinterpret_cast<uint8_t*>(buf) + 7),
            BitwiseCrc(reinterpret_cast<uint8_t*>(buf), 1));
  udp.Send();
  EXPECT_EQ(peer.Receive(), std::vector<uint8_t>(buf, buf + 11));
}

TEST_F(EndpointTest, ThresholdArithmetic) {
  UDP udp(0, 129, 1087, false, nonBlock, true);
  udp.SetDisconnectTime(0.01f, 1.0f);
  EXPECT_EQ(transportState.disconnectThreshold, 100);
  EXPECT_TRUE(udp.autoDisconnect);
  udp.SetDisconnectTime(0.002f, 1.0f);  // 499.99997 in single precision, truncated
  EXPECT_EQ(transportState.disconnectThreshold, 499);
  udp.SetDisconnectTime(0.002f, 0.0f);
  EXPECT_EQ(transportState.disconnectThreshold, 1);
  udp.SetDisconnectTime(0.002f, -3.0f);
  EXPECT_EQ(transportState.disconnectThreshold, 1);
  udp.SetAccessibleTime(0.01f, 0.005f);
  EXPECT_EQ(transportState.accessibleThreshold, 0);

  UDP other(0, 129, 1087, false, nonBlock, true);
  const Captured c = Capture([&] {
    other.SetDisconnectTime(0.0f, 1.0f);
    other.SetAccessibleTime(1e-7f, 1.0f);
  });
  EXPECT_EQ(c.out,
            "[WARNNING] callback_dt can not be zero!  func: SetDisconnectTime() \n"
            "[WARNNING] callback_dt can not be zero!  func: SetAccessibleTime() \n");
  EXPECT_EQ(transportState.disconnectThreshold, 500);
  EXPECT_EQ(transportState.accessibleThreshold, 500);
  EXPECT_FALSE(other.autoDisconnect);
}

TEST_F(EndpointTest, ThresholdsSaturateInsteadOfOverflowing) {
  UDP udp(0, 129, 1087, false, nonBlock, true);
  udp.SetDisconnectTime(1e-5f, 1e30f);
  EXPECT_EQ(transportState.disconnectThreshold, INT_MAX);
  udp.SetAccessibleTime(0.001f, std::numeric_limits<float>::infinity());
  EXPECT_EQ(transportState.accessibleThreshold, INT_MAX);
  udp.SetAccessibleTime(0.001f, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(transportState.accessibleThreshold, INT_MAX);
  udp.SetDisconnectTime(std::numeric_limits<float>::quiet_NaN(), 1.0f);
  EXPECT_EQ(transportState.disconnectThreshold, INT_MAX);
  udp.SetDisconnectTime(0.001f, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(transportState.disconnectThreshold, 1);
}

TEST_F(EndpointTest, ThresholdsAreProcessWide) {
  UDP a(0, 129, 1087, false, nonBlock, true);
  UDP b(0, 129, 1087, false, nonBlock, true);
  a.SetAccessibleTime(0.01f, 1.0f);
  b.SetDisconnectTime(0.01f, 2.0f);
  EXPECT_EQ(transportState.accessibleThreshold, 100);
  EXPECT_EQ(transportState.disconnectThreshold, 200);
  EXPECT_FALSE(a.autoDisconnect);
  EXPECT_TRUE(b.autoDisconnect);
}

// Copies larger than the endpoint's buffers are refused, with a line and nothing touched.
TEST_F(EndpointTest, OversizedRecordCopiesAreRefused) {
  Peer peer;
  UDP small(0, "127.0.0.1", peer.port(), 128, 1086, false, nonBlock);
  HighCmd cmd{};
  cmd.mode = 9;
  Captured c = Capture([&] { EXPECT_EQ(small.SetSend(cmd), -1); });
  EXPECT_EQ(c.out.rfind("[Error] SetSend(HighCmd) refused", 0), 0u) << c.out;
  EXPECT_EQ(cmd.crc, 0u);  // not even stamped
  LowCmd low{};
  c = Capture([&] { EXPECT_EQ(small.SetSend(low), -1); });
  EXPECT_EQ(c.out.rfind("[Error] SetSend(LowCmd) refused", 0), 0u);
  small.Send();
  EXPECT_EQ(peer.Receive(), std::vector<uint8_t>(128, 0));

  HighState high;
  std::memset(&high, 0x77, sizeof high);
  c = Capture([&] { small.GetRecv(high); });
  EXPECT_EQ(c.out.rfind("[Error] GetRecv(HighState) refused", 0), 0u);
  for (uint8_t b : Bytes(high)) ASSERT_EQ(b, 0x77);

  UDP mid(0, "127.0.0.1", peer.port(), 613, 806, false, nonBlock);
  EXPECT_EQ(mid.SetSend(low), -1);
  LowState state;
  std::memset(&state, 0x55, sizeof state);
  mid.GetRecv(state);
  for (uint8_t b : Bytes(state)) ASSERT_EQ(b, 0x55);

  EXPECT_EQ(small.SetSend(static_cast<char*>(nullptr)), -1);
  small.GetRecv(static_cast<char*>(nullptr));
}

TEST_F(EndpointTest, LengthsThatCannotHoldAChecksumAreRefused) {
  Peer peer;
  std::unique_ptr<UDP> udp;
  Captured c =
      Capture([&] { udp.reset(new UDP(0, "127.0.0.1", peer.port(), 3, -5, false, nonBlock)); });
  EXPECT_EQ(c.out,
            "[Error] UDP datagram lengths must be at least 4 bytes (send 3, receive -5); the "
            "endpoint is not set up.\n");
  EXPECT_EQ(udp->socketfd, -1);
  char text[8] = "abcdefg";
  EXPECT_EQ(udp->SetSend(text), -1);
  EXPECT_EQ(std::string(text), "abcdefg");
  EXPECT_EQ(udp->Send(), -1);
  EXPECT_EQ(udp->udpState.SendCount, 0u);
  EXPECT_EQ(udp->Recv(), -1);
  EXPECT_EQ(udp->supervision.idleCount, 0);  // a refused call advances nothing
  EXPECT_FALSE(peer.HasPending());

  // A deferred endpoint used before SetIpPort is refused the same way.
  UDP deferred(0, 129, 1087, false, nonBlock, true);
  EXPECT_EQ(deferred.Recv(), -1);
  HighCmd cmd{};
  EXPECT_EQ(deferred.SetSend(cmd), -1);
}

TEST_F(EndpointTest, SetIpPortRebindsTheSameLocalPort) {
  Peer first, second;
  const uint16_t port = UnusedPort();
  UDP udp(port, 129, 1087, false, nonBlock, true);
  udp.SetIpPort("127.0.0.1", first.port());
  EXPECT_TRUE(udp.connected);
  EXPECT_EQ(udp.targetIP, "127.0.0.1");
  EXPECT_EQ(BoundPort(udp.socketfd), port);
  udp.Send();
  EXPECT_EQ(first.Receive().size(), 129u);

  udp.udpState.RecvCount = 42;
  udp.supervision = LinkSupervision{7, 8, true, 3};
  const Captured c = Capture([&] { udp.SetIpPort("127.0.0.1", second.port()); });
  EXPECT_EQ(c.err, "");  // the old socket was released, so the bind succeeds
  EXPECT_EQ(BoundPort(udp.socketfd), port);
  EXPECT_EQ(udp.udpState.RecvCount, 0u);
  EXPECT_EQ(udp.supervision.idleCount, 0);  // the link's counts start afresh
  EXPECT_EQ(udp.supervision.disconnectCount, 0);
  EXPECT_FALSE(udp.supervision.relistenWindow);
  EXPECT_EQ(udp.targetPort, second.port());
  EXPECT_EQ(udp.Send(), 129);
  EXPECT_EQ(second.Receive().size(), 129u);
  EXPECT_FALSE(first.HasPending());
}
