// The table-driven parser: every kind of row, every mistake's words, the generated help.
#include "command_line/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line/robot_models.h"

namespace torvane_cli {
namespace {

// Everything a table can hold, with the values it stored.
struct Fields {
  bool lockstep = false;
  std::string name = "none", file, address = "127.0.0.1";
  uint16_t port = 8082, any_port = 1;
  uint64_t seed = 1;
  int level = -1, priority = 0, model = 0;
  double rate = 500, wait = 1.5, deadline_s = 0.1;
  std::string checked;
  std::string positional;
  int versions = 0;
};

struct Outcome {
  int status;
  std::string out, err;
};

std::vector<Option> Table(Fields& f) {
  return {
      Choice("--level", "high|low", "protocol level", {{"high", 1}, {"low", 0}}, f.level),
      Flag("--lockstep", "one answer per command", f.lockstep),
      Text("--name", "NAME", "a name", f.name),
      File("--log", "FILE", "write to FILE", f.file),
      Address("--address", "A", "IPv4 address", f.address),
      Port("--port", "P", "UDP port (default 8082)", f.port),
      Port("--any-port", "P", "", f.any_port, 0),
      Whole("--seed", "N", "seed", 0, UINT64_MAX, f.seed),
      Whole("--priority", "N", "SCHED_FIFO priority 1..99", 1, 99, f.priority),
      Decimal("--rate", "HZ", "state rate (default 500)", Between(1, 10000, "Hz"), f.rate),
      Decimal("--wait", "S", "seconds", AboveAtMost(0, 3600, "s"), f.wait),
      Decimal("--deadline", "MS", "command deadline\n(default 100)", Above(0, "ms"),
              [&f](double ms) { f.deadline_s = ms / 1000; }),
      Model("zorvan|pellix|tamrin|vesko", f.model),
      Checked("--even", "N", "", "not an even number",
              [&f](const char* v) {
                if (std::strlen(v) != 1 || (v[0] - '0') % 2 != 0) return false;
                f.checked = v;
                return true;
              }),
      Stop("--version", "the version", [&f] { ++f.versions; }),
      Positional(Text("FILE", nullptr, "", f.positional)),
  };
}

Outcome Try(CommandLine& cli, std::vector<const char*> args) {
  args.insert(args.begin(), "prog");
  char* out_text = nullptr;
  char* err_text = nullptr;
  size_t out_size = 0, err_size = 0;
  cli.out = open_memstream(&out_text, &out_size);
  cli.err = open_memstream(&err_text, &err_size);
  const int status = cli.Parse(static_cast<int>(args.size()), args.data());
  std::fclose(cli.out);
  std::fclose(cli.err);
  Outcome o{status, out_text, err_text};
  std::free(out_text);
  std::free(err_text);
  return o;
}

Outcome Try(Fields& f, std::vector<const char*> args, std::string tail = "") {
  CommandLine cli({"prog", "[options]", "Does things.\n", 0, std::move(tail)}, Table(f));
  return Try(cli, std::move(args));
}

TEST(CommandLine, EveryKindStoresItsValue) {
  Fields f;
  const Outcome o =
      Try(f, {"--level",    "high",       "--lockstep",  "--name",   "",
              "--log",      "x.csv",      "--address",   "10.0.0.2", "--port",
              "65535",      "--any-port", "0",           "--seed",   "18446744073709551615",
              "--priority", "99",         "--rate",      "1",        "--wait",
              "3600",       "--deadline", "250",         "--model",  "vesko",
              "--even",     "4",          "capture.pcap"});
  ASSERT_EQ(o.status, kRun) << o.err;
  EXPECT_EQ(o.out + o.err, "");
  EXPECT_EQ(f.level, 1);
  EXPECT_TRUE(f.lockstep);
  EXPECT_EQ(f.name, "");
  EXPECT_EQ(f.file, "x.csv");
  EXPECT_EQ(f.address, "10.0.0.2");
  EXPECT_EQ(f.port, 65535);
  EXPECT_EQ(f.any_port, 0);
  EXPECT_EQ(f.seed, UINT64_MAX);
  EXPECT_EQ(f.priority, 99);
  EXPECT_EQ(f.rate, 1.0);
  EXPECT_EQ(f.wait, 3600.0);
  EXPECT_DOUBLE_EQ(f.deadline_s, 0.25);
  EXPECT_EQ(f.model, 3);
  EXPECT_EQ(f.checked, "4");
  EXPECT_EQ(f.positional, "capture.pcap");
}

TEST(CommandLine, NothingGivenLeavesTheDefaults) {
  Fields f;
  ASSERT_EQ(Try(f, {}).status, kRun);
  EXPECT_EQ(f.port, 8082);
  EXPECT_EQ(f.level, -1);
  EXPECT_FALSE(f.lockstep);
  EXPECT_EQ(f.positional, "");
}

TEST(CommandLine, ALaterOptionOverridesAnEarlierOne) {
  Fields f;
  ASSERT_EQ(
      Try(f, {"--port", "9000", "--level", "low", "--port", "9001", "--level", "high"}).status,
      kRun);
  EXPECT_EQ(f.port, 9001);
  EXPECT_EQ(f.level, 1);
}

// The words are the interface: every program says the same thing for the same mistake.
TEST(CommandLine, EveryMistakeInItsWords) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"--bogus"}, "prog: unknown option: --bogus\n"},
      {{"--bogus", "1"}, "prog: unknown option: --bogus\n"},
      {{"--level", "low", "--bogus"}, "prog: unknown option: --bogus\n"},
      {{"-x"}, "prog: unknown option: -x\n"},
      {{"-"}, "prog: unknown option: -\n"},
      {{"--port=8082"}, "prog: unknown option: --port=8082\n"},
      {{"--port"}, "prog: missing value for: --port\n"},
      {{"--level", "low", "--rate"}, "prog: missing value for: --rate\n"},
      {{"--port", "70000"}, "prog: not a port (1..65535): 70000\n"},
      {{"--port", "0"}, "prog: not a port (1..65535): 0\n"},
      {{"--port", "+8082"}, "prog: not a port (1..65535): +8082\n"},
      {{"--port", " 8082"}, "prog: not a port (1..65535):  8082\n"},
      {{"--port", ""}, "prog: not a port (1..65535): \n"},
      {{"--port", "--bogus"}, "prog: not a port (1..65535): --bogus\n"},
      {{"--any-port", "65536"}, "prog: not a port (0..65535): 65536\n"},
      {{"--rate", "fast"}, "prog: --rate must be 1 to 10000 Hz, not: fast\n"},
      {{"--rate", "0"}, "prog: --rate must be 1 to 10000 Hz, not: 0\n"},
      {{"--rate", "nan"}, "prog: --rate must be 1 to 10000 Hz, not: nan\n"},
      {{"--rate", "inf"}, "prog: --rate must be 1 to 10000 Hz, not: inf\n"},
      {{"--rate", "1e999"}, "prog: --rate must be 1 to 10000 Hz, not: 1e999\n"},
      {{"--rate", "0x10"}, "prog: --rate must be 1 to 10000 Hz, not: 0x10\n"},
      {{"--rate", "+1"}, "prog: --rate must be 1 to 10000 Hz, not: +1\n"},
      {{"--wait", "0"}, "prog: --wait must be above 0 and at most 3600 s, not: 0\n"},
      {{"--wait", "3600.5"}, "prog: --wait must be above 0 and at most 3600 s, not: 3600.5\n"},
      {{"--deadline", "-1"}, "prog: --deadline must be above 0 ms, not: -1\n"},
      {{"--seed", "-1"}, "prog: --seed must be a whole number, not: -1\n"},
      {{"--seed", "18446744073709551616"},
       "prog: --seed must be a whole number, not: 18446744073709551616\n"},
      {{"--priority", "100"}, "prog: --priority must be 1 to 99, not: 100\n"},
      {{"--priority", "0"}, "prog: --priority must be 1 to 99, not: 0\n"},
      {{"--priority", " 1"}, "prog: --priority must be 1 to 99, not:  1\n"},
      {{"--level", "middle"}, "prog: --level must be high or low, not: middle\n"},
      {{"--level", "HIGH"}, "prog: --level must be high or low, not: HIGH\n"},
      {{"--model", "cat"}, "prog: --model must be zorvan, pellix, tamrin or vesko, not: cat\n"},
      {{"--model", ""}, "prog: --model must be zorvan, pellix, tamrin or vesko, not: \n"},
      {{"--address", "localhost"}, "prog: not an IPv4 address: localhost\n"},
      {{"--address", "10.0.0.256"}, "prog: not an IPv4 address: 10.0.0.256\n"},
      {{"--log", ""}, "prog: --log needs a file name: \"\"\n"},
      {{"--even", "3"}, "prog: not an even number: 3\n"},
      {{"a.pcap", "b.pcap"}, "prog: unexpected argument: b.pcap\n"},
  };
  for (const auto& [args, words] : cases) {
    Fields f;
    const Outcome o = Try(f, args);
    EXPECT_EQ(o.status, kBad) << words;
    EXPECT_EQ(o.err, words);
    EXPECT_EQ(o.out, "") << words;
  }
}

