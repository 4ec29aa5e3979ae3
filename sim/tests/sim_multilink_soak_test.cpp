// Four low-level links driven by one control thread against four emulators in lockstep, while
// a second thread packs commands on a fifth endpoint: every link sends only its own commands
// and receives only its own robot's states (digests at both ends), and when one emulator stops,
// only its link loses `accessible`, and it regains it once the emulator is back.
//
// TORVANE_SOAK_CYCLES overrides the cycles per link (fewer under the sanitizers).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "sim_command.h"
#include "torvane/packing.h"
#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

constexpr int kLinks = 4;
constexpr int kStopped = 2;       // the link whose emulator is stopped mid-run
constexpr int kStopCycles = 300;  // how long it stays away
constexpr float kAccessibleCalls = 50;

int Cycles() {
  const char* text = std::getenv("TORVANE_SOAK_CYCLES");
  const int cycles = text != nullptr ? std::atoi(text) : TORVANE_SOAK_DEFAULT_CYCLES;
  return cycles > 4 * kStopCycles ? cycles : 4 * kStopCycles;
}

// A command that is unique to its link and cycle in every motor slot; the mode bytes stay 10 in
// the legs so that the emulated robot stands, and the targets move a little.
void Fill(LowCmd& cmd, int link, int cycle) {
  for (int s = 0; s < 20; ++s) {
    MotorCmd& m = cmd.motorCmd[s];
    m.q = static_cast<float>(link) + static_cast<float>(cycle % 1000) * 1e-4f;
    m.dq = static_cast<float>(s);
    m.Kp = 20.0f + static_cast<float>(link);
    m.Kd = 1.0f;
    m.tau = static_cast<float>(cycle % 7) * 0.5f;
    m.reserve = {static_cast<uint32_t>(link), static_cast<uint32_t>(cycle), 0x5EEDu};
  }
  cmd.reserve = static_cast<uint32_t>(cycle);
}

uint64_t DigestOf(const LowCmd& cmd) {
  LowCmd_refine packed{};
  refineCmd(packed, cmd);
  return Digest(reinterpret_cast<const uint8_t*>(&packed), sizeof packed);
}

struct Link {
  uint16_t sim_port = 0;
  std::unique_ptr<SimProcess> sim;
  std::unique_ptr<UDP> udp;
  LowCmd cmd{};
  bool running = true;
  bool was_accessible = false;
  uint64_t states = 0;
};

// The fifth endpoint: packs its own commands as fast as it can and checks that what it sends is
// its own, and that the state it unpacks is its own (all zeros: it never receives).
class SideSender {
 public:
  SideSender() : udp_(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer_.port()) {}
  ~SideSender() { Stop(); }  // also when an assertion ends the test early
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int crossed() const { return crossed_; }
  int rounds() const { return rounds_; }

 private:
  void Run() {
    LowCmd cmd{};
    udp_.InitCmdData(cmd);
    LowState state{}, zero{};
    for (int i = 0; !stop_; ++i) {
      Fill(cmd, 99, i);
      udp_.SetSend(cmd);
      udp_.GetRecv(state);
      if (std::memcmp(&state, &zero, sizeof state) != 0) ++crossed_;
      if (i % 16 != 0) continue;  // on every 16th, look at what goes out
      if (udp_.Send() != LOW_CMD_LENGTH) {
        ++crossed_;
        continue;
      }
      const auto sent = peer_.Receive();
      if (sent.size() != static_cast<size_t>(LOW_CMD_LENGTH) ||
          Digest(sent.data(), sent.size()) != DigestOf(cmd)) {
        ++crossed_;
      }
      ++rounds_;
    }
  }

  Peer peer_;
  UDP udp_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> crossed_{0};
  std::atomic<int> rounds_{0};
};

}  // namespace

