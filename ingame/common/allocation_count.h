// How many times the overlay's code has allocated memory in this process, for the benchmarks' check that a frame
// with nothing new allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>

namespace ingame {

extern std::atomic<std::uint64_t> g_overlayAllocations;

}  // namespace ingame
