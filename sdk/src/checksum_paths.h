// The processor-specific forms of the packet checksum, shared between the portable source and
// the ARM one. Each takes bytes (words read little-endian from any alignment) and a word count,
// handles every length, and is bit-exact with the bitwise definition.
#pragma once

#include <cstdint>

#if defined(__aarch64__) && defined(__AARCH64EL__) && defined(__GNUC__)
#define TORVANE_HAVE_ARM_PATHS 1
#endif

namespace TORVANE {
namespace detail {

#if TORVANE_HAVE_ARM_PATHS
// Folding with the 64-bit polynomial multiply (PMULL, crypto extension), the remainder with the
// CRC32 instructions: needs both.
uint32_t PmullWords(const unsigned char* p, uint32_t len);
// The ARMv8 CRC32 instructions, on bit-reversed words.
uint32_t ArmCrcWords(const unsigned char* p, uint32_t len);
// Which of the two this processor has, from the kernel's hardware capability word.
bool HwcapHasPmull(unsigned long hwcap);
bool HwcapHasCrc32(unsigned long hwcap);
#endif

}  // namespace detail
}  // namespace TORVANE
