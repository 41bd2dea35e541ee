// The library's own operator new and delete (this library links its C++ runtime in, so they replace the operators
// for the library only, never for the game). Every object of the overlay's code lives on a heap of the overlay's
// own, never on the process heap the game's C runtime allocates from: what the overlay's worker makes while the
// game runs would otherwise land between the game's own allocations, and move them from run to run. Each allocation
// is counted, one relaxed increment each: nothing a frame would notice.
#include "ingame/common/allocation_count.h"

#include <windows.h>

#include <new>

namespace ingame {

std::atomic<std::uint64_t> g_overlayAllocations{0};

namespace {

// Made at the first allocation and kept for the process's life, like the library. Serialized by the system: the
// render thread and the worker both allocate.
HANDLE OverlayHeap() {
  static const HANDLE heap = HeapCreate(0, 0, 0);
  return heap;
}

void* Allocate(std::size_t size) noexcept {
  g_overlayAllocations.fetch_add(1, std::memory_order_relaxed);
  const HANDLE heap = OverlayHeap();
  return heap ? HeapAlloc(heap, 0, size == 0 ? 1 : size) : nullptr;
}

void Free(void* memory) noexcept {
  if (memory) HeapFree(OverlayHeap(), 0, memory);
}

}  // namespace
}  // namespace ingame

void* operator new(std::size_t size) {
  if (void* memory = ingame::Allocate(size)) return memory;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return ingame::Allocate(size); }

void operator delete(void* memory) noexcept { ingame::Free(memory); }
void operator delete(void* memory, std::size_t) noexcept { ingame::Free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { ingame::Free(memory); }
