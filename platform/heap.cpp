#include "platform/heap.h"

#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace scrivane::platform {

void PrepareHeapForConversion() {
#if defined(__linux__) && defined(__GLIBC__)
  // Address space only: pages are taken as they are first touched.
  constexpr int kStep = 16 << 20;
  // Blocks up to this size come from the heap instead of mappings of their
  // own, which would be touched page by page and unmapped when freed; larger
  // ones (a long line held whole) keep mappings of their own, which grow in
  // place and go back when freed.
  constexpr int kLargest = 1 << 20;
  // Freed room at the heap's end is kept.
  mallopt(M_TRIM_THRESHOLD, 4 * kStep);
  // The threads' blocks from this heap as well, rather than from arenas of
  // their own that would be touched page by page again.
  mallopt(M_ARENA_MAX, 1);
  // Grow the heap now by a step (a block of that size, from the heap for the
  // moment, freed at once) and ask for huge pages in what it grew by; what it
  // grows by later is not marked, and is only slower to touch.
  const long page = ::sysconf(_SC_PAGESIZE);
  void* const before = ::sbrk(0);
  if (page <= 0 || before == reinterpret_cast<void*>(-1)) return;
  mallopt(M_MMAP_THRESHOLD, 2 * kStep);
  void* const block = std::malloc(kStep);
  mallopt(M_MMAP_THRESHOLD, kLargest);
  if (block == nullptr) return;
  void* const after = ::sbrk(0);
  const auto mask = static_cast<std::uintptr_t>(page) - 1;
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(before) + mask) & ~mask;
  const auto to = reinterpret_cast<std::uintptr_t>(after);
  // Refused where transparent huge pages are off: the heap stays as it was.
  if (after != reinterpret_cast<void*>(-1) && to > from) {
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  }
  std::free(block);
#endif
}

}  // namespace scrivane::platform
