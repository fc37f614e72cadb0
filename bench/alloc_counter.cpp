#include "alloc_counter.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
thread_local bool t_counting = false;
thread_local uint64_t t_allocations = 0;

inline void Count() {
  if (t_counting) ++t_allocations;
}
}  // namespace

// The executable's definitions take precedence over the C library's for every
// object of the process, the driver's shared object included.
extern "C" {
void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) {
  Count();
  return __libc_realloc(memory, size);
}
void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  Count();
  *out = __libc_memalign(alignment, size);
  return *out != nullptr ? 0 : 12;
}
void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
}

namespace bench {

void StartCountingAllocations() {
  t_allocations = 0;
  t_counting = true;
}

uint64_t StopCountingAllocations() {
  t_counting = false;
  return t_allocations;
}

}  // namespace bench