TEST(CommandLine, AMistakeStoresNothingAndStopsThere) {
  Fields f;
  EXPECT_EQ(Try(f, {"--port", "9000", "--rate", "fast", "--seed", "5"}).status, kBad);
  EXPECT_EQ(f.port, 9000);  // taken before the mistake
  EXPECT_EQ(f.rate, 500.0);
  EXPECT_EQ(f.seed, 1u);  // never reached
}

TEST(CommandLine, TheProgramsTailEndsTheSameLine) {
  Fields f;
  const Outcome o = Try(f, {"--bogus"}, " (see prog --help)");
  EXPECT_EQ(o.err, "prog: unknown option: --bogus (see prog --help)\n");
  CommandLine cli({"prog", "", "", 0, " (see prog --help)"}, {});
  char* text = nullptr;
  size_t size = 0;
  cli.err = open_memstream(&text, &size);
  EXPECT_EQ(cli.Fail("missing option", "--level high|low"), kBad);
  std::fclose(cli.err);
  EXPECT_STREQ(text, "prog: missing option: --level high|low (see prog --help)\n");
  std::free(text);
}

TEST(CommandLine, RequiredRowsAreNamedWhenMissing) {
  std::string level, file;
  CommandLine options({"prog", "", "", 0, ""},
                      {Required(Text("--level", "high|low", "level", level))});
  EXPECT_EQ(Try(options, {}).err, "prog: missing option: --level high|low\n");
  EXPECT_EQ(Try(options, {"--level", "x"}).status, kRun);
  CommandLine positional({"prog", "", "", 0, ""},
                         {Required(Positional(Text("FILE", nullptr, nullptr, file)))});
  const Outcome o = Try(positional, {});
  EXPECT_EQ(o.status, kBad);
  EXPECT_EQ(o.err, "prog: missing argument: FILE\n");
  EXPECT_EQ(Try(positional, {"x.pcap"}).status, kRun);
  EXPECT_EQ(file, "x.pcap");
}

