// Children run through /bin/sh: their lines read with a deadline, their ends (by themselves, by
// the signal, by SIGKILL when the signal is ignored) always reaped within the bound.
#include "child_process/child_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using torvane_child::ChildOptions;
using torvane_child::ChildProcess;
using torvane_child::Ending;

namespace {

std::vector<std::string> Shell(const std::string& script) {
  return {"/bin/sh", "-c", script};
}

// True if `pid` is no child of this process any more (reaped, so not even a zombie).
bool Reaped(pid_t pid) {
  return waitpid(pid, nullptr, WNOHANG) < 0;
}

}  // namespace

TEST(ChildProcess, ReadsLinesInOrderAndTheEndOfOutput) {
  ChildProcess child(Shell("echo one; echo two; printf three"));
  ASSERT_TRUE(child.running());
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  EXPECT_EQ(line, "one");
  ASSERT_TRUE(child.ReadUntil("tw", line));
  EXPECT_EQ(line, "two");
  EXPECT_FALSE(child.ReadLine(line));  // the output ended without a newline
  const Ending e = child.Wait(10000);
  EXPECT_TRUE(e.ended);
  EXPECT_FALSE(e.killed);
  EXPECT_EQ(e.exit_code, 0);
  EXPECT_EQ(child.Remaining(), std::vector<std::string>{"three"});
}

TEST(ChildProcess, ReadLineGivesUpAtItsDeadline) {
  ChildProcess child(Shell("exec sleep 30"));
  std::string line;
  EXPECT_FALSE(child.ReadLine(line, 50));
  const Ending e = child.Stop(SIGTERM, 5000);
  EXPECT_TRUE(e.ended);
  EXPECT_FALSE(e.killed);
  EXPECT_EQ(e.signal, SIGTERM);
}

TEST(ChildProcess, OneThatIgnoresTheSignalIsKilledAfterTheGraceAndReaped) {
  ChildProcess child(Shell("trap '' TERM INT; echo ready; while :; do :; done"));
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  const pid_t pid = child.pid();
  const Ending e = child.Stop(SIGTERM, 200);
  EXPECT_TRUE(e.ended);
  EXPECT_TRUE(e.killed);
  EXPECT_EQ(e.signal, SIGKILL);
  EXPECT_FALSE(child.running());
  EXPECT_TRUE(Reaped(pid));
  EXPECT_EQ(child.Stop().signal, SIGKILL);  // a second stop reports the first
}

TEST(ChildProcess, WhatItPrintsOnItsWayOutIsKept) {
  ChildProcess child(
      Shell("trap 'echo tally 7; exit 3' INT; echo ready; while :; do sleep 0.01; done"));
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  const Ending e = child.Stop(SIGINT, 10000);
  EXPECT_FALSE(e.killed);
  EXPECT_EQ(e.exit_code, 3);
  EXPECT_EQ(child.Remaining(), std::vector<std::string>{"tally 7"});
}

TEST(ChildProcess, WaitStopsOneThatRunsPastTheLimit) {
  ChildProcess child(Shell("exec sleep 30"));
  const Ending e = child.Wait(50, 5000);
  EXPECT_TRUE(e.ended);
  EXPECT_EQ(e.signal, SIGTERM);
}

TEST(ChildProcess, OutputToAFileWithTheEnvironmentGiven) {
  char path[] = "/tmp/child_process_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ChildOptions options;
  options.output_path = path;
  options.extra_env = {"CHILD_TEST_WORD=kestrel"};
  options.merge_stderr = true;
  ChildProcess child(Shell("echo $CHILD_TEST_WORD; echo to-stderr >&2"), options);
  EXPECT_EQ(child.Wait(10000).exit_code, 0);
  EXPECT_EQ(child.OutputFile(), "kestrel\nto-stderr\n");
  std::remove(path);
}

TEST(ChildProcess, AProgramThatCannotStartIsNotRunning) {
  ChildProcess child({"/nonexistent/program"});
  EXPECT_FALSE(child.running());
  EXPECT_FALSE(child.Stop().ended);
  ChildProcess none({});
  EXPECT_FALSE(none.running());
}
