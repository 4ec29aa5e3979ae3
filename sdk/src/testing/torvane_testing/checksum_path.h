// The forms of the packet checksum and the choice between them, for tests, benchmarks and
// fuzzers (target torvane::sdk_testing); not installed.
#pragma once

#include <cstdint>

namespace TORVANE {
namespace detail {

// The forms crc32 chooses between once, at its first call, by what the processor has: folding
// with carry-less multiply (x86-64 PCLMULQDQ, Clmul; 64-bit ARM PMULL, Pmull), the ARMv8 CRC32
// instructions (ArmCrc), the portable table (slicing by eight) elsewhere. All are bit-exact.
enum class ChecksumPath { Table, Clmul, Pmull, ArmCrc };

// The portable table form of crc32.
uint32_t crc32_table(const uint32_t* data, uint32_t len);

// Whether this build and this processor can run `path`.
bool checksum_path_available(ChecksumPath path);

// crc32 through `path`; through the table form if `path` is not available here.
uint32_t crc32_path(ChecksumPath path, const uint32_t* data, uint32_t len);

// The path crc32 uses.
ChecksumPath checksum_path();

// Makes crc32 use `path` from now on; false, and nothing changed, if it is not available.
bool force_checksum_path(ChecksumPath path);

// The path a 64-bit ARM processor with hardware capability word `hwcap` (getauxval(AT_HWCAP))
// gets: Pmull where it has both the polynomial multiply and the CRC32 instructions, else ArmCrc
// where it has the CRC32 instructions, else Table. Table on every other processor.
ChecksumPath choose_checksum_path(unsigned long hwcap);

}  // namespace detail
}  // namespace TORVANE