TEST(CommandLine, HelpAndStopRowsPrintAndEnd) {
  for (const char* help : {"--help", "-h"}) {
    Fields f;
    const Outcome o = Try(f, {"--port", "9000", help, "--bogus"});
    EXPECT_EQ(o.status, kPrinted);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out.rfind("usage: prog [options]\nDoes things.\n", 0), 0u) << o.out;
  }
  Fields f;
  EXPECT_EQ(Try(f, {"--version", "--bogus"}).status, kPrinted);
  EXPECT_EQ(f.versions, 1);
  // A value is a value, even when it reads "--help".
  Fields g;
  EXPECT_EQ(Try(g, {"--name", "--help"}).status, kRun);
  EXPECT_EQ(g.name, "--help");
}

TEST(CommandLine, HelpIsWrittenFromTheTable) {
  Fields f;
  CommandLine cli({"prog", "--level high|low [options]", "\nDoes things.\n\n", 0, ""}, Table(f));
  EXPECT_EQ(cli.Help(),
            "usage: prog --level high|low [options]\n"
            "\n"
            "Does things.\n"
            "\n"
            "  --level high|low  protocol level\n"
            "  --lockstep        one answer per command\n"
            "  --name NAME       a name\n"
            "  --log FILE        write to FILE\n"
            "  --address A       IPv4 address\n"
            "  --port P          UDP port (default 8082)\n"
            "  --seed N          seed\n"
            "  --priority N      SCHED_FIFO priority 1..99\n"
            "  --rate HZ         state rate (default 500)\n"
            "  --wait S          seconds\n"
            "  --deadline MS     command deadline\n"
            "                    (default 100)\n"
            "  --model NAME      zorvan|pellix|tamrin|vesko\n"
            "  --version         the version\n"
            "  --help            this text\n");
  // A fixed column; a row longer than it keeps two spaces.
  CommandLine narrow({"p", "", "", 12, ""}, {Flag("--a-long-flag", "x\ny", f.lockstep)});
  EXPECT_EQ(narrow.Help(),
            "usage: p\n"
            "  --a-long-flag  x\n"
            "            y\n"
            "  --help    this text\n");
}

// A flight record is written after an incident, long after the command line: a directory that
// cannot take it is refused up front.
TEST(CommandLine, DirectoryMustBeWritable) {
  std::string dir = "unset";
  const auto parse = [&dir](const char* value) {
    CommandLine cli({"prog", "[options]", "", 0, ""},
                    {Directory("--record-dir", "DIR", "where records go", dir)});
    return Try(cli, {"--record-dir", value});
  };
  const std::string tmp = ::testing::TempDir();
  EXPECT_EQ(parse(tmp.c_str()).status, kRun);
  EXPECT_EQ(dir, tmp);
  dir = "unset";
  for (const char* bad : {"", "/nonexistent/dir", "/dev/null"}) {
    const Outcome o = parse(bad);
    EXPECT_EQ(o.status, kBad) << bad;
    EXPECT_NE(o.err.find("not a directory this program can write into: "), std::string::npos)
        << o.err;
    EXPECT_EQ(dir, "unset") << "a refused directory is not stored";
  }
}

TEST(RobotModels, NamesAndNumbers) {
  static_assert(kRobotModelCount == 4);
  enum class Wrong { A = 0, B = 2, C = 1, D = 3 };
  enum class Right : int { A, B, C, D };
  static_assert(ModelsNumberedAs({Right::A, Right::B, Right::C, Right::D}));
  static_assert(!ModelsNumberedAs({Wrong::A, Wrong::B, Wrong::C, Wrong::D}));
  static_assert(!ModelsNumberedAs({Right::A, Right::B, Right::C}));
  const char* const names[] = {"zorvan", "pellix", "tamrin", "vesko"};
  for (int k = 0; k < 4; ++k) {
    Fields f;
    f.model = -1;
    ASSERT_EQ(Try(f, {"--model", names[k]}).status, kRun);
    EXPECT_EQ(f.model, k);
  }
}

}  // namespace
}  // namespace torvane_cli
