// torvane-sim ends on SIGINT and on SIGTERM, streaming to a client or waiting in lockstep, with
// its closing tally printed. The grace is generous: the test asserts that it ends by itself, not
// how fast (a stop within a second is what its users rely on).
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "child_process/child_process.h"
#include "sim_command.h"
#include "torvane/udp.h"
#include "torvane_test/sim_process.h"

using namespace torvane_test;

namespace {

struct Case {
  int signal;
  std::vector<std::string> mode;
};

void ExpectEndsWithTally(const Case& c, bool with_client) {
  std::vector<std::string> argv = SimCommand();
  argv.insert(argv.end(),
              {"--level", "high", "--engine", "simple", "--port", "0", "--duration", "900"});
  argv.insert(argv.end(), c.mode.begin(), c.mode.end());
  torvane_child::ChildProcess sim(argv);
  ASSERT_TRUE(sim.running());
  std::string line;
  ASSERT_TRUE(sim.ReadUntil("level on", line, 30000));
  const uint16_t port = ListeningPort(line);
  ASSERT_NE(port, 0);
  std::unique_ptr<TORVANE::UDP> client;
  if (with_client) {
    client = std::make_unique<TORVANE::UDP>(TORVANE::HIGH_LEVEL_FLAG, 0, "127.0.0.1", port);
    TORVANE::HighCmd cmd{};
    client->InitCmdData(cmd);
    client->SetSend(cmd);
    client->Send();
    ASSERT_TRUE(sim.ReadUntil("[UDP Connected]", line, 30000));  // it streams to the client
  }
  const torvane_child::Ending ending = sim.Stop(c.signal, 30000);
  EXPECT_TRUE(ending.ended);
  EXPECT_FALSE(ending.killed) << "it did not end on signal " << c.signal;
  EXPECT_EQ(ending.exit_code, 0);
  std::string tally;
  for (const std::string& l : sim.Remaining()) tally += l + "\n";
  EXPECT_NE(tally.find("torvane-sim: "), std::string::npos) << tally;
  EXPECT_NE(tally.find(with_client ? " commands taken" : "0 commands taken"), std::string::npos)
      << tally;
  EXPECT_NE(tally.find("torvane-sim: rejected by reason:"), std::string::npos) << tally;
}

}  // namespace

TEST(SimSignal, EndsOnSigtermAndSigintWithItsTally) {
  for (const Case& c : {Case{SIGTERM, {}}, Case{SIGINT, {}}, Case{SIGTERM, {"--lockstep"}},
                        Case{SIGINT, {"--lockstep"}}}) {
    SCOPED_TRACE(c.signal);
    ExpectEndsWithTally(c, false);
  }
}

TEST(SimSignal, EndsOnSigtermWhileStreamingToAClient) {
  ExpectEndsWithTally(Case{SIGTERM, {}}, true);
  ExpectEndsWithTally(Case{SIGINT, {}}, true);
}