TEST(SimMultiLinkSoak, FourLinksStayApartAndOnlyTheStoppedOneLosesAccess) {
  const int cycles = Cycles();
  const int stop_at = cycles / 2;
  const int restart_at = stop_at + kStopCycles;
  detail::ResetTransportState();

  Link links[kLinks];
  for (int k = 0; k < kLinks; ++k) {
    Link& l = links[k];
    l.sim = std::make_unique<SimProcess>(SimCommand(), "low", std::vector<std::string>{});
    ASSERT_TRUE(l.sim->running());
    l.sim_port = l.sim->port();
    l.udp = std::make_unique<UDP>(LOW_LEVEL_FLAG, 0, "127.0.0.1", l.sim_port);
    l.udp->InitCmdData(l.cmd);
  }
  links[0].udp->SetAccessibleTime(1.0f, kAccessibleCalls);  // process-wide
  SideSender side;
  side.Start();

  std::vector<uint8_t> raw(LOW_STATE_LENGTH);
  LowState state{}, expected{};
  LowState_refine packed;
  int failures = 0;
  bool lost_access = false;
  for (int i = 0; i < cycles && failures < 10; ++i) {
    if (i == stop_at) {
      links[kStopped].sim->Stop();
      links[kStopped].running = false;
    }
    if (i == restart_at) {
      Link& l = links[kStopped];
      // Back on its old port, which the client is still connected to.
      l.sim =
          std::make_unique<SimProcess>(SimCommand(), "low", std::vector<std::string>{}, l.sim_port);
      ASSERT_TRUE(l.sim->running());
      l.running = true;
    }
    uint64_t sent_digest[kLinks];
    bool sent[kLinks];
    for (int k = 0; k < kLinks; ++k) {
      Link& l = links[k];
      Fill(l.cmd, k, i);
      l.udp->SetSend(l.cmd);
      sent_digest[k] = DigestOf(l.cmd);
      // The system reports a refusal by the stopped robot's port on one later call, which sends
      // nothing: try once more, as a control loop would on its next cycle.
      int result = l.udp->Send();
      if (result < 0 && l.running) result = l.udp->Send();
      sent[k] = result == LOW_CMD_LENGTH;
      if (l.running && !sent[k]) {
        ADD_FAILURE() << "cycle " << i << " link " << k << ": Send gave " << result;
        ++failures;
      }
    }
    for (int k = 0; k < kLinks; ++k) {
      Link& l = links[k];
      if (!l.running) {
        const int result = l.udp->Recv();
        if (result == 0) {
          ADD_FAILURE() << "cycle " << i << ": a state arrived from a stopped robot";
          ++failures;
        }
        lost_access = lost_access || !l.udp->accessible;
        continue;
      }
      if (!sent[k]) continue;
      uint64_t state_digest = 0, command_digest = 0;
      const std::string kind = l.sim->Answer(&state_digest, &command_digest);
      ASSERT_EQ(kind, "ok") << "cycle " << i << " link " << k;
      if (command_digest != sent_digest[k]) {
        ADD_FAILURE() << "cycle " << i << " link " << k << ": the robot got another command";
        ++failures;
      }
      ASSERT_TRUE(WaitReadable(l.udp->socketfd)) << "cycle " << i << " link " << k;
      const int result = l.udp->Recv();
      if (result != 0) {
        ADD_FAILURE() << "cycle " << i << " link " << k << ": Recv gave " << result;
        ++failures;
        continue;
      }
      l.udp->GetRecv(reinterpret_cast<char*>(raw.data()));
      l.udp->GetRecv(state);
      std::memcpy(&packed, raw.data(), sizeof packed);
      refineState(expected, packed);
      if (Digest(raw.data(), raw.size()) != state_digest ||
          std::memcmp(&state, &expected, sizeof state) != 0) {
        ADD_FAILURE() << "cycle " << i << " link " << k << ": a state not from its own robot";
        ++failures;
      }
      ++l.states;
      l.was_accessible = true;
    }
    // The three others stay accessible throughout; the stopped one only until its silence
    // passes the threshold, and again from its first state after the restart.
    for (int k = 0; k < kLinks; ++k) {
      const Link& l = links[k];
      const bool expect = k != kStopped || i < stop_at + static_cast<int>(kAccessibleCalls) ||
                          (i >= restart_at && l.states > 0);
      if (l.was_accessible && l.udp->accessible != expect) {
        ADD_FAILURE() << "cycle " << i << " link " << k << ": accessible is " << l.udp->accessible;
        ++failures;
      }
    }
  }
  side.Stop();
  EXPECT_TRUE(lost_access) << "the stopped robot's link never lost accessible";
  EXPECT_TRUE(links[kStopped].udp->accessible) << "the restarted robot's link is not back";
  for (int k = 0; k < kLinks; ++k) {
    const uint64_t expected_states =
        static_cast<uint64_t>(k == kStopped ? cycles - kStopCycles : cycles);
    EXPECT_EQ(links[k].states, expected_states) << "link " << k;
    EXPECT_EQ(links[k].udp->udpState.RecvCount, expected_states) << "link " << k;
  }
  EXPECT_EQ(side.crossed(), 0);
  EXPECT_GT(side.rounds(), 0);
}
