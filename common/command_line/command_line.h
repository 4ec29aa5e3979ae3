// One command-line parser for every program: each program declares a table of its options and
// gets the same words for the same mistakes, and its --help written from that table.
//
// Mistakes are reported in one line on standard error, "<program>: <words>: <subject>", then the
// program's own tail (a pointer to --help, say):
//   unknown option: --bogus            missing value for: --port
//   not a port (1..65535): 70000       --rate must be 1 to 10000 Hz, not: fast
//   --level must be high or low, not: middle
//   unexpected argument: stray         missing option: --level high|low
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace torvane_cli {

// What Parse returns, as the programs' main() reads it: run, or exit 0 (the help or the version
// printed), or exit 2 (a mistake reported).
enum Parsed : int { kRun = 0, kPrinted = 1, kBad = 2 };

// What is wrong with a value, as "<words>: <subject>" (the subject is the value itself unless a
// take function names something else).
struct Problem {
  std::string words;
  std::string subject;
};

// One row of a program's table.
struct Option {
  std::string name;  // "--port"; a positional argument: its placeholder ("FILE")
  std::string meta;  // placeholder of the value in the help ("P", "high|low"); empty: a flag
  std::string help;  // the help text: units and default included, lines split by '\n'; empty:
                     // the row is not shown
  bool takes_value = true;
  bool positional = false;
  bool required = false;  // missing: "missing option: <name> <meta>", "missing argument: <name>"
  bool ends = false;      // parsing stops after it, with kPrinted (--version)
  // Takes the value (null for a flag). Returns false with `problem` filled for a bad one; it
  // stores nothing then.
  std::function<bool(const char* value, Problem& problem)> take;
};

// The bounds of a number and how they are said: "1 to 10000 Hz", "above 0", "above 0 and at most
// 3600 s".
struct Bounds {
  double lowest = 0;
  double highest = 0;
  bool above = false;   // `lowest` itself is refused
  bool no_top = false;  // there is no `highest`
  const char* unit = nullptr;
  std::string Words() const;
};
Bounds Between(double lowest, double highest, const char* unit = nullptr);
Bounds Above(double lowest, const char* unit = nullptr);
Bounds AboveAtMost(double lowest, double highest, const char* unit = nullptr);

// Rows. `name` is "--something"; every kind says what it refuses in its own fixed words. A row
// keeps a reference to its field: parse while the fields live.
Option Flag(const char* name, const char* help, bool& out);
// Prints (the version, say) and ends parsing.
Option Stop(const char* name, const char* help, std::function<void()> print);
Option Text(const char* name, const char* meta, const char* help, std::string& out);
// A file name: refuses an empty one ('--log needs a file name: ""').
Option File(const char* name, const char* meta, const char* help, std::string& out);
// A directory this program can write into, checked now so that a file wanted later (a flight
// record after an incident) is not lost ("not a directory this program can write into: /x").
Option Directory(const char* name, const char* meta, const char* help, std::string& out);
// Dotted IPv4 ("not an IPv4 address: localhost").
Option Address(const char* name, const char* meta, const char* help, std::string& out);
// Decimal digits from `lowest` to 65535 ("not a port (1..65535): 70000").
Option Port(const char* name, const char* meta, const char* help, uint16_t& out,
            uint16_t lowest = 1);
// A whole number from `lowest` to `highest` ("--priority must be 1 to 99, not: 100"), handed
// to `store`.
Option Whole(const char* name, const char* meta, const char* help, uint64_t lowest,
             uint64_t highest, std::function<void(uint64_t)> store);
// A decimal number within `bounds` ("--rate must be 1 to 10000 Hz, not: fast"), handed to
// `store`.
Option Decimal(const char* name, const char* meta, const char* help, Bounds bounds,
               std::function<void(double)> store);
Option Decimal(const char* name, const char* meta, const char* help, Bounds bounds, double& out);
// One of the listed words, each with its number ("--level must be high or low, not: middle").
using Choices = std::vector<std::pair<std::string, int>>;
Option Choice(const char* name, const char* meta, const char* help, Choices choices,
              std::function<void(int)> store);
// Anything else: `take` checks and stores; a refused value reads "<words>: <value>".
Option Checked(const char* name, const char* meta, const char* help, const char* words,
               std::function<bool(const char*)> take);

// Whole numbers and choices into a field of any integer or enumeration type.
template <typename T>
Option Whole(const char* name, const char* meta, const char* help, uint64_t lowest,
             uint64_t highest, T& out) {
  return Whole(name, meta, help, lowest, highest, [&out](uint64_t v) { out = static_cast<T>(v); });
}
template <typename T>
Option Choice(const char* name, const char* meta, const char* help, Choices choices, T& out) {
  return Choice(name, meta, help, std::move(choices), [&out](int v) { out = static_cast<T>(v); });
}

// A positional argument: the row's name is its placeholder, taken in table order.
Option Positional(Option option);
// The same row, which must be given.
Option Required(Option option);

// What a program says about itself.
struct Program {
  std::string name;         // first word of every line it prints: "torvane-sim"
  std::string usage;        // the help's first line is "usage: <name> <usage>"
  std::string description;  // then this, as it is (blank lines included), then the rows
  size_t help_column = 0;   // where the rows' help texts start; 0: two past the longest
  std::string error_tail;   // after every mistake's words, on the same line
};

class CommandLine {
 public:
  CommandLine(Program program, std::vector<Option> options);

  // Reads argv[1..argc-1] into the table's fields: kRun, kPrinted after the help (--help, -h)
  // or a Stop row, kBad after one line saying what is wrong. An argument that starts with '-' is
  // an option; the word after an option that takes a value is its value, whatever it looks like.
  // Later occurrences of an option override earlier ones.
  int Parse(int argc, const char* const* argv);

  // The help: usage line, description, one row per option, --help last.
  std::string Help() const;

  // Reports a mistake the table cannot see (two options that exclude each other, say) in the
  // same form: one line, "<program>: <words>: <subject><tail>". Returns kBad.
  int Fail(const std::string& words, const std::string& subject) const;

  const std::string& name() const { return program_.name; }

  // Where the help and the mistakes go (tests point them elsewhere).
  std::FILE* out = stdout;
  std::FILE* err = stderr;

 private:
  const Option* Find(const char* name) const;

  Program program_;
  std::vector<Option> options_;
};

}  // namespace torvane_cli
