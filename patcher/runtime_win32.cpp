// The parts of the C++ runtime that the patcher uses, without the exception machinery: the
// library's nothrow new is built on the throwing one, which drags in unwinding, the verbose
// terminate handler and its demangler (most of a 180 KB executable). Here allocation failure is
// a null result, which every caller checks.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) std::abort();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

extern "C" void __cxa_pure_virtual() { std::abort(); }
