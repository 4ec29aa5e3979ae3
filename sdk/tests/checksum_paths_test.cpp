// Every processor-specific form of the checksum, each forced in turn, against the bitwise
// definition; and the run-time choice between them.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "torvane/checksum.h"
#include "torvane/packing.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/reference_checksum.h"
#include "torvane_testing/checksum_path.h"

#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

using namespace TORVANE;
using detail::ChecksumPath;
using torvane_test::BitwiseCrc;

namespace {

std::string Name(ChecksumPath path) {
  switch (path) {
    case ChecksumPath::Table:
      return "Table";
    case ChecksumPath::Clmul:
      return "Clmul";
    case ChecksumPath::Pmull:
      return "Pmull";
    case ChecksumPath::ArmCrc:
      return "ArmCrc";
  }
  return "?";
}

}  // namespace

namespace TORVANE::detail {
// Test names and messages show the path by name.
void PrintTo(ChecksumPath path, std::ostream* os) {
  *os << Name(path);
}
}  // namespace TORVANE::detail

namespace {

// Random bytes with room for every length up to 272 words at every offset up to 15.
const std::vector<uint8_t>& Bytes() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(272 * 4 + 16);
    std::mt19937 rng(2027);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  }();
  return bytes;
}

class EachChecksumPath : public ::testing::TestWithParam<ChecksumPath> {
 protected:
  void SetUp() override {
    if (!detail::checksum_path_available(GetParam())) {
      GTEST_SKIP() << Name(GetParam()) << " is not available in this build on this processor";
    }
  }
};

}  // namespace

TEST_P(EachChecksumPath, BitExactAtEveryLengthAndAlignment) {
  for (uint32_t words = 0; words <= 272; ++words) {
    for (size_t offset = 0; offset < 16; ++offset) {
      const uint8_t* p = Bytes().data() + offset;
      ASSERT_EQ(detail::crc32_path(GetParam(), reinterpret_cast<const uint32_t*>(p), words),
                BitwiseCrc(p, words))
          << "words " << words << " offset " << offset;
    }
  }
}

TEST_P(EachChecksumPath, CheckValuesAndAllOnesData) {
  const ChecksumPath path = GetParam();
  EXPECT_EQ(detail::crc32_path(path, nullptr, 0), 0xFFFFFFFFu);
  const uint32_t zero = 0;
  EXPECT_EQ(detail::crc32_path(path, &zero, 1), 0xC704DD7Bu);
  const char text[] = "abcdefgh";
  EXPECT_EQ(detail::crc32_path(path, reinterpret_cast<const uint32_t*>(text), 2), 0x18C4859Cu);
  // All-ones and all-zero datagrams drive every carry of the folding.
  for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
    const std::vector<uint8_t> rec(1087, fill);
    EXPECT_EQ(detail::crc32_path(path, reinterpret_cast<const uint32_t*>(rec.data()), 270),
              BitwiseCrc(rec.data(), 270))
        << int{fill};
  }
}

// With the path forced, the SDK's own stamping (crc32 through refineCmd) uses it and agrees.
TEST_P(EachChecksumPath, ForcedPathStampsTheSameDatagram) {
  const ChecksumPath before = detail::checksum_path();
  ASSERT_TRUE(detail::force_checksum_path(GetParam()));
  EXPECT_EQ(detail::checksum_path(), GetParam());
  LowCmd cmd{};
  cmd.head = {0xFE, 0xEF};
  cmd.levelFlag = LOW_LEVEL_FLAG;
  for (int i = 0; i < MOTOR_SLOTS; ++i) cmd.motorCmd[i].q = 0.1f * static_cast<float>(i);
  LowCmd_refine out{};
  refineCmd(out, cmd);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&out);
  EXPECT_EQ(torvane_test::ReadLE32(bytes + LOW_CMD_LENGTH - 4), BitwiseCrc(bytes, 152));
  ASSERT_TRUE(detail::force_checksum_path(before));
}

// The paths this architecture has code for; a processor without one of them skips it, saying so.
#if defined(__aarch64__)
#define TORVANE_PATHS ChecksumPath::Table, ChecksumPath::Pmull, ChecksumPath::ArmCrc
#elif defined(__x86_64__)
#define TORVANE_PATHS ChecksumPath::Table, ChecksumPath::Clmul
#else
#define TORVANE_PATHS ChecksumPath::Table
#endif
INSTANTIATE_TEST_SUITE_P(Checksum, EachChecksumPath, ::testing::Values(TORVANE_PATHS),
                         [](const ::testing::TestParamInfo<ChecksumPath>& info) {
                           return Name(info.param);
                         });

TEST(ChecksumPathChoice, UnavailablePathIsRefusedAndChangesNothing) {
  const ChecksumPath before = detail::checksum_path();
  for (ChecksumPath path :
       {ChecksumPath::Table, ChecksumPath::Clmul, ChecksumPath::Pmull, ChecksumPath::ArmCrc}) {
    if (detail::checksum_path_available(path)) continue;
    EXPECT_FALSE(detail::force_checksum_path(path)) << Name(path);
    EXPECT_EQ(detail::checksum_path(), before);
    // Asked for anyway, crc32_path answers through the table rather than fault.
    const uint8_t* p = Bytes().data() + 1;
    EXPECT_EQ(detail::crc32_path(path, reinterpret_cast<const uint32_t*>(p), 270),
              BitwiseCrc(p, 270));
  }
  EXPECT_TRUE(detail::checksum_path_available(ChecksumPath::Table));
}

#if defined(__aarch64__)
TEST(ChecksumPathChoice, ArmHardwareCapabilitiesChooseThePath) {
  EXPECT_EQ(detail::choose_checksum_path(HWCAP_PMULL | HWCAP_CRC32 | HWCAP_ASIMD),
            ChecksumPath::Pmull);
  // The folding leaves its remainder to the CRC32 instructions, so it needs both.
  EXPECT_EQ(detail::choose_checksum_path(HWCAP_PMULL), ChecksumPath::Table);
  EXPECT_EQ(detail::choose_checksum_path(HWCAP_CRC32 | HWCAP_AES), ChecksumPath::ArmCrc);
  EXPECT_EQ(detail::choose_checksum_path(HWCAP_FP | HWCAP_ASIMD), ChecksumPath::Table);
  EXPECT_EQ(detail::choose_checksum_path(0), ChecksumPath::Table);
  // The processor this runs on gets what its capabilities say.
  EXPECT_EQ(detail::checksum_path(), detail::choose_checksum_path(getauxval(AT_HWCAP)));
  std::printf("checksum path on this processor: %s\n", Name(detail::checksum_path()).c_str());
}
#else
TEST(ChecksumPathChoice, ArmCapabilitiesMeanNothingElsewhere) {
  EXPECT_EQ(detail::choose_checksum_path(~0ul), ChecksumPath::Table);
  EXPECT_NE(detail::checksum_path(), ChecksumPath::Pmull);
  EXPECT_NE(detail::checksum_path(), ChecksumPath::ArmCrc);
}
#endif
