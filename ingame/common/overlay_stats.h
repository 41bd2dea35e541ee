// What one game's overlay counts for the benchmarks: frames, textures made and filled, memory allocated, and
// for each slot of the shared state the first present that used the slot's latest version. Kept in a section
// named after the game's process (StatsSectionName), made only when the game runs with the environment variable
// VA_VAZU_OVERLAY_STATS set. Window-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace ingame {

inline constexpr char kStatsVariable[] = "VA_VAZU_OVERLAY_STATS";

enum StatsSlot { kLineSlot, kBlockSlot, kPictureSlot, kSwitchesSlot, kStatsSlotCount };

inline constexpr int kWorkSteps = 100;
inline constexpr std::uint64_t kWorkStepMicroseconds = 100;

// Raises a counter of a longest time to `value` when that is longer.
inline void KeepLongest(std::atomic<std::uint64_t>& longest, std::uint64_t value) {
  std::uint64_t seen = longest.load(std::memory_order_relaxed);
  while (value > seen && !longest.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

struct OverlayStats {
  std::atomic<std::uint64_t> presents;       // presents the device finished
  std::atomic<std::uint64_t> presentsBegun;  // presents the game asked for, counted as the overlay reads the state
  std::atomic<std::uint64_t> texturesCreated;
  std::atomic<std::uint64_t> texturesFilled;
  std::atomic<std::uint64_t> allocations;
  // Time spent in the overlay's own work before each present, and in the device's present itself, in
  // microseconds: where a frame's time goes.
  std::atomic<std::uint64_t> overlayMicroseconds;
  std::atomic<std::uint64_t> presentMicroseconds;
  // The longest of the overlay's own work before one present, and of its parts: uploading images into textures,
  // and drawing (saving and restoring the game's states included).
  std::atomic<std::uint64_t> longestOverlayMicroseconds;
  std::atomic<std::uint64_t> longestUploadMicroseconds;
  std::atomic<std::uint64_t> longestDrawMicroseconds;
  // How many presents took the overlay's work so long, in steps of kWorkStepMicroseconds; the last counts the rest.
  std::atomic<std::uint32_t> workHistogram[kWorkSteps];
  // The same less the time spent locking and unlocking the staging textures the uploads fill: what would show a
  // lock that waits for the device to catch up with the frames it has queued.
  std::atomic<std::uint64_t> longestUnlockedMicroseconds;
  std::atomic<std::uint32_t> unlockedHistogram[kWorkSteps];
  // The frame-rate figure as the overlay last worked it out.
  std::atomic<std::uint32_t> fps;
  // The sequence number of each slot as the last present drew it, and the counts of presents finished and begun
  // (that one included) when that version was first drawn.
  std::atomic<std::uint32_t> drawnSequence[kStatsSlotCount];
  std::atomic<std::uint64_t> drawnAtPresent[kStatsSlotCount];
  std::atomic<std::uint64_t> drawnAtBegun[kStatsSlotCount];
};

inline std::string StatsSectionName(unsigned long processId) {
  return "Local\\va_vazu.overlay.1.stats." + std::to_string(processId);
}

}  // namespace ingame
