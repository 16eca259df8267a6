// Replaces the nothrow forms of operator new so that object creation in the toolkit
// (`new (std::nothrow) T`) takes part in the allocation-failure countdown. Linked as object code
// into every test program (see tests/CMakeLists.txt), never through the archive, so the linker
// cannot pick the runtime's own definition instead.
#include <new>

#include "support/failing_pools.h"

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (AllocationFailures::ShouldFail()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (AllocationFailures::ShouldFail()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
