#include "command_line/command_line.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "command_line/plain_number.h"

namespace torvane_cli {
namespace {

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

Option Row(const char* name, const char* meta, const char* help,
           std::function<bool(const char*, Problem&)> take) {
  Option o;
  o.name = name;
  o.meta = meta != nullptr ? meta : "";
  o.help = help != nullptr ? help : "";
  o.takes_value = meta != nullptr;
  o.take = std::move(take);
  return o;
}

bool Refuse(Problem& problem, std::string words, const char* subject) {
  problem.words = std::move(words);
  problem.subject = subject;
  return false;
}

}  // namespace

std::string Bounds::Words() const {
  std::string w;
  if (above) {
    w = "above " + Number(lowest);
    if (!no_top) w += " and at most " + Number(highest);
  } else if (no_top) {
    w = "at least " + Number(lowest);
  } else {
    w = Number(lowest) + " to " + Number(highest);
  }
  if (unit != nullptr) w += std::string(" ") + unit;
  return w;
}

Bounds Between(double lowest, double highest, const char* unit) {
  Bounds b;
  b.lowest = lowest;
  b.highest = highest;
  b.unit = unit;
  return b;
}

Bounds Above(double lowest, const char* unit) {
  Bounds b;
  b.lowest = lowest;
  b.above = true;
  b.no_top = true;
  b.unit = unit;
  return b;
}

Bounds AboveAtMost(double lowest, double highest, const char* unit) {
  Bounds b = Between(lowest, highest, unit);
  b.above = true;
  return b;
}

Option Flag(const char* name, const char* help, bool& out) {
  return Row(name, nullptr, help, [&out](const char*, Problem&) {
    out = true;
    return true;
  });
}

Option Stop(const char* name, const char* help, std::function<void()> print) {
  Option o = Row(name, nullptr, help, [print = std::move(print)](const char*, Problem&) {
    print();
    return true;
  });
  o.ends = true;
  return o;
}

Option Text(const char* name, const char* meta, const char* help, std::string& out) {
  return Row(name, meta, help, [&out](const char* v, Problem&) {
    out = v;
    return true;
  });
}

Option File(const char* name, const char* meta, const char* help, std::string& out) {
  const std::string words = std::string(name) + " needs a file name";
  return Row(name, meta, help, [&out, words](const char* v, Problem& p) {
    if (*v == '\0') return Refuse(p, words, "\"\"");
    out = v;
    return true;
  });
}

Option Directory(const char* name, const char* meta, const char* help, std::string& out) {
  return Row(name, meta, help, [&out](const char* v, Problem& p) {
    struct stat st {};
    if (*v == '\0' || stat(v, &st) != 0 || !S_ISDIR(st.st_mode) || access(v, W_OK | X_OK) != 0) {
      return Refuse(p, "not a directory this program can write into", *v == '\0' ? "\"\"" : v);
    }
    out = v;
    return true;
  });
}

Option Address(const char* name, const char* meta, const char* help, std::string& out) {
  return Row(name, meta, help, [&out](const char* v, Problem& p) {
    in_addr a{};
    if (inet_pton(AF_INET, v, &a) != 1) return Refuse(p, "not an IPv4 address", v);
    out = v;
    return true;
  });
}

Option Port(const char* name, const char* meta, const char* help, uint16_t& out, uint16_t lowest) {
  const std::string words = "not a port (" + std::to_string(lowest) + "..65535)";
  return Row(name, meta, help, [&out, lowest, words](const char* v, Problem& p) {
    return ParsePort(v, lowest, out) || Refuse(p, words, v);
  });
}

Option Whole(const char* name, const char* meta, const char* help, uint64_t lowest,
             uint64_t highest, std::function<void(uint64_t)> store) {
  std::string words = std::string(name) + " must be ";
  if (highest == UINT64_MAX) {
    words += lowest == 0 ? "a whole number" : "a whole number from " + std::to_string(lowest);
  } else {
    words += std::to_string(lowest) + " to " + std::to_string(highest);
  }
  words += ", not";
  return Row(name, meta, help,
             [lowest, highest, words, store = std::move(store)](const char* v, Problem& p) {
               uint64_t u = 0;
               if (!ParseWhole(v, u) || u < lowest || u > highest) return Refuse(p, words, v);
               store(u);
               return true;
             });
}

Option Decimal(const char* name, const char* meta, const char* help, Bounds bounds,
               std::function<void(double)> store) {
  const std::string words = std::string(name) + " must be " + bounds.Words() + ", not";
  return Row(name, meta, help,
             [bounds, words, store = std::move(store)](const char* v, Problem& p) {
               double d = 0;
               if (!ParseDecimal(v, d)) return Refuse(p, words, v);
               const bool low = bounds.above ? d > bounds.lowest : d >= bounds.lowest;
               if (!low || (!bounds.no_top && d > bounds.highest)) return Refuse(p, words, v);
               store(d);
               return true;
             });
}

Option Decimal(const char* name, const char* meta, const char* help, Bounds bounds, double& out) {
  return Decimal(name, meta, help, bounds, [&out](double d) { out = d; });
}

Option Choice(const char* name, const char* meta, const char* help, Choices choices,
              std::function<void(int)> store) {
  // "a or b", "a, b or c"
  std::string list;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) list += i + 1 == choices.size() ? " or " : ", ";
    list += choices[i].first;
  }
  const std::string words = std::string(name) + " must be " + list + ", not";
  return Row(
      name, meta, help,
      [choices = std::move(choices), words, store = std::move(store)](const char* v, Problem& p) {
        for (const auto& [word, number] : choices) {
          if (word == v) {
            store(number);
            return true;
          }
        }
        return Refuse(p, words, v);
      });
}

