// The library's own operator new counts every allocation of the overlay's code (this library links its C++
// runtime in, so this replaces the operator for the library only, never for the game). One relaxed increment
// each: nothing a frame would notice.
#include "ingame/d3d8/allocation_count.h"

#include <cstdlib>
#include <new>

namespace ingame {

std::atomic<std::uint64_t> g_overlayAllocations{0};

}  // namespace ingame

void* operator new(std::size_t size) {
  ingame::g_overlayAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ingame::g_overlayAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
