// Numbers as the command line takes them: plain decimal and nothing else.
#include "command_line/plain_number.h"

#include <gtest/gtest.h>

#include <cmath>

namespace torvane_cli {
namespace {

TEST(PlainNumber, WholeNumbers) {
  uint64_t v = 7;
  EXPECT_TRUE(ParseWhole("0", v));
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(ParseWhole("007", v));
  EXPECT_EQ(v, 7u);
  EXPECT_TRUE(ParseWhole("18446744073709551615", v));
  EXPECT_EQ(v, UINT64_MAX);
  for (const char* bad : {"", "+1", "-1", " 1", "1 ", "0x10", "1e3", "1.0", "18446744073709551616",
                          "99999999999999999999999999", "\xef\xbc\x91", "1\n"}) {
    v = 7;
    EXPECT_FALSE(ParseWhole(bad, v)) << '"' << bad << '"';
    EXPECT_EQ(v, 7u) << "a refused number stores nothing";
  }
  EXPECT_FALSE(ParseWhole(nullptr, v));
}

TEST(PlainNumber, PortsAreDecimalDigitsWithinTheirRange) {
  uint16_t p = 9;
  EXPECT_TRUE(ParsePort("8082", 1, p));
  EXPECT_EQ(p, 8082);
  EXPECT_TRUE(ParsePort("65535", 1, p));
  EXPECT_EQ(p, 65535);
  EXPECT_TRUE(ParsePort("0", 0, p));
  EXPECT_EQ(p, 0);
  for (const char* bad : {"0", "65536", "70000", "+8082", " 8082", "8082 ", "0x1f92", "8082.0",
                          "-1", "", "18446744073709551617"}) {
    p = 9;
    EXPECT_FALSE(ParsePort(bad, 1, p)) << '"' << bad << '"';
    EXPECT_EQ(p, 9);
  }
}

TEST(PlainNumber, Decimals) {
  double d = 0;
  const std::pair<const char*, double> good[] = {{"0", 0},      {"500", 500},     {"0.5", 0.5},
                                                 {".5", 0.5},   {"5.", 5},        {"-1.5", -1.5},
                                                 {"1e3", 1000}, {"2.5E-1", 0.25}, {"1e+2", 100}};
  for (const auto& [text, value] : good) {
    EXPECT_TRUE(ParseDecimal(text, d)) << text;
    EXPECT_EQ(d, value) << text;
  }
  for (const char* bad : {"",      "-",   ".",   "+1",    " 1",       "1 ",    "0x10", "0x1p3",
                          "nan",   "NaN", "inf", "-inf",  "infinity", "1e",    "1e+",  "e5",
                          "1.2.3", "1,5", "--1", "1e400", "-1e400",   "1e-400"}) {
    d = 42;
    EXPECT_FALSE(ParseDecimal(bad, d)) << '"' << bad << '"';
    EXPECT_EQ(d, 42) << "a refused number stores nothing";
  }
  EXPECT_FALSE(ParseDecimal(nullptr, d));
}

}  // namespace
}  // namespace torvane_cli