Option Checked(const char* name, const char* meta, const char* help, const char* words,
               std::function<bool(const char*)> take) {
  const std::string said = words;
  return Row(name, meta, help, [said, take = std::move(take)](const char* v, Problem& p) {
    return take(v) || Refuse(p, said, v);
  });
}

Option Positional(Option option) {
  option.positional = true;
  option.takes_value = true;
  return option;
}

Option Required(Option option) {
  option.required = true;
  return option;
}

CommandLine::CommandLine(Program program, std::vector<Option> options)
    : program_(std::move(program)), options_(std::move(options)) {}

const Option* CommandLine::Find(const char* name) const {
  for (const Option& o : options_) {
    if (!o.positional && o.name == name) return &o;
  }
  return nullptr;
}

int CommandLine::Fail(const std::string& words, const std::string& subject) const {
  std::fflush(out);
  std::fprintf(err, "%s: %s: %s%s\n", program_.name.c_str(), words.c_str(), subject.c_str(),
               program_.error_tail.c_str());
  std::fflush(err);
  return kBad;
}

int CommandLine::Parse(int argc, const char* const* argv) {
  std::vector<bool> seen(options_.size(), false);
  size_t next_positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      const std::string help = Help();
      std::fputs(help.c_str(), out);
      std::fflush(out);
      return kPrinted;
    }
    const Option* option = nullptr;
    const char* value = nullptr;
    if (arg[0] == '-') {
      option = Find(arg);
      if (option == nullptr) return Fail("unknown option", arg);
      if (option->takes_value) {
        if (i + 1 >= argc) return Fail("missing value for", arg);
        value = argv[++i];
      }
    } else {
      for (; next_positional < options_.size(); ++next_positional) {
        if (options_[next_positional].positional) break;
      }
      if (next_positional == options_.size()) return Fail("unexpected argument", arg);
      option = &options_[next_positional++];
      value = arg;
    }
    Problem problem;
    if (!option->take(value, problem)) return Fail(problem.words, problem.subject);
    seen[static_cast<size_t>(option - options_.data())] = true;
    if (option->ends) return kPrinted;
  }
  for (size_t k = 0; k < options_.size(); ++k) {
    const Option& o = options_[k];
    if (!o.required || seen[k]) continue;
    if (o.positional) return Fail("missing argument", o.name);
    return Fail("missing option", o.meta.empty() ? o.name : o.name + " " + o.meta);
  }
  return kRun;
}

std::string CommandLine::Help() const {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Option& o : options_) {
    if (o.help.empty()) continue;
    rows.emplace_back(o.positional || o.meta.empty() ? o.name : o.name + " " + o.meta, o.help);
  }
  rows.emplace_back("--help", "this text");
  size_t column = program_.help_column;
  if (column == 0) {
    for (const auto& row : rows) column = std::max(column, 2 + row.first.size() + 2);
  }
  std::string text = "usage: " + program_.name;
  if (!program_.usage.empty()) text += " " + program_.usage;
  text += "\n" + program_.description;
  for (const auto& [left, help] : rows) {
    std::string line = "  " + left;
    line.append(line.size() + 2 <= column ? column - line.size() : 2, ' ');
    // Continuation lines of the help start at the same column.
    for (char c : help) {
      line += c;
      if (c == '\n') line.append(column, ' ');
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace torvane_cli
