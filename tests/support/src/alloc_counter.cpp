#include "torvane_test/alloc_counter.h"

#include <atomic>
#include <cstddef>

// glibc's own entry points, under the names it exports for this purpose.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
std::atomic<uint64_t> g_allocations{0};
}

extern "C" void* malloc(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}
extern "C" void free(void* p) {
  __libc_free(p);
}

namespace torvane_test {
uint64_t Allocations() {
  return g_allocations.load(std::memory_order_relaxed);
}
}  // namespace torvane_test
